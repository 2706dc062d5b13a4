#include "formats/output_format.h"

#include "formats/mzr.h"
#include "formats/run_length.h"

namespace kav {
namespace {

constexpr std::array kFormats{
    OutputFormatInfo{.format = OutputFormat::kMzr,
                     .name = "mzr",
                     .extension = "MZR",
                     .signature = kMzrMagic,
                     .runCoded = {},
                     .blankIndex = std::nullopt,
                     .failureEndsBatch = true,
                     .writtenStatus = "%s converted!",
                     .unreadableStatus = "Error while converting!",
                     .write = WriteMzr},
    OutputFormatInfo{.format = OutputFormat::kRle,
                     .name = "rle",
                     .extension = "RLE",
                     .signature = kRleSignature,
                     .runCoded = {kBlankIndex},
                     .blankIndex = kBlankIndex,
                     .failureEndsBatch = false,
                     .writtenStatus = "SUCCESS!!  %s converted!",
                     .unreadableStatus = "Error while loading %s file!",
                     .write = WriteRunLength},
    OutputFormatInfo{.format = OutputFormat::kRls,
                     .name = "rls",
                     .extension = "RLE",
                     .signature = kRlsSignature,
                     .runCoded = {kBlankIndex, kShadowIndex},
                     .blankIndex = kBlankIndex,
                     .failureEndsBatch = false,
                     .writtenStatus = "SUCCESS!!  %s converted!",
                     .unreadableStatus = "Error while loading %s file!",
                     .write = WriteRunLength},
};

constexpr bool InFormatOrder() {
  for (std::size_t i = 0; i < kFormats.size(); ++i) {
    if (static_cast<std::size_t>(kFormats[i].format) != i) {
      return false;
    }
  }
  return true;
}
static_assert(InFormatOrder(), "FormatOf() finds a format's row by its value");

}  // namespace

std::span<const OutputFormatInfo> OutputFormats() {
  return kFormats;
}

const OutputFormatInfo& FormatOf(OutputFormat format) {
  return kFormats.at(static_cast<std::size_t>(format));
}

TransparencyRules TransparencyRulesOf(const ConversionSettings& settings) {
  const std::optional<std::uint8_t> blank = FormatOf(settings.format).blankIndex;
  return {.transparentIndex = blank.value_or(static_cast<std::uint8_t>(settings.transparentColor)),
          .formatDrawsTransparent = blank.has_value() || settings.useRemapping,
          .alphaThreshold = static_cast<std::uint8_t>(settings.alphaThreshold),
          .keepIndices = settings.keepIndices};
}

}  // namespace kav
