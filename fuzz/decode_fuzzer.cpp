// Any bytes through the decoders of every format, keeping the pixels and checking only,
// and through rendering when they decode.

#include <cstdint>
#include <span>
#include <variant>
#include <vector>

#include "formats/decode.h"
#include "formats/render.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::span<const std::uint8_t> bytes(data, size);
  const kav::DecodeResult kept = kav::DecodeFile(bytes, kav::PixelOutput::kKeep);
  const kav::DecodeResult checked = kav::DecodeFile(bytes, kav::PixelOutput::kCheckOnly);
  if (kept.index() != checked.index()) {
    __builtin_trap();  // keeping the pixels must not change the verdict
  }
  const auto* image = std::get_if<kav::DecodedImage>(&kept);
  if (image == nullptr) {
    return 0;
  }
  if (image->indices.size() != std::size_t{image->width} * image->height) {
    __builtin_trap();
  }
  std::vector<std::uint8_t> rgba(std::size_t{image->width} * kav::kRgbaBytes);
  const std::uint32_t rows = image->height < 4 ? image->height : 4;
  for (std::uint32_t y = 0; y < rows; ++y) {
    kav::RenderRow(*image, kav::DefaultTableOf(image->kind), y, rgba);
  }
  return 0;
}
