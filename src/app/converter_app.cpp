#include "app/converter_app.h"

#include <cstdio>

#include "app/app_resources.h"
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
  QString error;
  const std::optional<AppResources> resources = LoadAppResources(error);
  if (!resources) {
    std::fprintf(stderr, "%s: %s\n", kAppName, qPrintable(error));
    exitStatus_ = 1;
    return false;
  }
  QGuiApplication::setWindowIcon(resources->icon);
  ConverterDialog dialog(*resources);
  dialog.exec();
  return false;
}

}  // namespace kav
