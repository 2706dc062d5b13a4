#pragma once
// ReadPicture: reads one input file into a Picture with the reader its first bytes call for,
// or says why it cannot. It shows nothing: the front ends turn a failure into a message box
// or a line on standard error, with ReadFailureText.
//
// Every reader is a function of one file in this folder, from the bytes of a ByteSource to a
// ReadResult, with one row in the table of read_picture.cpp: its kind (InputKind), its name,
// the first bytes of its files, the endings of their names and the failure that says a file
// of its kind is corrupt. Its own failures, if any, are values of ReadFailure with their
// texts in the same file.

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <system_error>
#include <utility>
#include <variant>

#include "color/transparency.h"
#include "input/frames.h"
#include "input/picture.h"
#include "platform/byte_source.h"
#include "platform/memory_budget.h"

namespace kav {

// Why a file could not be read, by its result code.
enum class ReadFailure : std::int16_t {
  kCannotOpen = -1,
  kNot8Bit = -2,
  kNotBmp = -3,
  kBmpCorrupt = -4,
  kOutOfMemory = -5,
  kCompressed = -6,
  // -7 is no longer given: every PNG colour type is read.
  kPngCorrupt = -8,
  kTooManyColours = -9,
  kPaletteFileUnreadable = -10,  // the file --palette names, not a picture to convert
  kGifCorrupt = -11,
  kAsepriteCorrupt = -12,
};

// What the user is told of `failure`: "Cannot open this file".
std::string_view ReadFailureText(ReadFailure failure);

// A failed read: why, the kind of input the file was taken for (a BMP when its first bytes
// tell none), and what the system said when a call failed.
struct FailedRead {
  ReadFailure failure = ReadFailure::kBmpCorrupt;
  InputKind kind = InputKind::kBmp;
  std::error_code cause;
};

// A reader's answer: the picture, or why there is none.
class ReadResult {
 public:
  ReadResult(Picture picture) : value_(std::move(picture)) {}
  ReadResult(FailedRead failed) : value_(failed) {}
  ReadResult(ReadFailure failure)
      : value_(FailedRead{.failure = failure, .kind = InputKind::kBmp, .cause = {}}) {}

  explicit operator bool() const { return std::holds_alternative<Picture>(value_); }
  Picture& operator*() { return std::get<Picture>(value_); }
  Picture* operator->() { return &std::get<Picture>(value_); }
  FailedRead& failed() { return std::get<FailedRead>(value_); }
  const FailedRead& failed() const { return std::get<FailedRead>(value_); }

 private:
  std::variant<Picture, FailedRead> value_;
};

// The kind whose signature `first` (the file's first bytes) begins with, if any.
std::optional<InputKind> RecogniseInput(std::span<const std::uint8_t> first);

// Whether `name` ends, in any letter case, as the names of some kind's files do (".bmp",
// ".dib", ".png", ".gif", ".ase", ".aseprite").
bool HasInputExtension(std::string_view name);

// Whether a file named `name` may hold several frames: false when its name ends as only the
// files of kinds that hold one picture do (".bmp", ".png"). Planning asks this before it
// looks into a file, so that a batch of still pictures costs no look at each.
bool MayHoldFrames(std::string_view name);

// The kind's name as the user reads it: "BMP", "PNG".
std::string_view InputKindName(InputKind kind);

// The failure that says a file of `kind` does not hold what it claims ("This BMP file is
// corrupt"): also what a mapped input that shrank while it was converted is.
ReadFailure CorruptFailureOf(InputKind kind);

// Reads the file at `path`. The picture's memory is reserved in `budget` once the file's
// header has told its size, before anything is decoded, waiting while conversions beside it
// leave too little free; a picture larger than the whole budget is refused as out of memory.
ReadResult ReadPicture(const std::string& path, MemoryBudget& budget = PictureMemory());

// The same over any byte source, read from its start (bytes in memory for tests and fuzzing).
// A file of a kind that holds frames (GIF, Aseprite) is read by ReadInput instead; here it
// is refused as corrupt.
ReadResult ReadPicture(ByteSource& source, MemoryBudget& budget = PictureMemory());

// The same, told the rules the picture will get its palette by (input/palette_picture.h): a
// reader that can map a truecolour picture's rows as they come (a PNG's, not interlaced)
// then gives the palette picture at once, or kTooManyColours, with no truecolour picture
// held; others give what ReadPicture gives.
ReadResult ReadPicture(ByteSource& source, MemoryBudget& budget, const TransparencyRules* rules);
ReadResult ReadPicture(const std::string& path, MemoryBudget& budget,
                       const TransparencyRules* rules);

// A file of a kind that holds frames: its bytes (mapped, or read when they cannot be) and
// the frame source over them, which points into them.
struct FrameFile {
  InputKind kind = InputKind::kGif;
  MemoryBlock bytes;
  std::unique_ptr<FrameSource> frames;
};

// Reads the file at `path` as its first bytes say: a picture, or the frames of a file of a
// kind that holds them (opened, none made yet), or why neither can be had.
std::variant<ReadResult, FrameFile> ReadInput(const std::string& path,
                                              MemoryBudget& budget = PictureMemory(),
                                              const TransparencyRules* rules = nullptr);

// What the frames of the file at `path` are, when its first bytes say a kind that holds frames
// and they open; nullopt otherwise (a still picture is not read).
std::optional<FrameSourceInfo> FrameInfoOf(const std::string& path);

// The failure a frame source's status stands for (kOk has none: kBmpCorrupt).
ReadFailure ReadFailureOf(FrameStatus status);

}  // namespace kav
