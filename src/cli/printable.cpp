#include "cli/printable.h"

#include <array>
#include <cstdint>
#include <ostream>

#include "platform/format_text.h"

namespace kav {
namespace {

constexpr std::string_view kUpperHex = "0123456789ABCDEF";
constexpr std::string_view kLowerHex = "0123456789abcdef";

bool IsContinuation(unsigned char byte) {
  return (byte & 0xC0) == 0x80;
}

// The length of the well-formed UTF-8 sequence at the start of `text`, or 0 when there is
// none there.
std::size_t SequenceLength(std::string_view text) {
  const auto lead = static_cast<unsigned char>(text[0]);
  if (lead < 0x80) {
    return 1;
  }
  // The length a lead byte announces, and the range its first continuation byte must lie in
  // (narrower after E0, ED, F0 and F4, which would otherwise start overlong forms,
  // surrogates or values past U+10FFFF).
  std::size_t length = 0;
  unsigned char low = 0x80;
  unsigned char high = 0xBF;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    low = lead == 0xE0 ? 0xA0 : low;
    high = lead == 0xED ? 0x9F : high;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    low = lead == 0xF0 ? 0x90 : low;
    high = lead == 0xF4 ? 0x8F : high;
  } else {
    return 0;
  }
  if (text.size() < length) {
    return 0;
  }
  const auto second = static_cast<unsigned char>(text[1]);
  if (second < low || second > high) {
    return 0;
  }
  for (std::size_t i = 2; i < length; ++i) {
    if (!IsContinuation(static_cast<unsigned char>(text[i]))) {
      return 0;
    }
  }
  return length;
}

void AppendEscaped(std::string& out, unsigned char byte) {
  out += "\\x";
  out += kUpperHex[byte >> 4];
  out += kUpperHex[byte & 0xF];
}

}  // namespace

bool IsValidUtf8(std::string_view text) {
  while (!text.empty()) {
    const std::size_t length = SequenceLength(text);
    if (length == 0) {
      return false;
    }
    text.remove_prefix(length);
  }
  return true;
}

std::size_t ControlLength(std::string_view text) {
  const std::size_t length = SequenceLength(text);
  const auto byte = [text](std::size_t i) { return static_cast<unsigned char>(text[i]); };
  if (byte(0) < 0x20 || byte(0) == 0x7F || (length == 0 && byte(0) >= 0x80 && byte(0) <= 0x9F)) {
    return 1;
  }
  if (length == 2 && byte(0) == 0xC2 && byte(1) <= 0x9F) {
    return 2;
  }
  if (length == 3 && byte(0) == 0xE2 &&
      ((byte(1) == 0x80 && byte(2) >= 0xAA && byte(2) <= 0xAE) ||
       (byte(1) == 0x81 && byte(2) >= 0xA6 && byte(2) <= 0xA9))) {
    return 3;
  }
  return 0;
}

std::string Printable(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  while (!text.empty()) {
    if (const std::size_t control = ControlLength(text); control > 0) {
      for (std::size_t i = 0; i < control; ++i) {
        AppendEscaped(out, static_cast<unsigned char>(text[i]));
      }
      text.remove_prefix(control);
      continue;
    }
    const std::size_t length = SequenceLength(text);
    const std::size_t kept = length == 0 ? 1 : length;  // a stray byte goes out alone
    out.append(text.substr(0, kept));
    text.remove_prefix(kept);
  }
  return out;
}

std::string HexBytes(std::string_view text) {
  std::string out;
  out.reserve(2 * text.size());
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    out += kLowerHex[byte >> 4];
    out += kLowerHex[byte & 0xF];
  }
  return out;
}

void PrintPathFailures(std::ostream& err, std::span<const PathFailure> failures,
                       std::string_view text) {
  for (const PathFailure& failure : failures) {
    err << Printable("kavconv: " + failure.path + ": " + std::string(text) + ": " +
                     ErrorText(failure.error))
        << '\n'
        << std::flush;
  }
}

}  // namespace kav
