#pragma once
// The standard descriptors 0, 1 and 2 of a program started with some of them closed.

namespace kav {

// Opens /dev/null on each of descriptors 0, 1 and 2 that is closed, so that no file opened
// later takes one of those numbers: lines printed for a closed standard output would land in
// that file. What goes to a closed stream is then discarded, as with >/dev/null. Call it
// before anything else opens a file. False when /dev/null cannot be opened.
bool OpenClosedStandardDescriptors();

}  // namespace kav
