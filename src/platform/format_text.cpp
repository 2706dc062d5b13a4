#include "platform/format_text.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace kav {

std::string FormatText(const char* format, ...) {
  va_list args;
  va_start(args, format);
  va_list measure;
  va_copy(measure, args);
  const int length = std::vsnprintf(nullptr, 0, format, measure);
  va_end(measure);
  std::string text;
  if (length > 0) {
    text.resize(static_cast<std::size_t>(length));
    // vsnprintf writes the terminating zero into the string's own terminator slot.
    std::vsnprintf(text.data(), text.size() + 1, format, args);
  }
  va_end(args);
  return text;
}

std::string SystemErrorText(int error) {
  // strerror() may share one buffer between threads; the GNU strerror_r returns either its
  // own constant text or the buffer it was given.
  char buffer[256];
  return strerror_r(error, buffer, sizeof buffer);
}

std::string ErrorText(const std::error_code& error) {
  if (!error) {
    return {};
  }
  const bool fromErrno =
      error.category() == std::system_category() || error.category() == std::generic_category();
  return fromErrno ? SystemErrorText(error.value()) : error.message();
}

}  // namespace kav
