#pragma once
// Formatted text for status lines and messages, of any length.

#include <string>
#include <system_error>

namespace kav {

// printf-style formatting into a string that grows to fit.
std::string FormatText(const char* format, ...) __attribute__((format(printf, 1, 2)));

// What the system says of error number `error` (an errno value): "No such file or directory".
std::string SystemErrorText(int error);

// What `error` says: SystemErrorText for the system's errors, its own text for the program's
// rules (an output refused); empty when there is no error.
std::string ErrorText(const std::error_code& error);

}  // namespace kav
