#pragma once
// The command line of the desktop programs: PROGRAM [--help] [--version] [--] [FILE...]. It is
// read before any application object exists, so that --help and --version answer without
// a display, and Qt never sees it: every argument but the options above is a file, however
// it looks (`-- -platform x` names the files "-platform" and "x").

#include <optional>
#include <string>
#include <vector>

#include <QString>

namespace kav {

inline constexpr int kExitNoDisplay = 1;
inline constexpr int kExitUsage = 2;

// What --help says of a program; the texts are untranslated (QT_TRANSLATE_NOOP in the context
// "CommandLine") and translated when shown.
struct ProgramText {
  const char* name;         // the executable's name, as --help and --version give it
  const char* description;  // what the program does, and what it does with its FILEs
  const char* files;        // what the FILEs are
};

struct CommandLine {
  std::optional<int> exitStatus;  // set when it has been answered (help, version, a usage error)
  QString out;                    // what to print on standard output,
  QString err;                    // and on standard error
  // Absolute paths, byte for byte as given (a name need not be UTF-8).
  std::vector<std::string> files;
};

// `arguments` as main() has them, the program's name first.
CommandLine ReadCommandLine(const ProgramText& program, const std::vector<std::string>& arguments);

// Whether a window can be opened: DISPLAY or WAYLAND_DISPLAY is set, or QT_QPA_PLATFORM
// names platforms that need neither (offscreen, minimal), not only xcb and wayland.
bool CanOpenWindow();
// What is said, on standard error, when it cannot.
inline constexpr const char* kNoDisplayText = "cannot open a window: no display\n";

// main()'s first answer: prints what `line` has for standard output and standard error, and
// returns the exit status when the program ends here (it answered, or there is no display to
// open a window on, which it then says); nothing when the window may open.
std::optional<int> AnswerBeforeWindow(const CommandLine& line);

}  // namespace kav
