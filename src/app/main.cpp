// KAV Graphic Converter: the dialog that converts BMP and PNG images to MZR, RLE
// and RLS files.

#include <csignal>
#include <optional>
#include <string>
#include <vector>

#include "app/command_line.h"
#include "app/converter_app.h"
#include "platform/file.h"
#include "platform/standard_descriptors.h"

int main(int argc, char** argv) {
  // First of all: no output file may take the number of a closed standard descriptor, where
  // messages meant for the terminal would land in it. Without /dev/null it runs as it can.
  kav::OpenClosedStandardDescriptors();
  // --help, --version, usage errors and the lack of a display are answered before Qt starts.
  const kav::CommandLine line = kav::ReadCommandLine(std::vector<std::string>(argv, argv + argc));
  if (const std::optional<int> status = kav::AnswerBeforeWindow(line)) {
    return *status;
  }
  // As in kavconv: a write beyond the file size limit fails with "Cannot write output file",
  // a write to a pipe nobody reads fails instead of ending the program, and a batch ended by
  // a signal (a closing session) leaves no temporary file behind.
  std::signal(SIGXFSZ, SIG_IGN);
  std::signal(SIGPIPE, SIG_IGN);
  kav::InstallInterruptCleanup();
  kav::RaiseOpenFileLimit();
  kav::ConverterApp app(argv[0]);
  app.InitInstance(line.files);
  return 0;
}
