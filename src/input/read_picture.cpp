#include "input/read_picture.h"

#include <algorithm>
#include <array>
#include <cerrno>

#include "input/bmp_reader.h"
#include "input/png_reader.h"
#include "platform/file.h"

namespace kav {
namespace {

constexpr std::array<std::pair<ReadFailure, std::string_view>, 9> kFailureTexts{{
    {ReadFailure::kCannotOpen, "Cannot open this file"},
    {ReadFailure::kNot8Bit, "This BMP file not 8 bit"},
    {ReadFailure::kNotBmp, "This is not a BMP file"},
    {ReadFailure::kBmpCorrupt, "This BMP file is corrupt"},
    {ReadFailure::kOutOfMemory, "Out of memory"},
    {ReadFailure::kCompressed, "This BMP file is compressed"},
    {ReadFailure::kPngCorrupt, "This PNG file is corrupt"},
    {ReadFailure::kTooManyColours, "This picture has more colours than the format holds"},
    {ReadFailure::kPaletteFileUnreadable, "This palette file cannot be read"},
}};

using namespace std::string_view_literals;

// One kind of input.
struct InputFormat {
  InputKind kind;
  std::string_view name;
  std::string_view signature;  // the bytes every file of the kind begins with
  // The endings of the names of its files, in lower case, by which a folder's pictures are
  // found; the shell completions offer the same.
  std::span<const std::string_view> extensions;
  ReadFailure corrupt;
  ReadResult (*read)(ByteSource& source, MemoryBudget& budget, const TransparencyRules* rules);
};

constexpr std::array kBmpExtensions{".bmp"sv, ".dib"sv};
constexpr std::array kPngExtensions{".png"sv};

// The one place that decides what an input is: the first row whose signature the file begins
// with. A file that begins with none is "not a BMP file".
constexpr std::array kInputFormats{
    InputFormat{InputKind::kBmp, "BMP", "BM"sv, kBmpExtensions, ReadFailure::kBmpCorrupt, ReadBmp},
    InputFormat{InputKind::kPng, "PNG", "\x89PNG\r\n\x1a\n"sv, kPngExtensions,
                ReadFailure::kPngCorrupt, ReadPng},
};

constexpr std::size_t kLongestSignature =
    std::ranges::max(kInputFormats, {}, [](const InputFormat& f) {
      return f.signature.size();
    }).signature.size();

const InputFormat* FormatBeginning(std::span<const std::uint8_t> first) {
  for (const InputFormat& format : kInputFormats) {
    if (first.size() >= format.signature.size() &&
        std::equal(format.signature.begin(), format.signature.end(), first.begin(),
                   [](char a, std::uint8_t b) { return static_cast<std::uint8_t>(a) == b; })) {
      return &format;
    }
  }
  return nullptr;
}

const InputFormat& FormatOf(InputKind kind) {
  return *std::ranges::find(kInputFormats, kind, &InputFormat::kind);
}

std::error_code SystemCause(int error) {
  return error != 0 ? std::error_code(error, std::system_category()) : std::error_code();
}

// Remembers why the last read failed, so the failure can say it: a failing disk is told
// apart from a file that is too short.
class ReadErrorRecorder final : public ByteSource {
 public:
  explicit ReadErrorRecorder(ByteSource& source) : source_(source) {}
  std::optional<std::size_t> Read(std::span<std::uint8_t> buffer) override {
    std::optional<std::size_t> got = source_.Read(buffer);
    if (!got) {
      error_ = errno;
    }
    return got;
  }
  bool Seek(std::uint64_t offset) override { return source_.Seek(offset); }
  std::uint64_t Length() const override { return source_.Length(); }
  MemoryBlock Map(std::uint64_t offset, std::size_t length) override {
    return source_.Map(offset, length);
  }
  bool CanMap() const override { return source_.CanMap(); }
  int Error() const { return error_; }

 private:
  ByteSource& source_;
  int error_ = 0;
};

}  // namespace

std::string_view ReadFailureText(ReadFailure failure) {
  return std::ranges::find(kFailureTexts, failure, &std::pair<ReadFailure, std::string_view>::first)
      ->second;
}

std::optional<InputKind> RecogniseInput(std::span<const std::uint8_t> first) {
  const InputFormat* format = FormatBeginning(first);
  return format != nullptr ? std::optional(format->kind) : std::nullopt;
}

bool HasInputExtension(std::string_view name) {
  const auto lower = [](char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
  };
  const auto endsWith = [&](std::string_view ending) {
    return name.size() >= ending.size() &&
           std::equal(ending.begin(), ending.end(),
                      name.end() - static_cast<std::ptrdiff_t>(ending.size()),
                      [&lower](char a, char b) { return a == lower(b); });
  };
  return std::ranges::any_of(kInputFormats, [&](const InputFormat& format) {
    return std::ranges::any_of(format.extensions, endsWith);
  });
}

std::string_view InputKindName(InputKind kind) {
  return FormatOf(kind).name;
}

ReadFailure CorruptFailureOf(InputKind kind) {
  return FormatOf(kind).corrupt;
}

ReadResult ReadPicture(ByteSource& source, MemoryBudget& budget) {
  return ReadPicture(source, budget, nullptr);
}

ReadResult ReadPicture(ByteSource& source, MemoryBudget& budget, const TransparencyRules* rules) {
  ReadErrorRecorder recorded(source);
  std::array<std::uint8_t, kLongestSignature> first{};
  const std::optional<std::size_t> got = recorded.Seek(0) ? recorded.Read(first) : std::nullopt;
  const InputFormat* format = FormatBeginning(std::span(first).first(got.value_or(0)));
  if (format == nullptr) {
    return FailedRead{.failure = ReadFailure::kNotBmp,
                      .kind = InputKind::kBmp,
                      .cause = SystemCause(recorded.Error())};
  }
  ReadResult result = format->read(recorded, budget, rules);
  if (!result) {
    result.failed().kind = format->kind;
    result.failed().cause = SystemCause(recorded.Error());
  }
  return result;
}

ReadResult ReadPicture(const std::string& path, MemoryBudget& budget) {
  return ReadPicture(path, budget, nullptr);
}

ReadResult ReadPicture(const std::string& path, MemoryBudget& budget,
                       const TransparencyRules* rules) {
  InputFile file;
  // A failed open leaves errno as its failing call set it; refusing what is not a regular
  // file calls nothing that fails, and the cause stays empty.
  errno = 0;
  if (!file.Open(path)) {
    return FailedRead{
        .failure = ReadFailure::kCannotOpen, .kind = InputKind::kBmp, .cause = SystemCause(errno)};
  }
  return ReadPicture(file, budget, rules);
}

}  // namespace kav
