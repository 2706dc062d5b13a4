#include "support/test_support.h"

#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <iterator>

#include <gtest/gtest.h>

namespace kav::test {
namespace {

void PutLe16(std::vector<std::uint8_t>& out, std::uint16_t value) {
  out.push_back(static_cast<std::uint8_t>(value));
  out.push_back(static_cast<std::uint8_t>(value >> 8));
}

void PutLe32(std::vector<std::uint8_t>& out, std::uint32_t value) {
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

std::vector<std::uint8_t> MakeBmp(const BmpSpec& spec) {
  const std::uint32_t width = static_cast<std::uint32_t>(std::max(spec.width, 0));
  const std::uint32_t rows = static_cast<std::uint32_t>(std::abs(spec.height));
  const std::uint32_t stride = (width + 3) & ~3u;
  const std::vector<Rgb> palette = spec.palette.empty() ? DefaultPalette() : spec.palette;
  const std::uint32_t entries = spec.coloursUsed == 0 ? 256 : spec.coloursUsed;
  const std::uint32_t paletteEnd = 14 + spec.infoSize + 4 * entries;
  const std::uint32_t rowsOffset = spec.rowsOffset.value_or(paletteEnd);
  const std::uint32_t length = std::max(paletteEnd, rowsOffset) + stride * rows;

  std::vector<std::uint8_t> out;
  out.push_back('B');
  out.push_back('M');
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

bool RecordingHost::ReadBack() {
  events.push_back("readback");
  return readBackResult;
}

void RecordingHost::SetStatusText(const std::string& text) {
  statusTexts.push_back(text);
  events.push_back("status:" + text);
}

void RecordingHost::ShowError(MessageOwner owner, std::string_view text) {
  messages.push_back({owner, std::string(text)});
  events.push_back("message:" + std::string(text));
}

void RecordingHost::OnFileStarting(std::size_t /*index*/, std::size_t /*total*/,
                                   const std::string& path) {
  events.push_back("file:" + path);
}

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

void StoreLe16Into(std::vector<std::uint8_t>& bytes, std::size_t offset, std::uint16_t value) {
  bytes.at(offset) = static_cast<std::uint8_t>(value);
  bytes.at(offset + 1) = static_cast<std::uint8_t>(value >> 8);
}

void StoreLe32Into(std::vector<std::uint8_t>& bytes, std::size_t offset, std::uint32_t value) {
  for (std::size_t i = 0; i < 4; ++i) {
    bytes.at(offset + i) = static_cast<std::uint8_t>(value >> (8 * i));
  }
}

std::string ShellQuote(const std::string& argument) {
  std::string quoted(1, '\'');
  for (const char c : argument) {
    if (c == '\'') {
      quoted.append("'\\''");
    } else {
      quoted.push_back(c);
    }
  }
  quoted.push_back('\'');
  return quoted;
}

namespace {

std::string TextOf(const std::string& path) {
  const std::vector<std::uint8_t> bytes = ReadFile(path);
  return {bytes.begin(), bytes.end()};
}

}  // namespace

ProcessRun RunKavconv(const std::vector<std::string>& arguments, const TempDir& scratch) {
  std::string command = ShellQuote(KAVCONV_PATH);
  for (const std::string& argument : arguments) {
    command.append(" ").append(ShellQuote(argument));
  }
  const std::string out = scratch.File(".stdout");
  const std::string err = scratch.File(".stderr");
  command.append(" >").append(ShellQuote(out)).append(" 2>").append(ShellQuote(err));
  const int raw = std::system(command.c_str());
  ProcessRun run;
  run.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  run.out = TextOf(out);
  run.err = TextOf(err);
  std::filesystem::remove(out);
  std::filesystem::remove(err);
  return run;
}

void WriteFile(const std::string& path, const std::vector<std::uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
  if (!out) {
    ADD_FAILURE() << "cannot write " << path;
  }
}

std::vector<std::uint8_t> ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

bool FileExists(const std::string& path) {
  return std::filesystem::exists(path);
}

std::vector<std::string> ListFolder(const std::filesystem::path& folder) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) {
    names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

}  // namespace kav::test
