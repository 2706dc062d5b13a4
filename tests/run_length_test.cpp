// RLE and RLS bytes: the worked examples byte for byte, the effect tables, and widths around
// every segment boundary checked against a plain segment-by-segment coder and by walking
// each file's offset tables the way a reader would.

#include "formats/run_length.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <string>
#include <utility>
#include <vector>

#include "color/effects.h"
#include "platform/byte_source.h"
#include "support/test_support.h"

namespace kav {
namespace {

using test::BmpSpec;
using test::MakeBmp;
using test::PictureOf;
using Bytes = std::vector<std::uint8_t>;

// The file layout every expectation below is written against.
static_assert(kRlDataSizeOffset == 2 && kRlWidthOffset == 6 && kRlHeightOffset == 8);
static_assert(kEffectTablesOffset == 10 && kEffectTablesBytes == 4096);
static_assert(kRowTableSizeOffset == 4106 && kAllRowTablesSizeOffset == 4110);
static_assert(kSegmentCountOffset == 4114 && kRlPaddingOffset == 4116);
static_assert(kRowTablesOffset == 4118 && kRunLengthHeaderSize == 4116);

constexpr RunLengthVariant kVariants[] = {RunLengthVariant::kRle, RunLengthVariant::kRls};

std::string NameOf(RunLengthVariant variant) {
  return variant == RunLengthVariant::kRls ? "RLS" : "RLE";
}

bool Runs(RunLengthVariant variant, std::uint8_t index) {
  return index == 255 || (variant == RunLengthVariant::kRls && index == 250);
}

std::uint32_t Le32(const Bytes& bytes, std::size_t at) {
  return std::uint32_t{bytes.at(at)} | std::uint32_t{bytes.at(at + 1)} << 8 |
         std::uint32_t{bytes.at(at + 2)} << 16 | std::uint32_t{bytes.at(at + 3)} << 24;
}

std::uint16_t Le16(const Bytes& bytes, std::size_t at) {
  return static_cast<std::uint16_t>(bytes.at(at) | bytes.at(at + 1) << 8);
}

void PutLe32(Bytes& out, std::uint32_t value) {
  for (unsigned i = 0; i < 4; ++i) {
    out.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
  }
}

void PutLe16(Bytes& out, std::uint16_t value) {
  out.push_back(static_cast<std::uint8_t>(value));
  out.push_back(static_cast<std::uint8_t>(value >> 8));
}

Bytes Slice(const Bytes& bytes, std::size_t from, std::size_t to) {
  if (to > bytes.size() || from > to) {
    ADD_FAILURE() << "slice " << from << ".." << to << " of " << bytes.size() << " bytes";
    return {};
  }
  return {bytes.begin() + static_cast<std::ptrdiff_t>(from),
          bytes.begin() + static_cast<std::ptrdiff_t>(to)};
}

// A picture as the writer sees it: stored as a BMP, read back and viewed.
class Loaded {
 public:
  explicit Loaded(const BmpSpec& spec) : file_(MakeBmp(spec)) {
    MemorySource source(file_);
    test::RecordingHost host;
    EXPECT_EQ(ReadBmp8(source, host, bitmap_), kBmpOk);
    view_ = ViewBitmap(bitmap_);
    EXPECT_TRUE(view_.has_value());
  }
  const BitmapView& view() const { return *view_; }

