#pragma once
// kavconv as a function: the whole program but for what belongs to its process (signals, the
// standard descriptors and the write error of standard output; see main.cpp), so that tests
// can run it in-process.
//
// Exit status: 0 on success, 1 when any file failed, 2 for a usage error.

#include <iosfwd>

namespace kav {

// Parses `argv` (argv[0] the program) and runs the command named, printing its lines on
// `out` (standard output) and `err`; returns the exit status.
int RunKavconv(int argc, const char* const* argv, std::ostream& out, std::ostream& err);

}  // namespace kav
