#pragma once
// What a front end (the dialog, the command line, a test) offers the batch and the writers:
// the settings, read back from its controls before every file; the status line; message
// boxes; and, for long batches, progress and a way to stop.
//
// The core reports failure in three ways, and no other (it throws nothing of its own):
// - a reader returns a failure value (input/read_picture.h) and shows nothing itself;
// - a writer (ConvertToMzr, ConvertToRle, ConvertToRls) returns whether it succeeded, having
//   told the user through this host: a message box, then its status line;
// - a decoder of converted files returns an error holding the file offset of the fault and
//   why, which kavconv info prints.

#include <cstdint>
#include <string>

#include "platform/message_box.h"

namespace kav {

// Values of ConversionSettings::format. Every value but 1 and 2 selects MZR (-1 is "no
// format button selected").
inline constexpr std::int32_t kFormatMzr = 0;
inline constexpr std::int32_t kFormatRle = 1;
inline constexpr std::int32_t kFormatRls = 2;

// What a conversion writes: the binary file, a C header holding its bytes (named after it
// plus ".h"), or both, the header after the binary.
enum class Emit : std::uint8_t { kBinary, kHeader, kBoth };

// The settings of one conversion. The initialisers are the defaults every front end starts
// with; nothing else states them.
struct ConversionSettings {
  std::int32_t format = kFormatRle;
  std::int32_t startColor = 240;
  std::int32_t endColor = 255;
  std::int32_t transparentColor = 0;
  bool useRemapping = true;
  Emit emitted = Emit::kBinary;
  std::string headerName{};  // the C header's array; empty: named after the output file
};

class ConverterHost : public MessageBoxes {
 public:
  // The settings as they stood after the last read back.
  virtual ConversionSettings Settings() const = 0;
  // Reads the controls back into the settings, with validation; false when a value failed
  // (the front end has then told the user which).
  virtual bool ReadBack() = 0;
  // Sets the status line and publishes it at once.
  virtual void SetStatusText(const std::string& text) = 0;

  // Called by the batch before each file (index counts from 0).
  virtual void OnFileStarting(std::size_t /*index*/, std::size_t /*total*/,
                              const std::string& /*path*/) {}
  // Asked by the batch after each file: true stops it before the next one.
  virtual bool StopRequested() { return false; }
  // Asked by a writer once its output is complete, just before putting it in place: false
  // abandons it unseen, because the batch has stopped before this file.
  virtual bool OutputStillWanted() { return true; }
};

}  // namespace kav
