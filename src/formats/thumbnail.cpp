#include "formats/thumbnail.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <future>

#include "formats/render.h"

namespace kav {
namespace {

constexpr unsigned kLaneBits = 16;
constexpr std::uint64_t kLaneMask = 0xFFFF;
constexpr unsigned kAlphaLane = 3;
constexpr std::uint64_t kOpaque = 255;
// A lane holds 257 pixels of 255 at most, so a packed sum is widened every 256 pixels.
constexpr std::size_t kPackedPixelsMax = 256;
constexpr std::size_t kWordPixels = 8;
constexpr std::uint64_t kEveryByte = 0x0101010101010101u;
constexpr std::size_t kWholeThumbnailBytes = std::size_t{64} << 20;
// A thumbnail drawn on several threads is cut into this many bands per thread: small enough
// to even out threads that run at different speeds, large enough that the picture row each
// band shares with the one before is decoded twice rarely.
constexpr std::uint32_t kBandsPerThread = 8;

std::uint64_t LaneOf(std::uint64_t packed, unsigned lane) {
  return packed >> (kLaneBits * lane) & kLaneMask;
}

// round(numerator / denominator), halves rounded up.
std::uint64_t RoundedQuotient(std::uint64_t numerator, std::uint64_t denominator) {
  return (2 * numerator + denominator) / (2 * denominator);
}

// Where on the other side pixel `target` of `targets` falls among `sources`: the one under
// its centre.
std::uint32_t NearestSource(std::uint32_t target, std::uint32_t sources, std::uint32_t targets) {
  return static_cast<std::uint32_t>((2 * std::uint64_t{target} + 1) * sources /
                                    (2 * std::uint64_t{targets}));
}

// Widens `packed` into `sums`, each lane times `weight`.
void AddWeighted(std::array<std::uint64_t, 4>& sums, std::uint64_t packed, std::uint64_t weight) {
  for (unsigned lane = 0; lane < kRgbaBytes; ++lane) {
    sums[lane] += LaneOf(packed, lane) * weight;
  }
}

// The packed sum of `indices`, at most 256 of them. Eight pixels of the index `blank` in a row
// (the transparent one) add `blankSum` at once; others are added by two sums that do not wait
// on each other.
std::uint64_t SumPacked(const std::array<std::uint64_t, KAV_TABLE_ENTRIES>& pixels,
                        std::uint64_t blank, std::uint64_t blankSum,
                        std::span<const std::uint8_t> indices) {
  std::uint64_t even = 0, odd = 0;
  std::size_t x = 0;
  for (; x + kWordPixels <= indices.size(); x += kWordPixels) {
    std::uint64_t word = 0;
    std::memcpy(&word, indices.subspan(x, kWordPixels).data(), kWordPixels);
    if (word == blank) {
      even += blankSum;
      continue;
    }
    for (std::size_t i = x; i < x + kWordPixels; i += 2) {
      even += pixels[indices[i]];
      odd += pixels[indices[i + 1]];
    }
  }
  for (; x < indices.size(); ++x) {
    even += pixels[indices[x]];
  }
  return even + odd;
}

// How one side of the thumbnail covers the same side of the picture. Picture pixel i spans
// [i * targets, (i + 1) * targets) and thumbnail pixel t spans [t * sources, (t + 1) * sources)
// on a common scale, so every overlap is a whole number: the weight of that picture pixel in
// that thumbnail pixel, the weights of each thumbnail pixel adding up to `sources`.
struct Cover {
  std::uint32_t first = 0;  // the first picture pixel it overlaps, with `firstWeight`
  std::uint32_t last = 0;   // the last, with `lastWeight`; those between weigh `targets` each
  std::uint64_t firstWeight = 0;
  std::uint64_t lastWeight = 0;
};

Cover CoverOf(std::uint32_t target, std::uint32_t sources, std::uint32_t targets) {
  const std::uint64_t low = std::uint64_t{target} * sources;
  const std::uint64_t high = low + sources;
  Cover cover;
  cover.first = static_cast<std::uint32_t>(low / targets);
  cover.last = static_cast<std::uint32_t>((high - 1) / targets);
  if (cover.first == cover.last) {
    cover.firstWeight = sources;
    return cover;
  }
  cover.firstWeight = (std::uint64_t{cover.first} + 1) * targets - low;
  cover.lastWeight = high - std::uint64_t{cover.last} * targets;
  return cover;
}

}  // namespace

ThumbnailSize FitThumbnail(std::uint32_t width, std::uint32_t height, std::uint32_t size) {
  const std::uint32_t longer = std::max(width, height);
  const std::uint32_t shorter = std::min(width, height);
  if (shorter == 0) {
    return {};
  }
  const auto fitted = static_cast<std::uint32_t>(
      std::max<std::uint64_t>(1, RoundedQuotient(std::uint64_t{shorter} * size, longer)));
  return width >= height ? ThumbnailSize{size, fitted} : ThumbnailSize{fitted, size};
}

ThumbnailRows::ThumbnailRows(const kav_image& image, unsigned table, ThumbnailSize size,
                             std::uint32_t firstRow)
    : image_(image),
      size_(size),
      averaging_(size.width < image.width || size.height < image.height),
      transparent_(kav_transparent_index(&image)),
      blank_(transparent_ >= 0 ? kEveryByte * static_cast<std::uint64_t>(transparent_) : 0),
      scratch_(image.width) {
  // The decoder draws every index fully opaque or fully transparent, so premultiplied, an
  // opaque colour stays as it is and a transparent one is 0.
  std::array<std::uint16_t, KAV_TABLE_ENTRIES> colours{};
  kav_read_table(&image, table, colours.data());
  for (std::size_t index = 0; index < colours.size(); ++index) {
    if (static_cast<int>(index) == transparent_) {
      continue;
    }
    const std::array<std::uint8_t, kRgbaBytes> rgba = ToRgba(colours[index]);
    for (unsigned lane = 0; lane < kRgbaBytes; ++lane) {
      pixels_[index] |= std::uint64_t{rgba[lane]} << (kLaneBits * lane);
    }
  }
  blankSum_ = kWordPixels * pixels_[blank_ & 0xFF];
  if (averaging_) {
    PlanColumns();
    // The first picture row that reaches into thumbnail row `firstRow`.
    nextSourceRow_ =
        static_cast<std::uint32_t>(std::uint64_t{firstRow} * image.height / size.height);
  } else {
    for (std::uint32_t x = 0; x < size.width; ++x) {
      nearest_.push_back(NearestSource(x, image.width, size.width));
    }
  }
}

// A partly covered picture column is an edge of the plan; one wholly covered, of weight equal
// to the thumbnail's width, belongs to its inside.
void ThumbnailRows::PlanColumns() {
  std::uint32_t widest = 0;
  for (std::uint32_t x = 0; x < size_.width; ++x) {
    const Cover cover = CoverOf(x, image_.width, size_.width);
    ColumnPlan plan{.from = cover.first, .to = cover.last + 1};
    if (cover.firstWeight < size_.width) {
      plan.from = cover.first + 1;
      plan.left = cover.first;
      plan.leftWeight = cover.firstWeight;
    }
    if (cover.last > cover.first && cover.lastWeight < size_.width) {
      plan.to = cover.last;
      plan.right = cover.last;
      plan.rightWeight = cover.lastWeight;
    }
    widest = std::max(widest, plan.to - plan.from);
    plans_.push_back(plan);
  }
  packedRowsMax_ = static_cast<std::uint32_t>(kPackedPixelsMax / std::max(widest, 1u));
  packed_.resize(size_.width);
  inside_.resize(size_.width);
  edges_.resize(size_.width);
  partial_.resize(size_.width);
  next_.resize(size_.width);
}

void ThumbnailRows::Render(std::uint32_t y, std::span<std::uint8_t> rgba) {
  if (averaging_) {
    AveragedRow(y, rgba);
  } else {
    NearestRow(y, rgba);
  }
}

void ThumbnailRows::NearestRow(std::uint32_t y, std::span<std::uint8_t> rgba) {
  const std::uint32_t row = NearestSource(y, image_.height, size_.height);
  if (decodedRow_ != row) {
    // MZR rows are read where they lie; RLE and RLS rows stay in scratch_ until the next.
    decoded_ = kav_row_indices(&image_, row, scratch_.data());
    decodedRow_ = row;
  }
  if (decoded_ == nullptr) {
    return;
  }
  const std::span<const std::uint8_t> indices(decoded_, image_.width);
  for (std::size_t x = 0; x < nearest_.size() && (x + 1) * kRgbaBytes <= rgba.size(); ++x) {
    const PackedPixel pixel = pixels_[indices[nearest_[x]]];
    for (unsigned lane = 0; lane < kRgbaBytes; ++lane) {
      rgba[x * kRgbaBytes + lane] = static_cast<std::uint8_t>(LaneOf(pixel, lane));
    }
  }
}

// Thumbnail row y spans [y * height, (y + 1) * height) on the common scale of the rows: every
// picture row that begins before its end is added before it is drawn.
void ThumbnailRows::AveragedRow(std::uint32_t y, std::span<std::uint8_t> rgba) {
  const std::uint64_t end = (std::uint64_t{y} + 1) * image_.height;
  while (nextSourceRow_ < image_.height && std::uint64_t{nextSourceRow_} * size_.height < end) {
    AddSourceRow(nextSourceRow_++, y);
  }
  Emit(rgba);
}

// Picture row `row` spans [row * thumbnail height, + thumbnail height): wholly inside
// thumbnail row y, or across its top or bottom.
void ThumbnailRows::AddSourceRow(std::uint32_t row, std::uint32_t y) {
  const std::uint8_t* decoded = kav_row_indices(&image_, row, scratch_.data());
  if (decoded == nullptr) {
    return;
  }
  const std::span<const std::uint8_t> indices(decoded, image_.width);
  const std::uint64_t low = std::uint64_t{row} * size_.height;
  const std::uint64_t high = low + size_.height;
  const std::uint64_t top = std::uint64_t{y} * image_.height;
  const std::uint64_t bottom = top + image_.height;
  const std::uint64_t inCurrent = std::min(high, bottom) - std::max(low, top);
  if (inCurrent == size_.height) {
    AddFullRow(indices);
  } else {
    AddPartialRow(indices, inCurrent, high > bottom ? high - bottom : 0);
  }
}

void ThumbnailRows::AddFullRow(std::span<const std::uint8_t> indices) {
  for (std::size_t x = 0; x < plans_.size(); ++x) {
    const ColumnPlan& plan = plans_[x];
    const std::span<const std::uint8_t> inside = indices.subspan(plan.from, plan.to - plan.from);
    if (packedRowsMax_ > 0) {
      packed_[x] += SumPacked(pixels_, blank_, blankSum_, inside);
    } else {
      for (std::size_t from = 0; from < inside.size(); from += kPackedPixelsMax) {
        AddWeighted(
            inside_[x],
            SumPacked(pixels_, blank_, blankSum_,
                      inside.subspan(from).first(std::min(kPackedPixelsMax, inside.size() - from))),
            1);
      }
    }
    if (plan.leftWeight != 0 || plan.rightWeight != 0) {
      const Sums edges = EdgesOf(plan, indices);
      for (unsigned lane = 0; lane < kRgbaBytes; ++lane) {
        edges_[x][lane] += edges[lane];
      }
    }
  }
  if (packedRowsMax_ > 0 && ++packedRows_ == packedRowsMax_) {
    FlushPacked();
  }
}

// A row across the top or bottom of the thumbnail row: `inCurrent` of its height in it, and
// `inNext` in the next one.
void ThumbnailRows::AddPartialRow(std::span<const std::uint8_t> indices, std::uint64_t inCurrent,
                                  std::uint64_t inNext) {
  for (std::size_t x = 0; x < plans_.size(); ++x) {
    const ColumnPlan& plan = plans_[x];
    Sums sums = EdgesOf(plan, indices);
    const std::span<const std::uint8_t> inside = indices.subspan(plan.from, plan.to - plan.from);
    for (std::size_t from = 0; from < inside.size(); from += kPackedPixelsMax) {
      AddWeighted(
          sums,
          SumPacked(pixels_, blank_, blankSum_,
                    inside.subspan(from).first(std::min(kPackedPixelsMax, inside.size() - from))),
          size_.width);
    }
    for (unsigned lane = 0; lane < kRgbaBytes; ++lane) {
      partial_[x][lane] += sums[lane] * inCurrent;
      next_[x][lane] += sums[lane] * inNext;
    }
  }
}

void ThumbnailRows::FlushPacked() {
  for (std::size_t x = 0; x < packed_.size(); ++x) {
    AddWeighted(inside_[x], packed_[x], 1);
    packed_[x] = 0;
  }
  packedRows_ = 0;
}

ThumbnailRows::Sums ThumbnailRows::EdgesOf(const ColumnPlan& plan,
                                           std::span<const std::uint8_t> indices) const {
  Sums sums{};
  AddWeighted(sums, pixels_[indices[plan.left]], plan.leftWeight);
  AddWeighted(sums, pixels_[indices[plan.right]], plan.rightWeight);
  return sums;
}

// Every thumbnail pixel's weights add up to width x height of the picture: alpha is the
// average, and the colour the premultiplied average divided by it. The next row then starts
// with what it already has.
void ThumbnailRows::Emit(std::span<std::uint8_t> rgba) {
  FlushPacked();
  const std::uint64_t area = std::uint64_t{image_.width} * image_.height;
  const std::uint64_t insideWeight = std::uint64_t{size_.width} * size_.height;
  for (std::size_t x = 0; x < plans_.size() && (x + 1) * kRgbaBytes <= rgba.size(); ++x) {
    Sums sums{};
    for (unsigned lane = 0; lane < kRgbaBytes; ++lane) {
      sums[lane] =
          inside_[x][lane] * insideWeight + edges_[x][lane] * size_.height + partial_[x][lane];
    }
    const std::uint64_t alpha = RoundedQuotient(sums[kAlphaLane], area);
    for (unsigned lane = 0; lane < kAlphaLane; ++lane) {
      rgba[x * kRgbaBytes + lane] = static_cast<std::uint8_t>(
          alpha == 0 ? 0 : RoundedQuotient(sums[lane] * kOpaque, sums[kAlphaLane]));
    }
    rgba[x * kRgbaBytes + kAlphaLane] = static_cast<std::uint8_t>(alpha);
  }
  std::fill(inside_.begin(), inside_.end(), Sums{});
  std::fill(edges_.begin(), edges_.end(), Sums{});
  std::swap(partial_, next_);
  std::fill(next_.begin(), next_.end(), Sums{});
}

std::vector<std::uint8_t> DrawThumbnail(const kav_image& image, unsigned table, ThumbnailSize size,
                                        unsigned threads) {
  const std::size_t rowBytes = std::size_t{size.width} * kRgbaBytes;
  std::vector<std::uint8_t> rgba(rowBytes * size.height);
  const std::uint32_t workers = std::clamp<std::uint32_t>(threads, 1, std::max(size.height, 1u));
  const std::uint32_t bands = std::min(size.height, workers == 1 ? 1 : workers * kBandsPerThread);
  std::atomic<std::uint32_t> nextBand{0};
  // Each worker takes the next band not yet taken, so a thread slowed by other work (the
  // check of the file) takes fewer.
  const auto work = [&] {
    for (std::uint32_t band = nextBand++; band < bands; band = nextBand++) {
      const auto first = static_cast<std::uint32_t>(std::uint64_t{size.height} * band / bands);
      const auto end = static_cast<std::uint32_t>(std::uint64_t{size.height} * (band + 1) / bands);
      ThumbnailRows rows(image, table, size, first);
      for (std::uint32_t y = first; y < end; ++y) {
        rows.Render(y, std::span(rgba).subspan(y * rowBytes, rowBytes));
      }
    }
  };
  // The other workers on threads of their own (or, where none can be started, here when their
  // results are asked for, with nothing left to take); one here meanwhile.
  std::vector<std::future<void>> others;
  for (std::uint32_t worker = 1; worker < workers; ++worker) {
    others.push_back(std::async(std::launch::async | std::launch::deferred, work));
  }
  work();
  for (std::future<void>& other : others) {
    other.get();
  }
  return rgba;
}

Thumbnail::Thumbnail(const kav_image& image, unsigned table, ThumbnailSize size, unsigned threads)
    : rowBytes_(std::size_t{size.width} * kRgbaBytes) {
  if (rowBytes_ * size.height <= kWholeThumbnailBytes) {
    whole_ = DrawThumbnail(image, table, size, threads);
  } else {
    rows_.emplace(image, table, size);
  }
}

void Thumbnail::Render(std::uint32_t y, std::span<std::uint8_t> rgba) {
  if (rows_) {
    rows_->Render(y, rgba);
    return;
  }
  const std::span<const std::uint8_t> row = std::span(whole_).subspan(y * rowBytes_, rowBytes_);
  std::copy(row.begin(), row.end(), rgba.begin());
}

}  // namespace kav
