#include "support/test_support.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <iterator>

#include <gtest/gtest.h>

#include "formats/run_length.h"
#include "platform/byte_source.h"

namespace kav::test {
namespace {

void PutLe16(Bytes& out, std::uint16_t value) {
  out.push_back(static_cast<std::uint8_t>(value));
  out.push_back(static_cast<std::uint8_t>(value >> 8));
}

void PutLe32(Bytes& out, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) {
    out.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
  }
}

}  // namespace

std::vector<Rgb> DefaultPalette() {
  std::vector<Rgb> palette;
  for (unsigned i = 0; i < 256; ++i) {
    palette.push_back({static_cast<std::uint8_t>(i), static_cast<std::uint8_t>(255 - i),
                       static_cast<std::uint8_t>(i * 7 % 256)});
  }
  return palette;
}

Bytes MakeBmp(const BmpSpec& spec) {
  const std::uint32_t width = static_cast<std::uint32_t>(std::max(spec.width, 0));
  const std::uint32_t rows = static_cast<std::uint32_t>(std::abs(spec.height));
  const std::uint32_t stride = (width + 3) & ~3u;
  const std::vector<Rgb> palette = spec.palette.empty() ? DefaultPalette() : spec.palette;
  const std::uint32_t entries = spec.coloursUsed == 0 ? 256 : spec.coloursUsed;
  const std::uint32_t paletteEnd = 14 + spec.infoSize + 4 * entries;
  const std::uint32_t rowsOffset = spec.rowsOffset.value_or(paletteEnd);
  const std::uint32_t length =
      std::max(paletteEnd, rowsOffset) +
      (spec.stored ? static_cast<std::uint32_t>(spec.stored->size()) : stride * rows);

  Bytes out{'B', 'M'};
  PutLe32(out, spec.fileSize.value_or(length));
  PutLe32(out, 0);
  PutLe32(out, rowsOffset);
  PutLe32(out, spec.infoSize);
  PutLe32(out, static_cast<std::uint32_t>(spec.width));
  PutLe32(out, static_cast<std::uint32_t>(spec.height));
  PutLe16(out, 1);
  PutLe16(out, spec.bitCount);
  PutLe32(out, spec.compression);
  PutLe32(out, stride * rows);
  PutLe32(out, 2835);
  PutLe32(out, 2835);
  PutLe32(out, spec.coloursUsed);
  PutLe32(out, 0);
  out.resize(14 + std::max<std::uint32_t>(spec.infoSize, 40), 0);
  out.resize(14 + spec.infoSize);
  for (std::uint32_t i = 0; i < entries; ++i) {
    const Rgb colour = i < palette.size() ? palette[i] : Rgb{};
    out.insert(out.end(), {colour.blue, colour.green, colour.red, spec.reservedByte});
  }
  out.resize(std::max<std::size_t>(out.size(), rowsOffset), 0);
  out.resize(rowsOffset);
  if (spec.stored) {
    out.insert(out.end(), spec.stored->begin(), spec.stored->end());
    return out;
  }
  for (std::uint32_t stored = 0; stored < rows; ++stored) {
    // Bottom row first unless the height is negative.
    const std::uint32_t y = spec.height < 0 ? stored : rows - 1 - stored;
    for (std::uint32_t x = 0; x < stride; ++x) {
      const std::size_t at = std::size_t{y} * width + x;
      out.push_back(x < width && at < spec.pixels.size() ? spec.pixels[at] : spec.paddingByte);
    }
  }
  return out;
}

LoadedPicture::LoadedPicture(Bytes file) : file_(std::move(file)) {
  MemorySource source(file_);
  RecordingHost host;
  EXPECT_EQ(ReadBmp8(source, host, bitmap_), kBmpOk);
  view_ = ViewBitmap(bitmap_);
  if (!view_) {
    ADD_FAILURE() << "the test BMP has no view";
    static const std::array<std::uint8_t, kBmpPaletteBytes> kNoPalette{};
    view_ = BitmapView{PaletteBytes(kNoPalette), 0, 0, 0, false, {}};
  }
}

