#include "app/whole_number.h"

#include <limits>

namespace kav {

std::optional<std::int32_t> ParseWholeNumber(const QString& text) {
  const QString trimmed = text.trimmed();
  qsizetype at = 0;
  const bool negative = trimmed.startsWith(u'-');
  if (negative || trimmed.startsWith(u'+')) {
    at = 1;
  }
  if (at == trimmed.size()) {
    return std::nullopt;
  }
  // Accumulated as a negative number, whose range reaches one further than the positive one.
  constexpr std::int64_t kLowest = std::numeric_limits<std::int32_t>::min();
  std::int64_t value = 0;
  for (; at < trimmed.size(); ++at) {
    const char16_t digit = trimmed[at].unicode();
    if (digit < u'0' || digit > u'9') {
      return std::nullopt;
    }
    value = value * 10 - (digit - u'0');
    if (value < kLowest) {
      return std::nullopt;
    }
  }
  if (!negative) {
    value = -value;
    if (value > std::numeric_limits<std::int32_t>::max()) {
      return std::nullopt;
    }
  }
  return static_cast<std::int32_t>(value);
}

}  // namespace kav
