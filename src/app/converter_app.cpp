#include "app/converter_app.h"

#include <QTimer>

#include "app/converter_dialog.h"

namespace kav {

ConverterApp::ConverterApp(int& argc, char** argv) : application_(argc, argv) {}

void ConverterApp::DescribeApplication() {
  QCoreApplication::setOrganizationName(QString::fromLatin1(kOrganizationName));
  QCoreApplication::setApplicationName(QString::fromLatin1(kAppName));
  QCoreApplication::setApplicationVersion(QStringLiteral(KAV_VERSION));
  // Lets the desktop match the windows to the installed desktop entry and its icon.
  QGuiApplication::setDesktopFileName(QString::fromLatin1(kAppId));
}

bool ConverterApp::InitInstance(const QStringList& files) {
  DescribeApplication();
  ConverterDialog dialog;
  // Windows without an owner, such as the reader's error boxes, show the same icon.
  QGuiApplication::setWindowIcon(dialog.windowIcon());
  if (!files.isEmpty()) {
    // Once exec() has shown the dialog.
    QTimer::singleShot(0, &dialog, [&dialog, files] { dialog.ConvertFilesOnceActive(files); });
  }
  dialog.exec();
  return false;
}

}  // namespace kav
