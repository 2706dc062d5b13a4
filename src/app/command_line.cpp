#include "app/command_line.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFileInfo>

#include "app/converter_app.h"

namespace kav {

CommandLine ReadCommandLine(const QStringList& arguments) {
  QCommandLineParser parser;
  parser.setApplicationDescription(QCoreApplication::translate(
      "CommandLine",
      "Converts palette BMP images to MZR, RLE and RLS asset files in a dialog.\n"
      "FILEs named here are converted with its settings as one batch once it opens."));
  // Qt's own help option would also offer --help-all, whose Qt options only an application
  // object knows.
  const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")},
                                QCoreApplication::translate("CommandLine", "Displays this help."));
  const QCommandLineOption version(
      {QStringLiteral("v"), QStringLiteral("version")},
      QCoreApplication::translate("CommandLine", "Displays version information."));
  parser.addOptions({help, version});
  parser.addPositionalArgument(QStringLiteral("FILE"),
                               QCoreApplication::translate("CommandLine", "BMP files to convert."),
                               QStringLiteral("[FILE...]"));
  CommandLine line;
  if (!parser.parse(arguments)) {
    line.err = parser.errorText() + u'\n';
    line.exitStatus = 2;
  } else if (parser.isSet(help)) {
    // Without an application object the parser does not know the program's name.
    line.out = parser.helpText().replace(QStringLiteral("<executable_name>"),
                                         QString::fromLatin1(kAppName));
    line.exitStatus = 0;
  } else if (parser.isSet(version)) {
    line.out =
        QStringLiteral("%1 %2\n").arg(QString::fromLatin1(kAppName), QStringLiteral(KAV_VERSION));
    line.exitStatus = 0;
  }
  for (const QString& file : parser.positionalArguments()) {
    line.files.append(QFileInfo(file).absoluteFilePath());
  }
  return line;
}

}  // namespace kav