 private:
  Bytes file_;
  LoadedBitmap bitmap_;
  std::optional<BitmapView> view_;
};

Bytes Encode(const BmpSpec& spec, RunLengthVariant variant) {
  const Loaded loaded(spec);
  EXPECT_EQ(CheckRunLengthSize(loaded.view()), RunLengthRefusal::kNone);
  return EncodeRunLength(loaded.view(), variant);
}

std::vector<Bytes> RowsOf(const BmpSpec& spec) {
  const auto width = static_cast<std::size_t>(spec.width);
  std::vector<Bytes> rows;
  for (std::size_t at = 0; at < spec.pixels.size(); at += width) {
    rows.push_back(Slice(spec.pixels, at, at + width));
  }
  return rows;
}

// --- A plain coder and a reader -----------------------------------------------------------

// One row coded segment by segment; `starts` gets where each segment's codes begin.
Bytes PlainCodedRow(const Bytes& row, RunLengthVariant variant,
                    std::vector<std::uint32_t>& starts) {
  starts.clear();
  const std::size_t segments = (row.size() + 127) / 128;
  if (std::all_of(row.begin(), row.end(), [](std::uint8_t p) { return p == 255; })) {
    starts.assign(segments, 0);
    return {255, 255};
  }
  Bytes out;
  for (std::size_t first = 0; first < row.size(); first += 128) {
    starts.push_back(static_cast<std::uint32_t>(out.size()));
    const std::size_t end = std::min(first + 128, row.size());
    for (std::size_t x = first; x < end;) {
      const std::uint8_t p = row[x];
      if (!Runs(variant, p)) {
        out.push_back(p);
        ++x;
        continue;
      }
      std::size_t last = x;
      while (last < end && row[last] == p) {
        ++last;
      }
      out.push_back(p);
      out.push_back(static_cast<std::uint8_t>(last - x));
      x = last;
    }
  }
  return out;
}

// The whole file as it should be, the effect tables taken from BuildEffectTables (checked
// against worked values on their own below).
Bytes PlainFile(const BmpSpec& spec, RunLengthVariant variant, PaletteBytes palette) {
  const auto width = static_cast<std::uint32_t>(spec.width);
  const auto height = static_cast<std::uint32_t>(spec.height < 0 ? -spec.height : spec.height);
  const std::uint32_t segments = (width + 127) / 128;
  std::vector<std::vector<std::uint32_t>> entries(segments);
  Bytes coded;
  const std::uint32_t tablesSize = segments * height * 4;
  for (const Bytes& row : RowsOf(spec)) {
    std::vector<std::uint32_t> starts;
    const Bytes code = PlainCodedRow(row, variant, starts);
    for (std::uint32_t s = 0; s < segments; ++s) {
      entries[s].push_back(tablesSize + static_cast<std::uint32_t>(coded.size()) + starts[s]);
    }
    coded.insert(coded.end(), code.begin(), code.end());
  }
  Bytes out = {'R', static_cast<std::uint8_t>(variant == RunLengthVariant::kRls ? 'S' : 'L')};
  PutLe32(out, tablesSize + static_cast<std::uint32_t>(coded.size()));
  PutLe16(out, static_cast<std::uint16_t>(width));
  PutLe16(out, static_cast<std::uint16_t>(height));
  for (const Rgb565 colour : BuildEffectTables(palette)) {
    PutLe16(out, colour);
  }
  PutLe32(out, height * 4);
  PutLe32(out, tablesSize);
  PutLe16(out, static_cast<std::uint16_t>(segments));
  PutLe16(out, 0);  // padding
  for (const auto& table : entries) {
    for (const std::uint32_t entry : table) {
      PutLe32(out, entry);
    }
  }
  out.insert(out.end(), coded.begin(), coded.end());
  return out;
}

// Reads `file` back as a player would: checks the header sums, starts every row at every
// segment through the offset tables, and checks that the codes give `rows` exactly, that no
// run crosses a segment boundary, and that the rows lie back to back up to the file's end.
void ExpectDecodesTo(const Bytes& file, RunLengthVariant variant, const std::vector<Bytes>& rows) {
  ASSERT_GE(file.size(), 4118u);
  const std::uint32_t dataSize = Le32(file, 2);
  const std::uint16_t width = Le16(file, 6);
  const std::uint16_t height = Le16(file, 8);
  const std::uint32_t rowTableSize = Le32(file, 4106);
  const std::uint32_t allRowTablesSize = Le32(file, 4110);
  const std::uint16_t segments = Le16(file, 4114);
  ASSERT_EQ(file.size(), 4118u + dataSize);
  ASSERT_EQ(height, rows.size());
  ASSERT_EQ(rowTableSize, height * 4u);
  ASSERT_EQ(segments, (width + 127u) / 128u);
  ASSERT_EQ(allRowTablesSize, segments * rowTableSize);
  ASSERT_EQ(Le32(file, 4118), allRowTablesSize);
  const auto entry = [&](std::uint32_t s, std::uint32_t r) {
    return 4118u + Le32(file, 4118 + s * rowTableSize + 4 * r);
  };
  std::size_t expectedRowStart = 4118u + allRowTablesSize;
  for (std::uint32_t r = 0; r < height; ++r) {
    SCOPED_TRACE("row " + std::to_string(r));
    ASSERT_EQ(entry(0, r), expectedRowStart);
    std::size_t at = entry(0, r);
    if (file.at(at) == 255 && file.at(at + 1) == 255) {
      EXPECT_EQ(rows[r], Bytes(width, 255));
      for (std::uint32_t s = 0; s < segments; ++s) {
        EXPECT_EQ(entry(s, r), entry(0, r)) << "segment " << s;
      }
      expectedRowStart = at + 2;
      continue;
    }
    Bytes pixels;
    while (pixels.size() < width) {
      if (pixels.size() % 128 == 0) {
        ASSERT_EQ(entry(static_cast<std::uint32_t>(pixels.size() / 128), r), at)
            << "segment " << pixels.size() / 128;
      }
      const std::uint8_t p = file.at(at++);
      if (!Runs(variant, p)) {
        pixels.push_back(p);
        continue;
      }
      const std::uint8_t count = file.at(at++);
      const std::size_t boundary = (pixels.size() / 128 + 1) * 128;
      ASSERT_GE(count, 1);
      ASSERT_LE(pixels.size() + count, std::min<std::size_t>(boundary, width))
          << "a run crosses a segment boundary or the row's end";
      pixels.insert(pixels.end(), count, p);
    }
    EXPECT_EQ(pixels, rows[r]);
    expectedRowStart = at;
  }
  EXPECT_EQ(expectedRowStart, file.size());
}

// --- The worked examples ------------------------------------------------------------------

TEST(RunLengthExamples, ThreeByTwoWithABlankRow) {
  const BmpSpec spec = PictureOf(3, 2, [](int x, int y) { return y == 0 && x == 0 ? 1 : 255; });
  for (const RunLengthVariant variant : kVariants) {
    SCOPED_TRACE(NameOf(variant));
    const Bytes file = Encode(spec, variant);
    ASSERT_EQ(file.size(), 4131u);
    EXPECT_EQ(
        Slice(file, 0, 2),
        (Bytes{'R', static_cast<std::uint8_t>(variant == RunLengthVariant::kRls ? 'S' : 'L')}));
    EXPECT_EQ(Slice(file, 2, 10), (Bytes{0x0D, 0, 0, 0, 0x03, 0, 0x02, 0}));
    EXPECT_EQ(Slice(file, 4106, 4116), (Bytes{0x08, 0, 0, 0, 0x08, 0, 0, 0, 0x01, 0}));
    EXPECT_EQ(Slice(file, 4116, 4118), (Bytes{0, 0})) << "padding";
    EXPECT_EQ(Slice(file, 4118, 4131),
              (Bytes{0x08, 0, 0, 0, 0x0B, 0, 0, 0, 0x01, 0xFF, 0x02, 0xFF, 0xFF}));
  }
}

TEST(RunLengthExamples, FourByTwoCodes250AsRunsOnlyInRls) {
  const BmpSpec spec = PictureOf(4, 2, [](int x, int y) {
    const int rows[2][4] = {{7, 250, 250, 255}, {255, 250, 9, 255}};
    return rows[y][x];
  });
  const Bytes rle = Encode(spec, RunLengthVariant::kRle);
  ASSERT_EQ(rle.size(), 4118u + 8 + 11);
  EXPECT_EQ(Slice(rle, 4118, rle.size()),
            (Bytes{8, 0, 0, 0, 13, 0, 0, 0,  // offsets
                   0x07, 0xFA, 0xFA, 0xFF, 0x01, 0xFF, 0x01, 0xFA, 0x09, 0xFF, 0x01}));
  const Bytes rls = Encode(spec, RunLengthVariant::kRls);
  ASSERT_EQ(rls.size(), 4118u + 8 + 12);
  EXPECT_EQ(Slice(rls, 4118, rls.size()),
            (Bytes{8,    0,    0,    0,    13,   0,    0,    0,  // offsets
                   0x07, 0xFA, 0x02, 0xFF, 0x01, 0xFF, 0x01, 0xFA, 0x01, 0x09, 0xFF, 0x01}));
  EXPECT_EQ(Le32(rle, 2), 19u);
  EXPECT_EQ(Le32(rls, 2), 20u);
}

TEST(RunLengthExamples, ThreeHundredWideRowSplitsItsRunsAtSegments) {
  const BmpSpec spec = PictureOf(300, 1, [](int x, int) { return x >= 130 && x < 150 ? 5 : 255; });
  Bytes expectedCode = {0xFF, 0x80, 0xFF, 0x02};
  expectedCode.insert(expectedCode.end(), 20, 0x05);
  expectedCode.insert(expectedCode.end(), {0xFF, 0x6A, 0xFF, 0x2C});
  for (const RunLengthVariant variant : kVariants) {
    SCOPED_TRACE(NameOf(variant));
    const Bytes file = Encode(spec, variant);
    EXPECT_EQ(Le16(file, 4114), 3);
    EXPECT_EQ(Le32(file, 4110), 12u);
    EXPECT_EQ(Slice(file, 4118, 4130), (Bytes{12, 0, 0, 0, 14, 0, 0, 0, 38, 0, 0, 0}));
    EXPECT_EQ(Slice(file, 4130, file.size()), expectedCode);

    std::vector<std::uint8_t> out(static_cast<std::size_t>(MaxCodedRowBytes(300)));
    std::vector<std::uint32_t> starts(3, 999);
    const std::size_t length = CodeRow(spec.pixels, variant, out, starts);
    EXPECT_EQ(Slice(out, 0, length), expectedCode);
    EXPECT_EQ(starts, (std::vector<std::uint32_t>{0, 2, 26}));
  }
}

// --- Effect tables ------------------------------------------------------------------------

Rgb565 TableEntry(const Bytes& file, std::size_t table, std::size_t index) {
  return Le16(file, 10 + 512 * table + 2 * index);
}

TEST(RunLengthEffectTables, WorkedPaletteEntries) {
  BmpSpec spec = PictureOf(1, 1, [](int, int) { return 0; });
  spec.palette = test::DefaultPalette();
  spec.palette[0] = {128, 128, 128};
  spec.palette[1] = {255, 255, 255};
  spec.palette[200] = {255, 0, 0};
  const std::vector<std::pair<std::size_t, std::array<Rgb565, 8>>> expected = {
      {0, {0x8410, 0x630C, 0x94B3, 0x528E, 0x7B4D, 0x6AEE, 0x8410, 0x6CD3}},
      {1, {0xFFFF, 0xC618, 0xFFFF, 0x9D16, 0xE67A, 0xBDB8, 0xFFDF, 0xCFFF}},
      {200, {0xF800, 0xC000, 0xF800, 0x9800, 0xE000, 0xB800, 0x528A, 0xC800}},
  };
  const Loaded loaded(spec);
  const EffectTables tables = BuildEffectTables(loaded.view().palette);
  for (const RunLengthVariant variant : kVariants) {
    const Bytes file = Encode(spec, variant);
    for (const auto& [index, values] : expected) {
      for (std::size_t t = 0; t < 8; ++t) {
        SCOPED_TRACE("index " + std::to_string(index) + " table " + std::to_string(t));
        EXPECT_EQ(tables[t * 256 + index], values[t]);
        EXPECT_EQ(TableEntry(file, t, index), values[t]);
      }
    }
  }
}

TEST(RunLengthEffectTables, EachTableIsItsOwnChainFromThePlainColour) {
  BmpSpec spec = PictureOf(1, 1, [](int, int) { return 0; });
  const Bytes file = Encode(spec, RunLengthVariant::kRle);
  const std::vector<test::Rgb> palette = test::DefaultPalette();
  for (std::size_t i = 0; i < 256; ++i) {
    SCOPED_TRACE(i);
    const Rgb565 plain = static_cast<Rgb565>((palette[i].red >> 3) << 11 |
                                             (palette[i].green >> 2) << 5 | palette[i].blue >> 3);
    std::array<Rgb565, 8> chain;
    chain.fill(plain);
    DarkenRgb565(chain[1], 6);
    LightenRgb565(chain[2], 6);
    DarkenRgb565(chain[3], 5);
    TintBlueRgb565(chain[3], 3);
    DarkenRgb565(chain[4], 7);
    TintRedRgb565(chain[4], 3);
    DarkenRgb565(chain[5], 6);
    TintRedRgb565(chain[5], 2);
    TintBlueRgb565(chain[5], 2);
    GreyRgb565(chain[6]);
    TintCyanRgb565(chain[7], 7);
    for (std::size_t t = 0; t < 8; ++t) {
      EXPECT_EQ(TableEntry(file, t, i), chain[t]) << "table " << t;
    }
  }
}

// --- Rows and segments --------------------------------------------------------------------

void ExpectCodedPlainly(const BmpSpec& spec) {
  const Loaded loaded(spec);
  for (const RunLengthVariant variant : kVariants) {
    SCOPED_TRACE(NameOf(variant));
    const Bytes file = Encode(spec, variant);
    EXPECT_EQ(file, PlainFile(spec, variant, loaded.view().palette));
    ExpectDecodesTo(file, variant, RowsOf(spec));
  }
}

// Row patterns that meet the segment boundaries in different ways.
using RowPattern = int (*)(int x, int y, int width);
const std::vector<std::pair<std::string, RowPattern>>& RowPatterns() {
  static const std::vector<std::pair<std::string, RowPattern>> patterns = {
      {"all 255", [](int, int, int) { return 255; }},
      {"all 250", [](int, int, int) { return 250; }},
      {"255 but the last", [](int x, int, int w) { return x == w - 1 ? 7 : 255; }},
      {"250 but the last", [](int x, int, int w) { return x == w - 1 ? 7 : 250; }},
      {"255 but the first", [](int x, int, int) { return x == 0 ? 0 : 255; }},
      {"255 from 120 on, 250 last",
       [](int x, int, int w) { return x == w - 1 ? 250
                                      : x >= 120 ? 255
                                                 : 3; }},
      {"blank and other rows", [](int x, int y, int) { return y % 2 == 0 ? 255 : x % 3; }},
      {"255 and 250 alternate", [](int x, int, int) { return x % 2 == 0 ? 255 : 250; }},
      {"blocks of five",
       [](int x, int y, int) { return (x + y) / 5 % 3 == 0 ? 255 : (x / 5 % 2 ? 250 : 1); }},
      {"mixed",
       [](int x, int y, int) {
         const unsigned h =
             (static_cast<unsigned>(x) * 2654435761u + static_cast<unsigned>(y) * 40503u) >> 27;
         return h < 14 ? 255 : h < 24 ? 250 : static_cast<int>(h);
       }},
  };
  return patterns;
}

TEST(RunLengthRows, WidthsAroundSegmentBoundaries) {
  for (const int width : {1, 2, 127, 128, 129, 255, 256, 257, 383, 384, 385}) {
    for (const auto& [name, pattern] : RowPatterns()) {
      SCOPED_TRACE("width " + std::to_string(width) + ", " + name);
      ExpectCodedPlainly(
          PictureOf(width, 3, [&, p = pattern](int x, int y) { return p(x, y, width); }));
    }
  }
}

TEST(RunLengthRows, NamedBoundaryCases) {
  // One pixel of 255 per row: two bytes a row.
  const Bytes narrow =
      Encode(PictureOf(1, 3, [](int, int) { return 255; }), RunLengthVariant::kRle);
  EXPECT_EQ(Slice(narrow, 4118 + 12, narrow.size()), (Bytes{255, 255, 255, 255, 255, 255}));

  // Width 129: a run over columns 120 to 128 is a run of 8 and a run of 1, and segment 1
  // starts at the second.
  const BmpSpec crossing = PictureOf(129, 1, [](int x, int) { return x >= 120 ? 255 : 4; });
  for (const RunLengthVariant variant : kVariants) {
    const Bytes file = Encode(crossing, variant);
    EXPECT_EQ(Le32(file, 4118), 8u);
    EXPECT_EQ(Le32(file, 4122), 8u + 122);
    EXPECT_EQ(Slice(file, 4126 + 120, file.size()), (Bytes{255, 8, 255, 1}));
  }

  // A whole segment of 255 (or 250 in RLS) is one run of 128.
  const BmpSpec segment = PictureOf(256, 1, [](int x, int) { return x < 128 ? 255 : 250; });
  const Bytes rle = Encode(segment, RunLengthVariant::kRle);
  EXPECT_EQ(Slice(rle, 4118 + 8, 4118 + 8 + 3), (Bytes{255, 128, 250}));
  EXPECT_EQ(rle.size(), 4118u + 8 + 2 + 128);
  const Bytes rls = Encode(segment, RunLengthVariant::kRls);
  EXPECT_EQ(Slice(rls, 4118, rls.size()), (Bytes{8, 0, 0, 0, 10, 0, 0, 0, 255, 128, 250, 128}));

  // A row of 250 is never the blank-row marker; nor is a row that ends in another index.
  const BmpSpec shadow = PictureOf(3, 1, [](int, int) { return 250; });
  EXPECT_EQ(Slice(Encode(shadow, RunLengthVariant::kRle), 4122, 4125), (Bytes{250, 250, 250}));
  EXPECT_EQ(Slice(Encode(shadow, RunLengthVariant::kRls), 4122, 4124), (Bytes{250, 3}));
  const BmpSpec broken = PictureOf(4, 1, [](int x, int) { return x == 3 ? 0 : 255; });
  EXPECT_EQ(Slice(Encode(broken, RunLengthVariant::kRle), 4122, 4125), (Bytes{255, 3, 0}));
}

TEST(RunLengthRows, WidestImagesUseUpTo512Segments) {
  for (const int width : {12801, 65535}) {
    SCOPED_TRACE(width);
    const BmpSpec spec = PictureOf(width, 2, [width](int x, int y) {
      return y == 0 ? (x % 300 < 200 ? 255 : x % 7) : (x == width - 1 ? 1 : 250);
    });
    ExpectCodedPlainly(spec);
    const Bytes file = Encode(spec, RunLengthVariant::kRls);
    EXPECT_EQ(Le16(file, 6), width);
    EXPECT_EQ(Le16(file, 4114), (width + 127) / 128);
  }
}

TEST(RunLengthRows, TheLongestRowsFitTheirBuffer) {
  // In RLS, alternating 255 and 250 costs two bytes a pixel, the most any row can cost.
  for (const std::uint32_t width : {1u, 2u, 127u, 128u, 129u, 1000u}) {
    Bytes row(width);
    for (std::size_t x = 0; x < width; ++x) {
      row[x] = x % 2 == 0 ? 255 : 250;
    }
    // Exactly sized, so that the sanitizer build sees any write past the end.
    Bytes out(static_cast<std::size_t>(MaxCodedRowBytes(width)));
    std::vector<std::uint32_t> starts(SegmentCountFor(width));
    const std::size_t length = CodeRow(row, RunLengthVariant::kRls, out, starts);
    EXPECT_EQ(length, 2 * width) << width;
    EXPECT_LE(length, out.size());
  }
}

TEST(RunLengthRows, RowPaddingNeverChangesTheOutput) {
  // Widths 1 to 3 and 5 to 7 have padding; a row ending in a run-coded index must stop
  // there even when the padding continues it.
  for (const int width : {1, 2, 3, 5, 6, 7, 127, 129, 130, 131}) {
    for (const int last : {255, 250, 4}) {
      BmpSpec spec = PictureOf(width, 3, [&](int x, int y) {
        return x == width - 1 ? last : (x + y) % 4 == 0 ? 9 : 255;
      });
      for (const RunLengthVariant variant : kVariants) {
        spec.paddingByte = 0;
        const Bytes zeroPadded = Encode(spec, variant);
        for (const int padding : {255, 250, 9, 0x80}) {
          SCOPED_TRACE("width " + std::to_string(width) + ", last " + std::to_string(last) +
                       ", padding " + std::to_string(padding) + ", " + NameOf(variant));
          spec.paddingByte = static_cast<std::uint8_t>(padding);
          EXPECT_EQ(Encode(spec, variant), zeroPadded);
        }
      }
    }
  }
}

TEST(RunLengthRows, TopDownBitmapsGiveTheSameBytesAsBottomUp) {
  const BmpSpec bottomUp = PictureOf(130, 4, [](int x, int y) { return x > 100 + y ? 255 : y; });
  BmpSpec topDown = bottomUp;
  topDown.height = -4;
  for (const RunLengthVariant variant : kVariants) {
    EXPECT_EQ(Encode(topDown, variant), Encode(bottomUp, variant));
  }
}

TEST(RunLengthRows, SizesThatCannotBeCoded) {
  const auto refusal = [](int width, int height) {
    BmpSpec spec = PictureOf(width, height < 0 ? -height : height, [](int, int) { return 1; });
    spec.height = height;
    const Loaded loaded(spec);
    return CheckRunLengthSize(loaded.view());
  };
  EXPECT_EQ(refusal(0, 3), RunLengthRefusal::kEmpty);
  EXPECT_EQ(refusal(3, 0), RunLengthRefusal::kEmpty);
  EXPECT_EQ(refusal(65535, 1), RunLengthRefusal::kNone);
  EXPECT_EQ(refusal(65536, 1), RunLengthRefusal::kTooLarge);
  EXPECT_EQ(refusal(1, 65535), RunLengthRefusal::kNone);
  EXPECT_EQ(refusal(1, 65536), RunLengthRefusal::kTooLarge);
  EXPECT_EQ(refusal(1, -65536), RunLengthRefusal::kTooLarge);
}

}  // namespace
}  // namespace kav
