#pragma once
// Formatted text for status lines and messages, of any length.

#include <string>

namespace kav {

// printf-style formatting into a string that grows to fit.
std::string FormatText(const char* format, ...) __attribute__((format(printf, 1, 2)));

// What the system says of error number `error` (an errno value): "No such file or directory".
std::string SystemErrorText(int error);

}  // namespace kav
