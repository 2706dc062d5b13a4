// KAV Graphic Converter: the dialog that converts 8-bit BMP images to MZR, RLE and RLS
// files.

#include "app/converter_app.h"

int main(int argc, char** argv) {
  kav::ConverterApp app(argc, argv);
  app.InitInstance();
  return app.exitStatus();
}
