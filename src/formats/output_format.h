#pragma once
// The output formats, each as one row of a table (output_format.cpp) that everything else
// asks: the command line's name for it, the extension of its files' names, the bytes they
// begin with, the indices its rows code as runs, the writer, and how a front end speaks of
// it. A writer is a function of one file in this folder; a new format is that file, a value
// of OutputFormat (formats/conversion.h) and a row.

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "color/transparency.h"
#include "formats/conversion.h"
#include "input/picture.h"

namespace kav {

// The palette indices a format codes as runs, at most two (MZR codes none). The coder asks
// about every run and stretch it meets, so each index is also a bit of a 256-bit set.
class RunCodedIndices {
 public:
  static constexpr std::size_t kMaxIndices = 2;

  constexpr RunCodedIndices() = default;
  constexpr RunCodedIndices(std::uint8_t first) : indices_{first}, count_(1) { Mark(first); }
  constexpr RunCodedIndices(std::uint8_t first, std::uint8_t second)
      : indices_{first, second}, count_(2) {
    Mark(first);
    Mark(second);
  }

  constexpr bool Contains(std::uint8_t index) const {
    return (bits_[index / 64] >> (index % 64) & 1) != 0;
  }
  constexpr std::span<const std::uint8_t> Indices() const {
    return std::span(indices_).first(count_);
  }

 private:
  constexpr void Mark(std::uint8_t index) { bits_[index / 64] |= std::uint64_t{1} << (index % 64); }

  std::array<std::uint8_t, kMaxIndices> indices_{};
  std::size_t count_ = 0;
  std::array<std::uint64_t, 4> bits_{};
};

class HeldOutputs;

// Where a writer puts its files.
struct OutputTarget {
  std::string path;          // the output (its C header goes beside it, named path + ".h")
  std::string source;        // the picture's file, which no output may replace
  OutputWanted stillWanted;  // empty: always wanted
  // Where complete outputs wait to be put in place together, instead of each at once (the
  // frames of one file); null: each goes in place as soon as it is written.
  HeldOutputs* held = nullptr;
};

// Writes `picture` as the settings ask, giving back its memory once it is no longer needed.
using PictureWriter = Conversion (*)(Picture& picture, const ConversionSettings& settings,
                                     const OutputTarget& target);

struct OutputFormatInfo {
  OutputFormat format;
  std::string_view name;       // as kavconv's --format takes it, in lower case
  std::string_view extension;  // replaces the source's in the output's name
  std::string_view signature;  // the bytes every file of the format begins with
  RunCodedIndices runCoded;
  // The index the format always draws transparent, T for every input; none for MZR, whose T
  // is its transparent colour, drawn transparent only with remapping on.
  std::optional<std::uint8_t> blankIndex;
  // Whether the dialog's batch ends at a file that fails in this format.
  bool failureEndsBatch;
  // The status line of each file written, "%s" standing for its path, and the status line
  // after the source could not be read, "%s" standing for the name of its kind ("BMP").
  const char* writtenStatus;
  const char* unreadableStatus;
  PictureWriter write;
};

// Every format, in the order of OutputFormat.
std::span<const OutputFormatInfo> OutputFormats();
const OutputFormatInfo& FormatOf(OutputFormat format);

// Which pixels the settings make transparent and the index T they take in their format.
TransparencyRules TransparencyRulesOf(const ConversionSettings& settings);

}  // namespace kav