Bytes Encode(const Bytes& file, FileKind kind, const MzrSettings& settings) {
  const LoadedPicture picture(file);
  if (kind != FileKind::kMzr) {
    EXPECT_EQ(CheckRunLengthSize(picture.view()), RunLengthRefusal::kNone);
    return EncodeRunLength(
        picture.view(), kind == FileKind::kRls ? RunLengthVariant::kRls : RunLengthVariant::kRle);
  }
  VectorSink sink;
  EXPECT_EQ(EncodeMzr(picture.view(), settings, sink), EncodeResult::kOk);
  return std::move(sink.bytes());
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

std::uint32_t Le32(const Bytes& bytes, std::size_t at) {
  return std::uint32_t{Le16(bytes, at)} | std::uint32_t{Le16(bytes, at + 2)} << 16;
}

Bytes Slice(const Bytes& bytes, std::size_t from, std::size_t to) {
  if (to > bytes.size() || from > to) {
    ADD_FAILURE() << "slice " << from << ".." << to << " of " << bytes.size() << " bytes";
    return {};
  }
  return {bytes.begin() + static_cast<std::ptrdiff_t>(from),
          bytes.begin() + static_cast<std::ptrdiff_t>(to)};
}

void StoreLe16Into(Bytes& bytes, std::size_t offset, std::uint16_t value) {
  bytes.at(offset) = static_cast<std::uint8_t>(value);
  bytes.at(offset + 1) = static_cast<std::uint8_t>(value >> 8);
}

void StoreLe32Into(Bytes& bytes, std::size_t offset, std::uint32_t value) {
  StoreLe16Into(bytes, offset, static_cast<std::uint16_t>(value));
  StoreLe16Into(bytes, offset + 2, static_cast<std::uint16_t>(value >> 16));
}

const std::array<Writer, 3> kWriters = {
    Writer{FileKind::kMzr, ConvertToMzr, "Error while converting!", ""},
    Writer{FileKind::kRle, ConvertToRle, "Error while loading BMP file!", "SUCCESS!!  "},
    Writer{FileKind::kRls, ConvertToRls, "Error while loading BMP file!", "SUCCESS!!  "}};

TempDir::TempDir() {
  std::string pattern = (std::filesystem::temp_directory_path() / "kav-test-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) {
    ADD_FAILURE() << "cannot create a temporary folder";
  }
  path_ = pattern;
}

TempDir::~TempDir() {
  std::error_code ignored;
  // Read-only folders made by a test must become writable again to be removed.
  for (const auto& entry : std::filesystem::recursive_directory_iterator(path_, ignored)) {
    std::filesystem::permissions(entry.path(), std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::add, ignored);
  }
  std::filesystem::permissions(path_, std::filesystem::perms::owner_all,
                               std::filesystem::perm_options::add, ignored);
  std::filesystem::remove_all(path_, ignored);
}

void WriteFile(const std::string& path, const Bytes& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
  if (!out) {
    ADD_FAILURE() << "cannot write " << path;
  }
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
  std::vector<char*> argv;
  for (std::string& word : words) {
    argv.push_back(word.data());
  }
  argv.push_back(nullptr);
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
  if (child < 0 || waitpid(child, &status, 0) != child) {
    return -1;
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

ProcessRun RunKavconv(const std::vector<std::string>& arguments, const TempDir& scratch,
                      const std::function<bool()>& prepare) {
  const std::string out = scratch.File(".stdout");
  const std::string err = scratch.File(".stderr");
  ProcessRun run;
  run.status = ExitStatusOf(StartKavconv(arguments, out, err, prepare));
  const Bytes outBytes = ReadFile(out);
  const Bytes errBytes = ReadFile(err);
  run.out.assign(outBytes.begin(), outBytes.end());
  run.err.assign(errBytes.begin(), errBytes.end());
  std::filesystem::remove(out);
  std::filesystem::remove(err);
  return run;
}

}  // namespace kav::test
