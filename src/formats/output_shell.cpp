#include "formats/output_shell.h"

#include "bmp/bmp_reader.h"

namespace kav {

std::optional<BitmapView> LoadSource(ConverterHost& host, const std::string& sourcePath,
                                     LoadedBitmap& bitmap, std::string_view loadErrorStatus) {
  std::optional<BitmapView> view;
  if (ReadBmp8(sourcePath, host, bitmap) == kBmpOk) {
    view = ViewBitmap(bitmap);
  }
  if (!view) {
    bitmap.block.Release();
    host.SetStatusText(std::string(loadErrorStatus));
  }
  return view;
}

WriteOutcome WriteOutputFile(const std::string& outputPath, const std::string& sourcePath,
                             const MemoryBlock& source,
                             const std::function<bool(OutputFile&)>& write) {
  OutputFile file;
  if (!file.Create(outputPath, sourcePath)) {
    return WriteOutcome::kCannotCreate;
  }
  const bool written = write(file);
  if (source.Damaged() || file.FailedReadingSource()) {
    return WriteOutcome::kSourceDamaged;  // the file is abandoned with `file`
  }
  if (!written || !file.Commit()) {
    return WriteOutcome::kCannotWrite;
  }
  return WriteOutcome::kWritten;
}

bool ReportWriteOutcome(ConverterHost& host, WriteOutcome outcome,
                        std::string_view loadErrorStatus) {
  switch (outcome) {
    case WriteOutcome::kWritten:
      return true;
    case WriteOutcome::kCannotCreate:
      host.ShowError(MessageOwner::kMainDialog, kCannotCreateText);
      return false;
    case WriteOutcome::kCannotWrite:
      host.ShowError(MessageOwner::kMainDialog, kCannotWriteText);
      return false;
    case WriteOutcome::kSourceDamaged:
      host.ShowError(MessageOwner::kNone, kBmpCorruptText);
      host.SetStatusText(std::string(loadErrorStatus));
      return false;
  }
  return false;
}

}  // namespace kav
