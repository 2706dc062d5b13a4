#pragma once
// The dialog's command line: kav-graphic-converter [--help] [--version] [FILE...]. It is
// read before any application object exists, so that --help and --version answer without
// a display.

#include <optional>

#include <QString>
#include <QStringList>

namespace kav {

struct CommandLine {
  std::optional<int> exitStatus;  // set when it has been answered (help, version, a usage error)
  QString out;                    // what to print on standard output,
  QString err;                    // and on standard error
  QStringList files;              // absolute paths, to convert once the dialog shows
};

// `arguments` as main() has them, the program's name first.
CommandLine ReadCommandLine(const QStringList& arguments);

}  // namespace kav
