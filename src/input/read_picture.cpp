#include "input/read_picture.h"

#include <algorithm>
#include <array>
#include <cerrno>

#include "input/aseprite_file.h"
#include "input/aseprite_frames.h"
#include "input/bmp_reader.h"
#include "input/gif_frames.h"
#include "input/png_reader.h"
#include "platform/file.h"

namespace kav {
namespace {

constexpr std::array<std::pair<ReadFailure, std::string_view>, 11> kFailureTexts{{
    {ReadFailure::kCannotOpen, "Cannot open this file"},
    {ReadFailure::kNot8Bit, "This BMP file not 8 bit"},
    {ReadFailure::kNotBmp, "This is not a BMP file"},
    {ReadFailure::kBmpCorrupt, "This BMP file is corrupt"},
    {ReadFailure::kOutOfMemory, "Out of memory"},
    {ReadFailure::kCompressed, "This BMP file is compressed"},
    {ReadFailure::kPngCorrupt, "This PNG file is corrupt"},
    {ReadFailure::kTooManyColours, "This picture has more colours than the format holds"},
    {ReadFailure::kPaletteFileUnreadable, "This palette file cannot be read"},
    {ReadFailure::kGifCorrupt, "This GIF file is corrupt"},
    {ReadFailure::kAsepriteCorrupt, "This Aseprite file is corrupt"},
}};

using namespace std::string_view_literals;

// One kind of input: a picture (`read`) or frames (`openFrames`), the other null.
struct InputFormat {
  InputKind kind;
  std::string_view name;
  std::string_view signature;  // the bytes every file of the kind holds at signatureOffset
  std::size_t signatureOffset;
  // The endings of the names of its files, in lower case, by which a folder's pictures are
  // found; the shell completions offer the same.
  std::span<const std::string_view> extensions;
  ReadFailure corrupt;
  ReadResult (*read)(ByteSource& source, MemoryBudget& budget, const TransparencyRules* rules);
  OpenedFrames (*openFrames)(std::span<const std::uint8_t> file);
};

constexpr std::array kBmpExtensions{".bmp"sv, ".dib"sv};
constexpr std::array kPngExtensions{".png"sv};
constexpr std::array kGifExtensions{".gif"sv};
constexpr std::array kAsepriteExtensions{".ase"sv, ".aseprite"sv};

// An Aseprite file's magic number follows its 4-byte size, so its signature is the two
// bytes at kAsepriteMagicOffset; the table's signatures are the bytes a file begins with.
constexpr std::string_view kAsepriteSignature = "\xE0\xA5"sv;

// The one place that decides what an input is: the first row whose signature the file begins
// with. A file that begins with none is "not a BMP file".
constexpr std::array kInputFormats{
    InputFormat{InputKind::kBmp, "BMP", "BM"sv, 0, kBmpExtensions, ReadFailure::kBmpCorrupt,
                ReadBmp, nullptr},
    InputFormat{InputKind::kPng, "PNG", "\x89PNG\r\n\x1a\n"sv, 0, kPngExtensions,
                ReadFailure::kPngCorrupt, ReadPng, nullptr},
    InputFormat{InputKind::kGif, "GIF", "GIF8"sv, 0, kGifExtensions, ReadFailure::kGifCorrupt,
                nullptr, OpenGifFrames},
    InputFormat{InputKind::kAseprite, "Aseprite", kAsepriteSignature, kAsepriteMagicOffset,
                kAsepriteExtensions, ReadFailure::kAsepriteCorrupt, nullptr, OpenAsepriteFrames},
};

constexpr std::size_t SignatureEnd(const InputFormat& format) {
  return format.signatureOffset + format.signature.size();
}

constexpr std::size_t kLongestSignature =
    SignatureEnd(std::ranges::max(kInputFormats, {}, SignatureEnd));

const InputFormat* FormatBeginning(std::span<const std::uint8_t> first) {
  for (const InputFormat& format : kInputFormats) {
    if (first.size() >= SignatureEnd(format) &&
        std::equal(format.signature.begin(), format.signature.end(),
                   first.begin() + static_cast<std::ptrdiff_t>(format.signatureOffset),
                   [](char a, std::uint8_t b) { return static_cast<std::uint8_t>(a) == b; })) {
      return &format;
    }
  }
  return nullptr;
}

const InputFormat& FormatOf(InputKind kind) {
  return *std::ranges::find(kInputFormats, kind, &InputFormat::kind);
}

bool EndsWithInAnyCase(std::string_view name, std::string_view lowerEnding) {
  const auto lower = [](char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
  };
  return name.size() >= lowerEnding.size() &&
         std::equal(lowerEnding.begin(), lowerEnding.end(),
                    name.end() - static_cast<std::ptrdiff_t>(lowerEnding.size()),
                    [&lower](char a, char b) { return a == lower(b); });
}

// The kind whose files' names end as `name` does, if any.
const InputFormat* KindNamed(std::string_view name) {
  for (const InputFormat& format : kInputFormats) {
    for (const std::string_view ending : format.extensions) {
      if (EndsWithInAnyCase(name, ending)) {
        return &format;
      }
    }
  }
  return nullptr;
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

// The whole file in memory (mapped where it can be) with its frames opened.
std::variant<ReadResult, FrameFile> OpenFrameFile(InputFile& file, const InputFormat& format) {
  const auto failed = [&format](ReadFailure failure, int error = 0) {
    return FailedRead{.failure = failure, .kind = format.kind, .cause = SystemCause(error)};
  };
  if (file.Length() > SIZE_MAX) {
    return failed(ReadFailure::kOutOfMemory);
  }
  const auto length = static_cast<std::size_t>(file.Length());
  errno = 0;
  MemoryBlock bytes = file.Map(0, length);
  if (!bytes && length > 0) {
    // A file that cannot be mapped (a pipe's worth of bytes, a file system without mappings)
    // is read instead.
    bytes = MemoryBlock::Allocate(length);
    if (!bytes) {
      return failed(ReadFailure::kOutOfMemory);
    }
    errno = 0;
    if (!file.Seek(0) || file.Read(bytes.bytes()) != length) {
      return failed(format.corrupt, errno);
    }
  }
  OpenedFrames opened = format.openFrames(bytes.bytes());
  if (!opened.source) {
    return failed(ReadFailureOf(opened.status));
  }
  if (bytes.Damaged()) {
    return failed(format.corrupt);
  }
  return FrameFile{
      .kind = format.kind, .bytes = std::move(bytes), .frames = std::move(opened.source)};
}

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
  return KindNamed(name) != nullptr;
}

bool MayHoldFrames(std::string_view name) {
  const InputFormat* format = KindNamed(name);
  return format == nullptr || format->openFrames != nullptr;
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
  if (format->read == nullptr) {
    return FailedRead{.failure = format->corrupt, .kind = format->kind, .cause = {}};
  }
  ReadResult result = format->read(recorded, budget, rules);
  if (!result) {
    result.failed().kind = format->kind;
    result.failed().cause = SystemCause(recorded.Error());
  }
  return result;
}

ReadFailure ReadFailureOf(FrameStatus status) {
  switch (status) {
    case FrameStatus::kGifCorrupt:
      return ReadFailure::kGifCorrupt;
    case FrameStatus::kAsepriteCorrupt:
      return ReadFailure::kAsepriteCorrupt;
    case FrameStatus::kOutOfMemory:
    case FrameStatus::kWrongBuffer:
      return ReadFailure::kOutOfMemory;
    case FrameStatus::kOk:
      break;
  }
  return ReadFailure::kBmpCorrupt;
}

ReadResult ReadPicture(const std::string& path, MemoryBudget& budget) {
  return ReadPicture(path, budget, nullptr);
}

ReadResult ReadPicture(const std::string& path, MemoryBudget& budget,
                       const TransparencyRules* rules) {
  std::variant<ReadResult, FrameFile> read = ReadInput(path, budget, rules);
  if (FrameFile* frames = std::get_if<FrameFile>(&read)) {
    return FailedRead{.failure = CorruptFailureOf(frames->kind), .kind = frames->kind, .cause = {}};
  }
  return std::move(std::get<ReadResult>(read));
}

namespace {

// The file at `path` opened and the kind its first bytes say (null for none), or the failure
// to open it.
struct OpenedInput {
  InputFile file;
  const InputFormat* format = nullptr;
  std::optional<FailedRead> failed;
};

void OpenInput(const std::string& path, OpenedInput& input) {
  // A failed open leaves errno as its failing call set it; refusing what is not a regular
  // file calls nothing that fails, and the cause stays empty.
  errno = 0;
  if (!input.file.Open(path)) {
    input.failed = FailedRead{
        .failure = ReadFailure::kCannotOpen, .kind = InputKind::kBmp, .cause = SystemCause(errno)};
    return;
  }
  std::array<std::uint8_t, kLongestSignature> first{};
  const std::optional<std::size_t> got = input.file.Read(first);
  input.format = FormatBeginning(std::span(first).first(got.value_or(0)));
}

}  // namespace

std::variant<ReadResult, FrameFile> ReadInput(const std::string& path, MemoryBudget& budget,
                                              const TransparencyRules* rules) {
  OpenedInput input;
  OpenInput(path, input);
  if (input.failed) {
    return *input.failed;
  }
  if (input.format == nullptr || input.format->openFrames == nullptr) {
    return ReadPicture(input.file, budget, rules);
  }
  return OpenFrameFile(input.file, *input.format);
}

std::optional<FrameSourceInfo> FrameInfoOf(const std::string& path) {
  OpenedInput input;
  OpenInput(path, input);
  if (input.failed || input.format == nullptr || input.format->openFrames == nullptr) {
    return std::nullopt;
  }
  std::variant<ReadResult, FrameFile> read = OpenFrameFile(input.file, *input.format);
  if (FrameFile* frames = std::get_if<FrameFile>(&read)) {
    return frames->frames->Info();
  }
  return std::nullopt;
}

}  // namespace kav
