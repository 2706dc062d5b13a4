#include "desktop/command_line.h"

#include <cstdio>
#include <filesystem>

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>
#include <QStringList>

namespace kav {
namespace {

// The arguments the parser took as files, as they were given. The parser sees each one
// decoded, and a name that is not UTF-8 does not survive decoding; the options all stand
// alone, so the files are the arguments whose decoded forms the parser lists, in order.
std::vector<std::string> FilesAsGiven(const std::vector<std::string>& arguments,
                                      const QStringList& positional) {
  std::vector<std::string> files;
  qsizetype next = 0;
  for (std::size_t i = 1; i < arguments.size() && next < positional.size(); ++i) {
    if (QFile::decodeName(arguments[i].c_str()) == positional[next]) {
      std::error_code ignored;
      files.push_back(std::filesystem::absolute(arguments[i], ignored).native());
      ++next;
    }
  }
  return files;
}

// Whether every platform QT_QPA_PLATFORM lists ("xcb", "wayland;xcb", "wayland-egl:opt")
// draws on a display server; an empty list is Qt's default, which does too.
bool PlatformsNeedDisplay(const QString& platforms) {
  for (const QString& platform : platforms.split(u';', Qt::SkipEmptyParts)) {
    const QString name = platform.section(u':', 0, 0).trimmed();
    if (name != u"xcb" && !name.startsWith(u"wayland")) {
      return false;
    }
  }
  return true;
}

}  // namespace

CommandLine ReadCommandLine(const ProgramText& program, const std::vector<std::string>& arguments) {
  QCommandLineParser parser;
  parser.setApplicationDescription(QCoreApplication::translate("CommandLine", program.description));
  // Qt's own help option would also offer --help-all, whose Qt options only an application
  // object knows.
  const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")},
                                QCoreApplication::translate("CommandLine", "Displays this help."));
  const QCommandLineOption version(
      {QStringLiteral("v"), QStringLiteral("version")},
      QCoreApplication::translate("CommandLine", "Displays version information."));
  parser.addOptions({help, version});
  parser.addPositionalArgument(QStringLiteral("FILE"),
                               QCoreApplication::translate("CommandLine", program.files),
                               QStringLiteral("[FILE...]"));
  QStringList decoded;
  for (const std::string& argument : arguments) {
    decoded.append(QFile::decodeName(argument.c_str()));
  }
  CommandLine line;
  if (!parser.parse(decoded)) {
    line.err = parser.errorText() + u'\n';
    line.exitStatus = kExitUsage;
  } else if (parser.isSet(help)) {
    // Without an application object the parser does not know the program's name.
    line.out = parser.helpText().replace(QStringLiteral("<executable_name>"),
                                         QString::fromLatin1(program.name));
    line.exitStatus = 0;
  } else if (parser.isSet(version)) {
    line.out = QStringLiteral("%1 %2\n").arg(QString::fromLatin1(program.name),
                                             QStringLiteral(KAV_VERSION));
    line.exitStatus = 0;
  }
  line.files = FilesAsGiven(arguments, parser.positionalArguments());
  return line;
}

bool CanOpenWindow() {
  return !qEnvironmentVariableIsEmpty("DISPLAY") ||
         !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY") ||
         !PlatformsNeedDisplay(qEnvironmentVariable("QT_QPA_PLATFORM"));
}

std::optional<int> AnswerBeforeWindow(const CommandLine& line) {
  std::fputs(line.out.toLocal8Bit().constData(), stdout);
  std::fputs(line.err.toLocal8Bit().constData(), stderr);
  if (line.exitStatus) {
    return line.exitStatus;
  }
  // Qt would end the program with a message of its own about plugins.
  if (!CanOpenWindow()) {
    std::fputs(kNoDisplayText, stderr);
    return kExitNoDisplay;
  }
  return std::nullopt;
}

}  // namespace kav
