#pragma once
// Shared test helpers: BMP files built in memory, a front end that records what it is told,
// and temporary folders.

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "convert/converter_host.h"

namespace kav::test {

struct Rgb {
  std::uint8_t red = 0;
  std::uint8_t green = 0;
  std::uint8_t blue = 0;
};

// A picture to store as an 8-bit BMP, with every header field that tests may want to bend.
struct BmpSpec {
  std::int32_t width = 0;
  std::int32_t height = 0;           // negative: rows stored top row first
  std::vector<std::uint8_t> pixels;  // width * |height| indices, top row first
  std::vector<Rgb> palette;          // empty: a distinct colour per index
  std::uint8_t paddingByte = 0;      // fills each stored row beyond width
  std::uint32_t infoSize = 40;
  std::uint16_t bitCount = 8;
  std::uint32_t compression = 0;
  std::uint32_t coloursUsed = 0;            // palette entries written; 0 writes 256
  std::optional<std::uint32_t> rowsOffset;  // bfOffBits; default right after the palette
  std::optional<std::uint32_t> fileSize;    // bfSize; default the real length
  std::uint8_t reservedByte = 0;            // the fourth byte of each palette entry
};

// The palette used when a spec gives none: entry i is (i, 255 - i, i * 7 mod 256).
std::vector<Rgb> DefaultPalette();

std::vector<std::uint8_t> MakeBmp(const BmpSpec& spec);

// A picture of `width` x `height` filled by `pixel(x, y)`, y counting from the top.
template <typename PixelFunction>
BmpSpec PictureOf(std::int32_t width, std::int32_t height, PixelFunction pixel) {
  BmpSpec spec;
  spec.width = width;
  spec.height = height;
  for (std::int32_t y = 0; y < height; ++y) {
    for (std::int32_t x = 0; x < width; ++x) {
      spec.pixels.push_back(static_cast<std::uint8_t>(pixel(x, y)));
    }
  }
  return spec;
}

struct RecordedMessage {
  MessageOwner owner;
  std::string text;
  bool operator==(const RecordedMessage&) const = default;
};

// A front end that records every status text and message box, in order.
class RecordingHost : public ConverterHost {
 public:
  ConversionSettings settings;
  std::vector<std::string> statusTexts;
  std::vector<RecordedMessage> messages;
  std::vector<std::string> events;  // "status:..", "message:..", "readback", "file:.."
  bool readBackResult = true;

  ConversionSettings Settings() const override { return settings; }
  bool ReadBack() override;
  void SetStatusText(const std::string& text) override;
  void ShowError(MessageOwner owner, std::string_view text) override;
  void OnFileStarting(std::size_t index, std::size_t total, const std::string& path) override;
};

// A fresh folder, removed with everything in it at the end of the test.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::filesystem::path& path() const { return path_; }
  std::string File(const std::string& name) const { return (path_ / name).string(); }

 private:
  std::filesystem::path path_;
};

// Overwrites 2 or 4 bytes of `bytes` at `offset`, little-endian.
void StoreLe16Into(std::vector<std::uint8_t>& bytes, std::size_t offset, std::uint16_t value);
void StoreLe32Into(std::vector<std::uint8_t>& bytes, std::size_t offset, std::uint32_t value);

// A finished process: its exit status (-1 when a signal ended it) and what it printed.
struct ProcessRun {
  int status = -1;
  std::string out;
  std::string err;
};

// `argument` quoted for /bin/sh.
std::string ShellQuote(const std::string& argument);

// Runs kavconv with `arguments`, keeping its output in files inside `scratch`.
ProcessRun RunKavconv(const std::vector<std::string>& arguments, const TempDir& scratch);

void WriteFile(const std::string& path, const std::vector<std::uint8_t>& bytes);
std::vector<std::uint8_t> ReadFile(const std::string& path);
bool FileExists(const std::string& path);
// Names of the entries of a folder, sorted.
std::vector<std::string> ListFolder(const std::filesystem::path& folder);

}  // namespace kav::test
