#include "app/converter_app.h"

#include <QTimer>

#include "app/converter_dialog.h"

namespace kav {

ConverterApp::ConverterApp(char* program)
    : argv_{program, nullptr}, application_(argc_, argv_.data()) {}

void ConverterApp::DescribeApplication() {
  QCoreApplication::setOrganizationName(QString::fromLatin1(kOrganizationName));
  QCoreApplication::setApplicationName(QString::fromLatin1(kAppName));
  QCoreApplication::setApplicationVersion(QStringLiteral(KAV_VERSION));
  // Lets the desktop match the windows to the installed desktop entry and its icon.
  QGuiApplication::setDesktopFileName(QString::fromLatin1(kAppId));
}

void ConverterApp::InitInstance(const std::vector<std::string>& files) {
  DescribeApplication();
  ConverterDialog dialog;
  // Every other window shows the same icon.
  QGuiApplication::setWindowIcon(dialog.windowIcon());
  if (!files.empty()) {
    // Once exec() has shown the dialog.
    QTimer::singleShot(0, &dialog, [&dialog, files] { dialog.ConvertFilesOnceActive(files); });
  }
  dialog.exec();
}

}  // namespace kav
