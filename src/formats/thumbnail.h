#pragma once
// Thumbnails of converted files: one colour table drawn to fit a square, row by row. Picture
// rows are decoded one at a time and folded into the thumbnail's rows as they come, so a
// picture of any size needs memory for one of its rows and a few thumbnail rows only.

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "kav/kav_formats.h"

namespace kav {

struct ThumbnailSize {
  std::uint32_t width = 0;
  std::uint32_t height = 0;
};

// The size of a width x height picture fitted to size x size: the longer side becomes `size`,
// the shorter round(shorter x size / longer), halves rounded up, and at least 1. A picture
// without pixels (an MZR file may be 0 pixels wide or high) has none: 0 x 0.
ThumbnailSize FitThumbnail(std::uint32_t width, std::uint32_t height, std::uint32_t size);

// The thumbnail of an opened file through colour table `table`, as 4 bytes a pixel (red,
// green, blue, alpha), of a size FitThumbnail gives for its picture (not 0 x 0). The decoder
// reads only inside the file whatever its codes, so drawing may go on while the file is
// checked; a damaged file's pixels are wrong, and the thumbnail is then thrown away. A thumbnail at
// least as large as the picture takes each pixel's nearest picture pixel; a smaller one averages
// the picture pixels it covers, weighted by area, over premultiplied alpha, so transparent pixels
// add no colour. Pixels that come out fully transparent are 0, 0, 0, 0.
class ThumbnailRows {
 public:
  ThumbnailRows(const kav_image& image, unsigned table, ThumbnailSize size,
                std::uint32_t firstRow = 0);
  // Row `y` into the first width * 4 bytes of `rgba`; rows are asked for in order from
  // `firstRow` on, each once.
  void Render(std::uint32_t y, std::span<std::uint8_t> rgba);

 private:
  // Premultiplied red, green, blue and alpha of a palette index, each 0 to 255 in a 16-bit
  // lane (red lowest), so that up to 257 pixels add up in one 64-bit word.
  using PackedPixel = std::uint64_t;
  using Sums = std::array<std::uint64_t, 4>;  // the four lanes widened
  // A thumbnail column's cover as whole picture columns: [from, to) of full weight (as wide as
  // the thumbnail, `targets`), and a partly covered one on either side, of weight 0 if none.
  struct ColumnPlan {
    std::uint32_t from = 0, to = 0;
    std::uint32_t left = 0, right = 0;
    std::uint64_t leftWeight = 0, rightWeight = 0;
  };

  void PlanColumns();
  void NearestRow(std::uint32_t y, std::span<std::uint8_t> rgba);
  void AveragedRow(std::uint32_t y, std::span<std::uint8_t> rgba);
  void AddSourceRow(std::uint32_t row, std::uint32_t y);
  void AddFullRow(std::span<const std::uint8_t> indices);
  void AddPartialRow(std::span<const std::uint8_t> indices, std::uint64_t inCurrent,
                     std::uint64_t inNext);
  void FlushPacked();
  Sums EdgesOf(const ColumnPlan& plan, std::span<const std::uint8_t> indices) const;
  void Emit(std::span<std::uint8_t> rgba);

  const kav_image& image_;
  ThumbnailSize size_;
  bool averaging_;
  std::array<PackedPixel, KAV_TABLE_ENTRIES> pixels_{};
  int transparent_;  // the transparent index, -1 for none
  // Eight transparent indices (eight 0 when there are none), and what they add up to.
  std::uint64_t blank_;
  PackedPixel blankSum_ = 0;
  std::vector<std::uint8_t> scratch_;      // one decoded picture row
  const std::uint8_t* decoded_ = nullptr;  // the last picture row decoded, `decodedRow_`
  std::int64_t decodedRow_ = -1;           // -1 for none
  std::vector<std::uint32_t> nearest_;     // scaling up: the picture column of each column
  // Scaling down, for each thumbnail column: its plan, and the sums gathered for the row being
  // made. Rows that lie wholly in it add their full-weight pixels unweighted, first packed
  // (for up to `packedRowsMax_` rows, 0 when a plan is too wide to pack), then in `inside_`;
  // their edges weighted across; the rows that straddle its top or bottom weighted whole.
  std::vector<ColumnPlan> plans_;
  std::vector<PackedPixel> packed_;
  std::uint32_t packedRows_ = 0;
  std::uint32_t packedRowsMax_ = 0;
  std::vector<Sums> inside_;
  std::vector<Sums> edges_;
  std::vector<Sums> partial_;
  std::vector<Sums> next_;  // the part of the next row already seen
  std::uint32_t nextSourceRow_ = 0;
};

// The whole thumbnail, width * height * 4 bytes, drawn on `threads` threads (at least 1): its
// rows cut into bands, each band made by a ThumbnailRows of its own.
std::vector<std::uint8_t> DrawThumbnail(const kav_image& image, unsigned table, ThumbnailSize size,
                                        unsigned threads);

// A thumbnail's rows in order, as a PNG writer takes them. One of up to 64 MiB (4096 x 4096) is
// drawn whole at first, on `threads` threads; a larger one row by row as asked for.
class Thumbnail {
 public:
  Thumbnail(const kav_image& image, unsigned table, ThumbnailSize size, unsigned threads);
  // Row `y` into the first width * 4 bytes of `rgba`; rows are asked for top row first.
  void Render(std::uint32_t y, std::span<std::uint8_t> rgba);

 private:
  std::size_t rowBytes_;
  std::vector<std::uint8_t> whole_;
  std::optional<ThumbnailRows> rows_;
};

}  // namespace kav
