#include "app/command_line.h"

#include <QCoreApplication>

#include "app/converter_app.h"

namespace kav {

CommandLine ReadCommandLine(const std::vector<std::string>& arguments) {
  static constexpr ProgramText kDialog{
      kAppName,
      QT_TRANSLATE_NOOP("CommandLine",
                        "Converts BMP and PNG images to MZR, RLE and RLS asset files in a "
                        "dialog.\n"
                        "FILEs named here are converted with its settings as one batch once it "
                        "opens."),
      QT_TRANSLATE_NOOP("CommandLine", "BMP and PNG files to convert.")};
  return ReadCommandLine(kDialog, arguments);
}

}  // namespace kav
