#include "input/frames.h"

namespace kav {
namespace {

std::size_t DigitsOf(std::uint32_t number) {
  std::size_t digits = 1;
  for (; number >= 10; number /= 10) {
    ++digits;
  }
  return digits;
}

std::string Padded(std::uint32_t number, std::size_t width) {
  std::string text = std::to_string(number);
  return std::string(width > text.size() ? width - text.size() : 0, '0') + text;
}

bool KeptInNames(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_' ||
         c == '-';
}

// UTF-8 continuation bytes are 10xxxxxx: they belong to the character whose first byte has
// already become "_".
bool ContinuesCharacter(char c) {
  return (static_cast<unsigned char>(c) & 0xC0) == 0x80;
}

std::string NameForFiles(const std::string& tagName) {
  std::string name;
  for (const char c : tagName) {
    if (KeptInNames(c)) {
      name += c;
    } else if (!ContinuesCharacter(c)) {
      name += '_';
    }
  }
  return name;
}

}  // namespace

std::string FrameSuffix(std::uint32_t frame, std::uint32_t frameCount,
                        std::span<const FrameTag> tags) {
  if (frameCount <= 1) {
    return "";
  }
  for (const FrameTag& tag : tags) {
    if (tag.from <= frame && frame <= tag.to) {
      return NameForFiles(tag.name) + "_" + Padded(frame - tag.from, DigitsOf(tag.to - tag.from));
    }
  }
  return Padded(frame, DigitsOf(frameCount - 1));
}

}  // namespace kav
