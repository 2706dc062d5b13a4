#pragma once
// Shared test helpers: BMP files built in memory and encoded by every writer, a front end that
// records what it is told, failing and counted blocks, temporary folders, files and kavconv
// processes.

#include <sys/types.h>

#include <array>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "convert/converter_host.h"
#include "formats/mzr.h"
#include "kav/kav_formats.h"

namespace kav {

enum class FileKind { kMzr = KAV_KIND_MZR, kRle = KAV_KIND_RLE, kRls = KAV_KIND_RLS };
inline std::string_view FileKindName(FileKind kind) {
  return kav_kind_name(static_cast<kav_kind>(kind));
}

}  // namespace kav

namespace kav::test {

using Bytes = std::vector<std::uint8_t>;

struct Rgb {
  std::uint8_t red = 0, green = 0, blue = 0;
};

// A picture stored as a BMP with a 40-byte header, with the header fields tests bend.
struct BmpPicture {
  std::int32_t width = 0;
  std::int32_t height = 0;                // negative: rows stored top row first
  std::vector<std::uint8_t> pixels = {};  // width * |height| indices, top row first
  std::vector<Rgb> palette = {};          // empty: entry i is (i, 255 - i, i * 7 mod 256)
  std::uint8_t paddingByte = 0;           // fills each stored row beyond width
  std::uint16_t bitCount = 8;
  std::uint32_t compression = 0;
  std::uint32_t coloursUsed = 0;     // palette entries written; 0 writes 256
  std::uint8_t reservedByte = 0;     // the fourth byte of each palette entry
  std::optional<Bytes> stored = {};  // stored after the palette instead of the rows
};

Bytes MakeBmp(const BmpPicture& spec);

// A picture of `width` x `height` filled by `pixel(x, y)`, y counting from the top.
template <typename PixelFunction>
BmpPicture PictureOf(std::int32_t width, std::int32_t height, PixelFunction pixel) {
  BmpPicture spec{.width = width, .height = height};
  for (std::int32_t y = 0; y < height; ++y) {
    for (std::int32_t x = 0; x < width; ++x) {
      spec.pixels.push_back(static_cast<std::uint8_t>(pixel(x, y)));
    }
  }
  return spec;
}

// A PNG chunk of `type` holding `data`, with its length and CRC.
Bytes PngChunk(std::string_view type, const Bytes& data);

// A BMP file encoded in memory by the writer of `kind`.
Bytes Encode(const Bytes& file, FileKind kind, const ConversionSettings& settings = {});
inline Bytes Encode(const BmpPicture& spec, FileKind kind,
                    const ConversionSettings& settings = {}) {
  return Encode(MakeBmp(spec), kind, settings);
}

// `file` opened by the decoder (which keeps pointing into it), or nothing when it is refused.
std::optional<kav_image> Open(const Bytes& file);

// Every palette index of a converted file, top row first, decoded row by row; a test failure
// and no indices when the decoder refuses the file.
Bytes Decode(const Bytes& file);

// Bytes [from, to) of `bytes` (to the end when `to` is 0), as far as they exist.
Bytes Slice(const Bytes& bytes, std::size_t from, std::size_t to = 0);
std::uint16_t Le16(const Bytes& bytes, std::size_t at);
// `bytes` with each field's `size` bytes at `at` replaced by its value, little-endian.
struct Field {
  std::size_t at, size;
  std::uint32_t value;
};
Bytes With(Bytes bytes, std::initializer_list<Field> fields);

// The three file writers and how each reports.
struct Writer {
  FileKind kind;
  OutputFormat format;
  std::string loadErrorStatus;  // the status line after a BMP could not be read
  std::string successPrefix;    // the status line on success: prefix, path, " converted!"
  // Converts `source` into `output` in this format with the host's other settings, as a batch
  // does, and reports to `host`; true when it succeeded.
  bool Convert(ConverterHost& host, const std::string& source, const std::string& output) const;
};
extern const std::array<Writer, 3> kWriters;

// A front end that records what it is told, in order: "status:TEXT", "message:TEXT" (a box
// without owner), "dialog:TEXT" (a box owned by the main dialog), "readback" and "file:PATH".
class RecordingHost : public ConverterHost {
 public:
  ConversionSettings settings;
  std::vector<std::string> events;
  std::string lastCause;  // of the last box
  bool readBackResult = true;

  ConversionSettings Settings() const override { return settings; }
  bool ReadBack() override { return events.push_back("readback"), readBackResult; }
  void SetStatusText(const std::string& text) override { events.push_back("status:" + text); }
  void ShowError(MessageOwner owner, std::string_view text, std::string_view cause) override {
    events.push_back((owner == MessageOwner::kNone ? "message:" : "dialog:") + std::string(text));
    lastCause = cause;
  }
  void OnFileStarting(std::size_t, std::size_t, const std::string& path) override {
    events.push_back("file:" + path);
  }
};

// The tests' side of the seams of platform/test_seams.h. AllocationFaults::FailNth(n) makes
// the n-th block request from the call fail (n >= 1); LiveBlocks() counts the blocks anyone
// in this process holds; AllowUnnamedOutputFiles(false) makes every output start as a hidden
// temporary file, where by default unnamed files are used where the system can.
struct AllocationFaults {
  static void FailNth(std::uint64_t n);
  static void Clear() { FailNth(0); }
};
std::size_t LiveBlocks();
void AllowUnnamedOutputFiles(bool allowed);
// RefuseFolderWatches(true) makes every folder --watch adds fail with ENOSPC;
// LoseWatchEvents(n) drops the next n batches of events it reads, as an overflow does.
void RefuseFolderWatches(bool refused);
void LoseWatchEvents(int batches);
// KeepPaletteTables(false) makes the writers build a palette's colour tables for every file.
void KeepPaletteTables(bool kept);

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

void WriteFile(const std::string& path, const Bytes& bytes);
Bytes ReadFile(const std::string& path);
std::vector<std::string> ListFolder(const std::filesystem::path& folder);  // sorted names

// A finished kavconv: its exit status (-1 when a signal ended it) and what it printed.
struct ProcessRun {
  int status = -1;
  std::string out, err;
};

// The exit status of a kavconv child whose `prepare` failed.
inline constexpr int kCannotPrepare = 77;

// Starts kavconv with `arguments`, stdout and stderr going to the files `out` and `err`,
// after `prepare` (limits, privileges) has run in the child.
pid_t StartKavconv(const std::vector<std::string>& arguments, const std::string& out,
                   const std::string& err, const std::function<bool()>& prepare = {});
int ExitStatusOf(pid_t child);  // -1 when a signal ended it
// For `prepare`: standard output a pipe whose reader has gone, as in `kavconv ... | head -1`
// once head has ended, with SIGPIPE at its default, as a shell leaves it.
bool StdoutToClosedPipe();
// Runs kavconv to its end, its output kept in files inside `scratch` meanwhile.
ProcessRun RunKavconv(const std::vector<std::string>& arguments, const TempDir& scratch,
                      const std::function<bool()>& prepare = {});

}  // namespace kav::test
