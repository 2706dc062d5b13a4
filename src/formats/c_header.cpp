#include "formats/c_header.h"

#include <algorithm>
#include <array>

namespace kav {
namespace {

constexpr std::size_t kBytesPerLine = 16;
constexpr std::size_t kLineTextSize = 1 + kBytesPerLine * kCHeaderByteText + 1;  // ' ' ... '\n'
// The array's text is handed on in pieces this large, which a file sink writes without
// copying them first.
constexpr std::size_t kTextPieceSize = 512 * 1024;
// Alignment is asked for only in the dialects that have a way to say it; in C89, C99 and
// C++98 it is the compiler's.
constexpr std::string_view kAlignment =
    "#if defined(__cplusplus) && __cplusplus >= 201103L\n"
    "alignas(4)\n"
    "#elif defined(__STDC_VERSION__) && __STDC_VERSION__ >= 201112L\n"
    "_Alignas(4)\n"
    "#endif\n";
constexpr std::string_view kArrayStart = "static const unsigned char ";
constexpr std::string_view kInitialiserStart = " = {\n";

using ByteText = std::array<char, kCHeaderByteText>;

constexpr std::array<ByteText, 256> kByteTexts = [] {
  constexpr std::string_view hex = "0123456789abcdef";
  std::array<ByteText, 256> texts{};
  for (std::size_t value = 0; value < texts.size(); ++value) {
    texts[value] = {' ', '0', 'x', hex[value >> 4], hex[value & 15], ','};
  }
  return texts;
}();

bool IsAsciiLetter(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}
bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}
bool IsNameCharacter(char c) {
  return IsAsciiLetter(c) || IsDigit(c) || c == '_';
}
bool IsUtf8Continuation(unsigned char c) {
  return (c & 0xC0) == 0x80;
}

// In front of a name that would begin with '_' or a digit, which C reserves or forbids; the
// macros get it upper-cased with the rest.
constexpr std::string_view kReservedStartPrefix = "kav_";

// The keywords of C23 and of C++23, alternative operator spellings included, each between
// spaces. Those that begin with '_' are left out: no name CIdentifierFor gives begins so.
constexpr std::string_view kKeywords =
    " alignas alignof and and_eq asm auto bitand bitor bool break case catch char char16_t"
    " char32_t char8_t class co_await co_return co_yield compl concept const const_cast"
    " consteval constexpr constinit continue decltype default delete do double dynamic_cast"
    " else enum explicit export extern false float for friend goto if inline int long mutable"
    " namespace new noexcept not not_eq nullptr operator or or_eq private protected public"
    " register reinterpret_cast requires restrict return short signed sizeof static"
    " static_assert static_cast struct switch template this thread_local throw true try"
    " typedef typeid typename typeof typeof_unqual union unsigned using virtual void volatile"
    " wchar_t while xor xor_eq ";

bool IsKeyword(std::string_view name) {
  return !name.empty() && name.find(' ') == std::string_view::npos &&
         kKeywords.find(" " + std::string(name) + " ") != std::string_view::npos;
}

void WriteText(ByteSink& sink, std::string_view text) {
  sink.Write({reinterpret_cast<const std::uint8_t*>(text.data()), text.size()});
}

std::string UpperCased(std::string_view name) {
  std::string upper(name);
  std::transform(upper.begin(), upper.end(), upper.begin(), [](char c) {
    return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
  });
  return upper;
}

// The initialiser's lines, built in pieces of whole lines.
void WriteArrayLines(std::span<const std::uint8_t> bytes, ByteSink& sink) {
  std::vector<char> piece(kTextPieceSize);
  std::size_t used = 0;
  for (std::size_t at = 0; at < bytes.size(); at += kBytesPerLine) {
    if (used + kLineTextSize > piece.size()) {
      WriteText(sink, {piece.data(), used});
      used = 0;
    }
    piece[used++] = ' ';
    for (const std::uint8_t value : bytes.subspan(at, std::min(kBytesPerLine, bytes.size() - at))) {
      std::copy_n(kByteTexts[value].data(), kCHeaderByteText, piece.data() + used);
      used += kCHeaderByteText;
    }
    piece[used++] = '\n';
  }
  WriteText(sink, {piece.data(), used});
}

}  // namespace

