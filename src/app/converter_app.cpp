#include "app/converter_app.h"

#include "app/converter_dialog.h"

namespace kav {

ConverterApp::ConverterApp(int& argc, char** argv) : application_(argc, argv) {}

void ConverterApp::DescribeApplication() {
  QCoreApplication::setApplicationName(QString::fromLatin1(kAppName));
  QCoreApplication::setApplicationVersion(QStringLiteral(KAV_VERSION));
  QGuiApplication::setApplicationDisplayName(QString::fromLatin1(kAppDisplayName));
  // Lets the desktop match the windows to the installed desktop entry and its icon.
  QGuiApplication::setDesktopFileName(QString::fromLatin1(kAppName));
}

bool ConverterApp::InitInstance() {
  DescribeApplication();
  ConverterDialog dialog;
  // Windows without an owner, such as the reader's error boxes, show the same icon.
  QGuiApplication::setWindowIcon(dialog.windowIcon());
  dialog.exec();
  return false;
}

}  // namespace kav
