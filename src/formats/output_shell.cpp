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

WriteOutcome WriteOutputFile(ConverterHost& host, const std::string& outputPath,
                             const std::string& sourcePath, const MemoryBlock& source,
                             const std::function<bool(OutputFile&)>& write) {
  OutputFile file;
  if (!file.Create(outputPath, sourcePath)) {
    return WriteOutcome::kCannotCreate;
  }
  const bool written = write(file);
  // On each early return the temporary file goes with `file`.
  if (source.Damaged() || file.FailedReadingSource()) {
    return WriteOutcome::kSourceDamaged;
  }
  if (!written) {
    return WriteOutcome::kCannotWrite;
  }
  if (!host.OutputStillWanted()) {
    return WriteOutcome::kNotWanted;
  }
  return file.Commit() ? WriteOutcome::kWritten : WriteOutcome::kCannotWrite;
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
    case WriteOutcome::kNotWanted:
      return false;
  }
  return false;
}

}  // namespace kav
