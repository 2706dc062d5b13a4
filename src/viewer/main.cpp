// kav-view: shows converted MZR, RLE and RLS files as an engine draws them.

#include <array>
#include <optional>
#include <string>
#include <vector>

#include <QApplication>
#include <QCoreApplication>

#include "desktop/command_line.h"
#include "platform/standard_descriptors.h"
#include "viewer/viewer_window.h"

int main(int argc, char** argv) {
  kav::OpenClosedStandardDescriptors();
  static constexpr kav::ProgramText kViewer{
      kav::kViewerName,
      QT_TRANSLATE_NOOP("CommandLine",
                        "Shows MZR, RLE and RLS files as an engine draws them, through any of "
                        "their colour tables.\nEach FILE opens in a tab of its own."),
      QT_TRANSLATE_NOOP("CommandLine", "Converted files to show.")};
  // --help, --version, usage errors and the lack of a display are answered before Qt starts.
  const kav::CommandLine line =
      kav::ReadCommandLine(kViewer, std::vector<std::string>(argv, argv + argc));
  if (const std::optional<int> status = kav::AnswerBeforeWindow(line)) {
    return *status;
  }
  // Qt is given the program's name alone: the command line is the program's own (its files
  // might otherwise be taken for Qt's options, such as -platform or -platformpluginpath).
  int qtArgc = 1;
  std::array<char*, 2> qtArgv{argv[0], nullptr};
  QApplication application(qtArgc, qtArgv.data());
  kav::ViewerWindow::DescribeApplication();
  kav::ViewerWindow window;
  window.show();
  window.OpenFiles(line.files);
  return QApplication::exec();
}
