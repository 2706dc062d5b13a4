#include "formats/output_shell.h"

#include "bmp/bmp_reader.h"

namespace kav {

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
