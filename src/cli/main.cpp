// kavconv: converts BMP and PNG images to MZR, RLE and RLS files, and inspects and
// renders the converted files. The program is RunKavconv; this is what belongs to its process.

#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <iostream>

#include "cli/commands.h"
#include "cli/kavconv.h"
#include "cli/standard_output.h"
#include "platform/file.h"
#include "platform/format_text.h"
#include "platform/standard_descriptors.h"

int main(int argc, char** argv) {
  // First of all: no output file may take the number of a closed standard descriptor.
  if (!kav::OpenClosedStandardDescriptors()) {
    std::fputs("kavconv: cannot open /dev/null\n", stderr);
    return kav::kExitFailure;
  }
  // A write beyond the file size limit, or to a pipe whose reader has gone (`| head -1`), then
  // fails with an error instead of ending the process with temporary files left behind; a
  // failed write to stdout ends the batch (see CommandLineHost::StopRequested).
  std::signal(SIGXFSZ, SIG_IGN);
  std::signal(SIGPIPE, SIG_IGN);
  kav::InstallInterruptCleanup();
  kav::RaiseOpenFileLimit();

  kav::DescriptorOutput standardOutput(STDOUT_FILENO);
  std::ostream out(&standardOutput);
  int status = kav::RunKavconv(argc, argv, out, std::cerr);
  out.flush();
  if (standardOutput.Error() != 0) {
    std::cerr << "kavconv: write error: " << kav::SystemErrorText(standardOutput.Error()) << '\n';
    if (status == kav::kExitSuccess) {
      status = kav::kExitFailure;
    }
  }
  return status;
}
