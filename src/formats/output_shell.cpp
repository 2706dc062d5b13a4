#include "formats/output_shell.h"

namespace kav {

WriteOutcome WriteOutputFile(const std::string& outputPath, const std::string& sourcePath,
                             const std::function<void(ByteSink&)>& encode) {
  OutputFile file;
  if (!file.Create(outputPath, sourcePath)) {
    return WriteOutcome::kCannotCreate;
  }
  FileSink sink(file);
  encode(sink);
  if (!sink.Flush() || !file.Commit()) {
    return WriteOutcome::kCannotWrite;
  }
  return WriteOutcome::kWritten;
}

bool ReportWriteOutcome(ConverterHost& host, WriteOutcome outcome) {
  switch (outcome) {
    case WriteOutcome::kWritten:
      return true;
    case WriteOutcome::kCannotCreate:
      host.ShowError(MessageOwner::kMainDialog, kCannotCreateText);
      return false;
    case WriteOutcome::kCannotWrite:
      host.ShowError(MessageOwner::kMainDialog, kCannotWriteText);
      return false;
  }
  return false;
}

}  // namespace kav