std::string CIdentifierFor(std::string_view text) {
  std::string name;
  bool inCharacter = false;  // within a UTF-8 character already written as '_'
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    const char kept = IsAsciiLetter(c) || IsDigit(c) ? c : '_';
    if (!(inCharacter && IsUtf8Continuation(byte)) && !(kept == '_' && name.ends_with('_'))) {
      name += kept;
    }
    inCharacter = byte >= 0x80;
  }
  if (name.empty() || name.front() == '_' || IsDigit(name.front())) {
    name = std::string(kReservedStartPrefix) + name.substr(name.starts_with('_') ? 1 : 0);
  }
  if (IsKeyword(name)) {
    name += '_';
  }
  return name;
}

std::optional<std::string> CNameFault(std::string_view name, bool prefix) {
  if (name.empty()) {
    return "is empty";
  }
  if (!std::all_of(name.begin(), name.end(), IsNameCharacter)) {
    return "holds a character other than an ASCII letter, digit or _";
  }
  if (IsDigit(name.front())) {
    return "begins with a digit";
  }
  if (name.front() == '_') {
    return "begins with _";
  }
  if (name.find("__") != std::string_view::npos) {
    return "holds __";
  }
  if (!prefix && IsKeyword(name)) {
    return "is a keyword of C or C++";
  }
  return std::nullopt;
}

CHeaderNames CHeaderNamesOf(std::string_view name) {
  std::string macro = UpperCased(name);
  if (macro.ends_with('_')) {
    macro.pop_back();
  }
  return {.array = std::string(name), .size = macro + "_SIZE", .guard = macro + "_H"};
}

void EncodeCHeader(std::span<const std::uint8_t> bytes, std::string_view name, ByteSink& sink) {
  const CHeaderNames names = CHeaderNamesOf(name);
  const std::string size = std::to_string(bytes.size());
  const std::string length = bytes.empty() ? "1" : size;
  WriteText(sink, "#ifndef " + names.guard + "\n#define " + names.guard + "\n\n#define " +
                      names.size + " " + size + "\n\n" + std::string(kAlignment) +
                      std::string(kArrayStart) + names.array + "[" + length + "]" +
                      std::string(kInitialiserStart));
  static constexpr std::array<std::uint8_t, 1> kZero{0};
  WriteArrayLines(bytes.empty() ? std::span<const std::uint8_t>(kZero) : bytes, sink);
  WriteText(sink, "};\n\n#endif\n");
}

std::optional<CHeaderStart> ReadCHeaderStart(std::string_view text, std::size_t count) {
  const std::size_t nameStart = text.find(kArrayStart);
  if (nameStart == std::string_view::npos) {
    return std::nullopt;
  }
  const std::size_t nameEnd = text.find('[', nameStart + kArrayStart.size());
  const std::size_t bytesStart = text.find(kInitialiserStart, nameEnd);
  if (nameEnd == std::string_view::npos || bytesStart == std::string_view::npos) {
    return std::nullopt;
  }
  CHeaderStart start;
  start.name =
      text.substr(nameStart + kArrayStart.size(), nameEnd - nameStart - kArrayStart.size());
  const auto hexValue = [](char c) {
    return IsDigit(c) ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
  };
  std::size_t at = bytesStart + kInitialiserStart.size();
  while (start.bytes.size() < count) {
    at = std::min(text.find_first_not_of(" \n", at), text.size());
    const std::string_view entry = text.substr(at, kCHeaderByteText - 1);  // "0x4b,"
    const int high = entry.size() == kCHeaderByteText - 1 ? hexValue(entry[2]) : -1;
    const int low = high >= 0 ? hexValue(entry[3]) : -1;
    if (!entry.starts_with("0x") || low < 0 || entry[4] != ',') {
      break;
    }
    start.bytes.push_back(static_cast<std::uint8_t>(high * 16 + low));
    at += entry.size();
  }
  return start;
}

}  // namespace kav
