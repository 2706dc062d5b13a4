#pragma once
// One conversion: the settings it is asked for with, and what it came to. A writer returns the
// outcome as a value and shows nothing; the front ends turn it into a status line, a message
// box or a line on standard error, and into an exit status.

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <system_error>
#include <vector>

#include "color/ordered_dither.h"
#include "color/palette.h"
#include "input/palette_picture.h"
#include "input/read_picture.h"

namespace kav {

// The output formats, in the order of the dialog's buttons (formats/output_format.h holds
// what each one is). Stored as an int, which CLI11 turns a name into by its decimal digits.
enum class OutputFormat : int { kMzr, kRle, kRls };

// What a conversion writes: the binary file, a C header holding its bytes (named after it
// plus ".h"), or both, the header after the binary.
enum class Emit : std::uint8_t { kBinary, kHeader, kBoth };

// The settings of one conversion. The initialisers are the defaults every front end starts
// with; nothing else states them. Only the MZR writer reads the four colour settings; the
// transparent colour and the transparency settings also decide, before writing, which pixels
// are transparent (formats/output_format.h).
struct ConversionSettings {
  OutputFormat format = OutputFormat::kRle;
  std::int32_t startColor = 240;
  std::int32_t endColor = 255;
  std::int32_t transparentColor = 0;
  bool useRemapping = true;
  // A pixel whose alpha is below the threshold (1..255) is transparent; --keep-indices keeps
  // a palette input's indices as stored, its alpha ignored.
  std::int32_t alphaThreshold = 128;
  bool keepIndices = false;
  Emit emitted = Emit::kBinary;
  // The C header's array: `headerPrefix`, then `headerName` or, without one, the output's
  // path from `headerFolder` on ("ui/" and "ui/hero.RLE" give "ui_hero_RLE"), made an
  // identifier (CIdentifierFor). `headerFolder` is each file's own: the folder of its output
  // below the one that names start from (--output-dir or the folder argument), with a '/'.
  std::string headerName{};
  std::string headerPrefix{};
  std::string headerFolder{};
  // The one frame to convert (from 0), into the plain output name; none: every frame, each
  // into its own output (a picture of one frame is its frame 0).
  std::optional<std::uint32_t> frame{};
  // The palette every output takes (kavconv's --palette), read once from `paletteFile`
  // before the batch; none: each picture keeps or gets its own.
  std::string paletteFile{};
  std::shared_ptr<const RgbPalette> palette{};
  Dither dither = Dither::kNone;
  // Whether a picture with more colours than the format holds is reduced, or refused.
  bool reduce = true;
};

// Whether an output is still wanted, asked once it is complete and just before it is put in
// place: false abandons it unseen, because the batch has stopped before its file.
using OutputWanted = std::function<bool()>;

enum class Outcome : std::uint8_t {
  kWritten,        // every file asked for is in place
  kUpToDate,       // nothing written: every file asked for was up to date
  kUnreadable,     // the source could not be read; Conversion::read says why
  kSourceDamaged,  // the source file shrank while it was converted
  kNoPixels,       // the picture is 0 pixels wide or high, which the format cannot hold
  kTooLarge,       // the picture does not fit the format
  kOutOfMemory,    // the writer's own memory could not be had
  kCannotCreate,   // an output could not be made; Conversion::cause says why
  kCannotWrite,    // an output could not be written or put in place; Conversion::cause says why
  kNotWanted,      // the output was abandoned unseen
  kNoSuchFrame,    // the settings' frame is past the source's last frame
};

// What one conversion came to.
struct Conversion {
  OutputFormat format = OutputFormat::kRle;
  Outcome outcome = Outcome::kWritten;
  // The files put in place (or found up to date), in the order they were written; a failure
  // can follow some of them.
  std::vector<std::string> files;
  // What the system said of the failed call, or the rule that refused an output.
  std::error_code cause;
  // Why the source could not be read; for a source damaged meanwhile, the failure that says
  // its kind of file is corrupt.
  FailedRead read{};
  // Whether parts of the source that draw something were left out (Aseprite tilemap layers,
  // chunks of unknown kinds).
  bool skippedContent = false;
  // The distinct opaque colours found and the count they were reduced to, when they were.
  std::optional<ColourReduction> reduction{};
};

// A conversion that came to `outcome` with nothing written.
inline Conversion NothingWritten(Outcome outcome) {
  Conversion conversion;
  conversion.outcome = outcome;
  return conversion;
}

// Whether the conversion did what it was asked: written, or up to date.
inline bool Succeeded(const Conversion& conversion) {
  return conversion.outcome == Outcome::kWritten || conversion.outcome == Outcome::kUpToDate;
}

}  // namespace kav
