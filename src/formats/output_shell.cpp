#include "formats/output_shell.h"

#include "bmp/bmp_reader.h"
#include "platform/format_text.h"

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

bool RefuseTooLarge(ConverterHost& host, LoadedBitmap& bitmap) {
  bitmap.block.Release();
  host.ShowError(MessageOwner::kMainDialog, kTooLargeText);
  return false;
}

WriteOutcome WriteOutputFile(ConverterHost& host, const std::string& outputPath,
                             const std::string& sourcePath, const MemoryBlock& source,
                             const std::function<bool(OutputFile&)>& write, int* error) {
  OutputFile file;
  const auto failed = [&file, error](WriteOutcome outcome) {
    if (error != nullptr) {
      *error = file.LastError();
    }
    return outcome;
  };
  if (!file.Create(outputPath, sourcePath)) {
    return failed(WriteOutcome::kCannotCreate);
  }
  const bool written = write(file);
  // On each early return the temporary file goes with `file`.
  if (source.Damaged() || file.FailedReadingSource()) {
    return failed(WriteOutcome::kSourceDamaged);
  }
  if (!written) {
    return failed(WriteOutcome::kCannotWrite);
  }
  if (!host.OutputStillWanted()) {
    return WriteOutcome::kNotWanted;
  }
  return failed(file.Commit() ? WriteOutcome::kWritten : WriteOutcome::kCannotWrite);
}

bool ReportWriteOutcome(ConverterHost& host, WriteOutcome outcome, std::string_view loadErrorStatus,
                        int error) {
  const std::string cause = error != 0 ? SystemErrorText(error) : "";
  switch (outcome) {
    case WriteOutcome::kWritten:
      return true;
    case WriteOutcome::kCannotCreate:
      host.ShowError(MessageOwner::kMainDialog, kCannotCreateText, cause);
      return false;
    case WriteOutcome::kCannotWrite:
      host.ShowError(MessageOwner::kMainDialog, kCannotWriteText, cause);
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
