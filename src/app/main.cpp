// KAV Graphic Converter: the dialog that converts 8-bit BMP images to MZR, RLE and RLS
// files.

#include <csignal>

#include "app/converter_app.h"
#include "platform/file.h"

int main(int argc, char** argv) {
  // As in kavconv: a write beyond the file size limit fails with "Cannot write output file",
  // and a batch ended by a signal (a closing session) leaves no temporary file behind.
  std::signal(SIGXFSZ, SIG_IGN);
  kav::InstallInterruptCleanup();
  kav::ConverterApp app(argc, argv);
  app.InitInstance();
  return 0;
}
