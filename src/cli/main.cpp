// kavconv: converts 8-bit BMP images to MZR, RLE and RLS files, and inspects and renders
// the converted files. The program is RunKavconv; this is what belongs to its process.

#include <csignal>
#include <iostream>

#include "cli/kavconv.h"
#include "platform/file.h"

int main(int argc, char** argv) {
  // A write beyond the file size limit then fails with an error instead of ending the process.
  std::signal(SIGXFSZ, SIG_IGN);
  kav::InstallInterruptCleanup();
  return kav::RunKavconv(argc, argv, std::cout, std::cerr);
}
