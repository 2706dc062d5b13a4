#pragma once
// The dialog's command line: kav-graphic-converter [--help] [--version] [--] [FILE...]; the
// FILEs are converted once the dialog shows.

#include <string>
#include <vector>

#include "desktop/command_line.h"

namespace kav {

// `arguments` as main() has them, the program's name first.
CommandLine ReadCommandLine(const std::vector<std::string>& arguments);

}  // namespace kav
