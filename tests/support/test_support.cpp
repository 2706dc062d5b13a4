#include "support/test_support.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <fstream>
#include <iterator>

#include <gtest/gtest.h>

#include "convert/batch.h"
#include "formats/output_format.h"
#include "formats/run_length.h"
#include "input/palette_picture.h"
#include "input/read_picture.h"
#include "platform/byte_source.h"

namespace kav::test {

Bytes MakeBmp(const BmpPicture& spec) {
  const auto width = static_cast<std::uint32_t>(std::max(spec.width, 0));
  const auto rows = static_cast<std::uint32_t>(std::abs(spec.height));
  const std::uint32_t biSizeImage = ((width + 3) & ~3u) * rows;
  const std::uint32_t entries = spec.coloursUsed == 0 ? 256 : spec.coloursUsed;
  const std::uint32_t bfOffBits = 54 + 4 * entries;  // the 40-byte header, then the palette
  const std::uint32_t bfSize =
      bfOffBits + (spec.stored ? static_cast<std::uint32_t>(spec.stored->size()) : biSizeImage);
  const auto biWidth = static_cast<std::uint32_t>(spec.width);
  const auto biHeight = static_cast<std::uint32_t>(spec.height);
  const std::uint32_t biBitCount = spec.bitCount;
  const std::uint32_t biCompression = spec.compression;
  const std::uint32_t biClrUsed = spec.coloursUsed;
  const std::initializer_list<Field> header = {
      {0, 2, 0x4D42},         {2, 4, bfSize},       {10, 4, bfOffBits}, {14, 4, 40},
      {18, 4, biWidth},       {22, 4, biHeight},    {26, 2, 1},         {28, 2, biBitCount},
      {30, 4, biCompression}, {34, 4, biSizeImage}, {38, 4, 2835},      {42, 4, 2835},
      {46, 4, biClrUsed}};
  Bytes out = With(Bytes(54), header);
  for (std::uint32_t i = 0; i < entries; ++i) {
    const auto n = static_cast<std::uint8_t>(i);
    const Rgb colour = i < spec.palette.size() ? spec.palette[i]
                       : spec.palette.empty()  ? Rgb{n, static_cast<std::uint8_t>(255 - n),
                                                    static_cast<std::uint8_t>(n * 7)}
                                               : Rgb{};
    out.insert(out.end(), {colour.blue, colour.green, colour.red, spec.reservedByte});
  }
  if (spec.stored) {
    out.insert(out.end(), spec.stored->begin(), spec.stored->end());
    return out;
  }
  for (std::uint32_t stored = 0; stored < rows; ++stored) {
    // Bottom row first unless the height is negative.
    const std::uint32_t y = spec.height < 0 ? stored : rows - 1 - stored;
    for (std::uint32_t x = 0; x < ((width + 3) & ~3u); ++x) {
      const std::size_t at = std::size_t{y} * width + x;
      out.push_back(x < width && at < spec.pixels.size() ? spec.pixels[at] : spec.paddingByte);
    }
  }
  return out;
}

Bytes Encode(const Bytes& file, FileKind kind, const ConversionSettings& settings) {
  MemorySource source(file);
  ConversionSettings asked = settings;
  asked.format = kind == FileKind::kMzr   ? OutputFormat::kMzr
                 : kind == FileKind::kRls ? OutputFormat::kRls
                                          : OutputFormat::kRle;
  ReadResult read = ReadPalettePicture(source, TransparencyRulesOf(asked));
  if (!read) {
    ADD_FAILURE() << "refused: " << ReadFailureText(read.failed().failure);
    return {};
  }
  const Picture& picture = *read;
  if (kind != FileKind::kMzr) {
    EXPECT_TRUE(picture.width() > 0 && picture.height() > 0 && FitsFileHeader(picture));
    return EncodeRunLength(picture,
                           kind == FileKind::kRls ? OutputFormat::kRls : OutputFormat::kRle);
  }
  VectorSink sink;
  EXPECT_EQ(EncodeMzr(picture, settings, sink), EncodeResult::kOk);
  return std::move(sink.bytes());
}

Bytes Slice(const Bytes& bytes, std::size_t from, std::size_t to) {
  to = to == 0 ? bytes.size() : std::min(to, bytes.size());
  return {bytes.begin() + static_cast<std::ptrdiff_t>(std::min(from, to)),
          bytes.begin() + static_cast<std::ptrdiff_t>(to)};
}

std::optional<kav_image> Open(const Bytes& file) {
  kav_image image;
  if (kav_open(&image, file.data(), file.size(), nullptr) != KAV_OK) {
    return std::nullopt;
  }
  return image;
}

Bytes Decode(const Bytes& file) {
  kav_image image;
  kav_error error;
  if (kav_open(&image, file.data(), file.size(), &error) != KAV_OK) {
    ADD_FAILURE() << "refused at offset " << error.offset << ": " << kav_error_text(error.reason);
    return {};
  }
  Bytes indices(std::size_t{image.width} * image.height);
  Bytes scratch(image.width);
  for (std::uint32_t r = 0; r < image.height; ++r) {
    const std::uint8_t* row = kav_row_indices(&image, r, scratch.data());
    std::copy_n(row, image.width, indices.begin() + static_cast<std::ptrdiff_t>(r * image.width));
  }
  return indices;
}

std::uint16_t Le16(const Bytes& bytes, std::size_t at) {
  return static_cast<std::uint16_t>(bytes.at(at) | bytes.at(at + 1) << 8);
}

Bytes With(Bytes bytes, std::initializer_list<Field> fields) {
  for (const Field& field : fields) {
    for (std::size_t i = 0; i < field.size; ++i) {
      bytes.at(field.at + i) = static_cast<std::uint8_t>(field.value >> (8 * i));
    }
  }
  return bytes;
}

Bytes PngChunk(std::string_view type, const Bytes& data) {
  // Length, type, data and CRC (of the type and data), numbers big-endian.
  Bytes chunk(4 + 4 + data.size() + 4);
  std::copy_n(type.data(), 4, chunk.begin() + 4);
  std::copy(data.begin(), data.end(), chunk.begin() + 8);
  const auto crc = crc32(0, chunk.data() + 4, static_cast<uInt>(4 + data.size()));
  return With(chunk, {{0, 4, __builtin_bswap32(static_cast<std::uint32_t>(data.size()))},
                      {chunk.size() - 4, 4, __builtin_bswap32(static_cast<std::uint32_t>(crc))}});
}

const std::array<Writer, 3> kWriters = {
    Writer{FileKind::kMzr, OutputFormat::kMzr, "Error while converting!", ""},
    Writer{FileKind::kRle, OutputFormat::kRle, "Error while loading BMP file!", "SUCCESS!!  "},
    Writer{FileKind::kRls, OutputFormat::kRls, "Error while loading BMP file!", "SUCCESS!!  "}};

bool Writer::Convert(ConverterHost& host, const std::string& source,
                     const std::string& output) const {
  ConversionSettings settings = host.Settings();
  settings.format = format;
  const Conversion conversion =
      ConvertFile(settings, source, output, [&host] { return host.OutputStillWanted(); });
  host.Report(conversion);
  return Succeeded(conversion);
}

TempDir::TempDir() {
  std::string pattern = (std::filesystem::temp_directory_path() / "kav-test-XXXXXX").string();
  EXPECT_NE(mkdtemp(pattern.data()), nullptr) << "cannot create a temporary folder";
  path_ = pattern;
}

TempDir::~TempDir() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

void WriteFile(const std::string& path, const Bytes& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
  EXPECT_TRUE(out) << "cannot write " << path;
}

Bytes ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::vector<std::string> ListFolder(const std::filesystem::path& folder) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) {
    names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

pid_t StartKavconv(const std::vector<std::string>& arguments, const std::string& out,
                   const std::string& err, const std::function<bool()>& prepare) {
  std::vector<std::string> words{KAVCONV_PATH};
  words.insert(words.end(), arguments.begin(), arguments.end());
  std::vector<char*> argv(words.size() + 1, nullptr);  // ending in a null pointer
  std::ranges::transform(words, argv.begin(), [](std::string& word) { return word.data(); });
  const int outFd = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  const int errFd = open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  const pid_t child = fork();
  if (child == 0) {
    if (outFd < 0 || errFd < 0 || dup2(outFd, STDOUT_FILENO) < 0 ||
        dup2(errFd, STDERR_FILENO) < 0 || (prepare && !prepare())) {
      _exit(kCannotPrepare);
    }
    execv(argv[0], argv.data());
    _exit(127);
  }
  close(outFd);
  close(errFd);
  return child;
}

int ExitStatusOf(pid_t child) {
  int status = 0;
  return child >= 0 && waitpid(child, &status, 0) == child && WIFEXITED(status)
             ? WEXITSTATUS(status)
             : -1;
}

bool StdoutToClosedPipe() {
  std::array<int, 2> ends{};
  return pipe(ends.data()) == 0 && dup2(ends[1], STDOUT_FILENO) == STDOUT_FILENO &&
         close(ends[0]) == 0 && std::signal(SIGPIPE, SIG_DFL) != SIG_ERR;
}

ProcessRun RunKavconv(const std::vector<std::string>& arguments, const TempDir& scratch,
                      const std::function<bool()>& prepare) {
  const std::string out = scratch.File(".stdout");
  const std::string err = scratch.File(".stderr");
  const int status = ExitStatusOf(StartKavconv(arguments, out, err, prepare));
  const Bytes outBytes = ReadFile(out), errBytes = ReadFile(err);
  return {status, {outBytes.begin(), outBytes.end()}, {errBytes.begin(), errBytes.end()}};
}

}  // namespace kav::test
