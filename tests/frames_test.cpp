// The GIF and Aseprite frame sources over the files of tests/data/gif and tests/data/aseprite
// (made by scripts/make-gifs.py and scripts/make-aseprite.py, each beside the frames it must
// give, composed by those scripts), damaged files, the names of frames, and every frame
// converted and drawn back by the decoder.

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <memory>
#include <set>
#include <sstream>

#include "convert/batch.h"
#include "input/aseprite_frames.h"
#include "input/gif_frames.h"
#include "input/gif_lzw_values.h"
#include "kav/kav_formats.h"
#include "support/test_support.h"

namespace kav {
namespace {

using test::Bytes;

const std::filesystem::path kGifDir = KAV_GIF_DIR;
const std::filesystem::path kAsepriteDir = KAV_ASEPRITE_DIR;

bool IsGif(const std::filesystem::path& file) {
  return file.extension() == ".gif";
}

OpenedFrames Open(const std::filesystem::path& file, const Bytes& bytes) {
  return IsGif(file) ? OpenGifFrames(bytes) : OpenAsepriteFrames(bytes);
}

// NAME.frames: a text line ("indices W H N T COUNT", "own W H N COUNT" or "rgba W H N"),
// then the palette's COUNT entries of 4 bytes, then the N frames.
struct Expected {
  FrameKind kind = FrameKind::kTrueColour;
  std::uint32_t width = 0, height = 0, frames = 0;
  std::optional<std::uint8_t> transparentIndex;
  std::vector<FrameColour> palette;
  std::vector<Bytes> pictures;
};

Expected ReadExpected(const std::filesystem::path& file) {
  const Bytes bytes = test::ReadFile(file.string());
  const auto endOfLine = std::ranges::find(bytes, '\n');
  std::istringstream line(std::string(bytes.begin(), endOfLine));
  std::string kind;
  Expected expected;
  line >> kind >> expected.width >> expected.height >> expected.frames;
  int transparent = -1;
  std::size_t entries = 0;
  if (kind == "indices") {
    expected.kind = FrameKind::kPaletteIndices;
    line >> transparent >> entries;
  } else if (kind == "own") {
    expected.kind = FrameKind::kOwnPaletteColour;
    line >> entries;
  }
  if (transparent >= 0) {
    expected.transparentIndex = static_cast<std::uint8_t>(transparent);
  }
  auto at = endOfLine + 1;
  for (std::size_t i = 0; i < entries; ++i, at += 4) {
    expected.palette.push_back({at[0], at[1], at[2], at[3]});
  }
  const std::size_t frameBytes = std::size_t{expected.width} * expected.height *
                                 (expected.kind == FrameKind::kPaletteIndices ? 1 : 4);
  for (std::uint32_t i = 0; i < expected.frames;
       ++i, at += static_cast<std::ptrdiff_t>(frameBytes)) {
    expected.pictures.emplace_back(at, at + static_cast<std::ptrdiff_t>(frameBytes));
  }
  EXPECT_EQ(at, bytes.end()) << file;
  return expected;
}

std::vector<std::filesystem::path> Fixtures(const std::filesystem::path& folder) {
  std::vector<std::filesystem::path> files;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) {
    if (entry.is_regular_file() && entry.path().extension() != ".frames") {
      files.push_back(entry.path());
    }
  }
  std::ranges::sort(files);
  return files;
}

// Every frame, walked `walks` times; empty when a frame fails.
std::vector<Bytes> AllFrames(FrameSource& source, int walks = 1) {
  std::vector<Bytes> frames;
  Bytes frame(source.Info().FrameBytes());
  for (int walk = 0; walk < walks; ++walk) {
    if (walk > 0 && source.Rewind() != FrameStatus::kOk) {
      return {};
    }
    for (std::uint32_t i = 0; i < source.Info().frameCount; ++i) {
      if (source.Next(frame) != FrameStatus::kOk) {
        return {};
      }
      frames.push_back(frame);
    }
  }
  return frames;
}

// The opaque colours of the expected frames, as 0xRRGGBB.
std::set<std::uint32_t> OpaqueColours(const Expected& expected) {
  std::set<std::uint32_t> colours;
  const auto add = [&](FrameColour c) {
    colours.insert(std::uint32_t{c.red} << 16 | std::uint32_t{c.green} << 8 | c.blue);
  };
  for (const Bytes& picture : expected.pictures) {
    for (std::size_t i = 0; i < picture.size(); i += 4) {
      if (expected.kind == FrameKind::kPaletteIndices) {
        for (std::size_t j = i; j < std::min(i + 4, picture.size()); ++j) {
          if (picture[j] != expected.transparentIndex) {
            add(picture[j] < expected.palette.size() ? expected.palette[picture[j]]
                                                     : FrameColour{0, 0, 0, 255});
          }
        }
      } else if (picture[i + 3] == 255) {
        add({picture[i], picture[i + 1], picture[i + 2], 255});
      }
    }
  }
  return colours;
}

TEST(FrameSources, EveryFileGivesTheFramesItsScriptComposed) {
  std::size_t checked = 0;
  for (const auto& folder : {kGifDir, kAsepriteDir}) {
    for (const std::filesystem::path& file : Fixtures(folder)) {
      SCOPED_TRACE(file.filename().string());
      const Expected expected =
          ReadExpected(std::filesystem::path(file).replace_extension(".frames"));
      const Bytes bytes = test::ReadFile(file.string());
      OpenedFrames opened = Open(file, bytes);
      ASSERT_EQ(opened.status, FrameStatus::kOk);
      const FrameSourceInfo& info = opened.source->Info();
      EXPECT_EQ(info.kind, expected.kind);
      EXPECT_EQ(std::tuple(info.width, info.height, info.frameCount),
                std::tuple(expected.width, expected.height, expected.frames));
      EXPECT_EQ(info.transparentIndex, expected.transparentIndex);
      EXPECT_EQ(info.palette.count, expected.palette.size());
      EXPECT_TRUE(std::equal(expected.palette.begin(), expected.palette.end(),
                             info.palette.entries.begin()));
      // Walked twice: the second walk gives the same frames.
      std::vector<Bytes> twice = expected.pictures;
      twice.insert(twice.end(), expected.pictures.begin(), expected.pictures.end());
      EXPECT_TRUE(AllFrames(*opened.source, 2) == twice);
      if (IsGif(file)) {
        std::vector<std::uint32_t> colours;
        EXPECT_EQ(GifFrameColours(bytes, colours), FrameStatus::kOk);
        const std::set<std::uint32_t> expectedColours = OpaqueColours(expected);
        EXPECT_EQ(colours, std::vector(expectedColours.begin(), expectedColours.end()));
      }
      ++checked;
    }
  }
  EXPECT_EQ(checked, 36U);
}

FrameStatus FirstFailure(const Bytes& bytes, bool gif) {
  OpenedFrames opened = gif ? OpenGifFrames(bytes) : OpenAsepriteFrames(bytes);
  if (opened.status != FrameStatus::kOk) {
    return opened.status;
  }
  Bytes frame(opened.source->Info().FrameBytes());
  for (std::uint32_t i = 0; i < opened.source->Info().frameCount; ++i) {
    if (const FrameStatus status = opened.source->Next(frame); status != FrameStatus::kOk) {
      return status;
    }
  }
  return FrameStatus::kOk;
}

TEST(FrameSources, DamagedFilesAreCorrupt) {
  std::size_t checked = 0;
  for (const auto& folder : {kGifDir, kAsepriteDir}) {
    for (const std::filesystem::path& file : Fixtures(folder / "malformed")) {
      SCOPED_TRACE(file.filename().string());
      const bool gif = IsGif(file);
      EXPECT_EQ(FirstFailure(test::ReadFile(file.string()), gif),
                gif ? FrameStatus::kGifCorrupt : FrameStatus::kAsepriteCorrupt);
      ++checked;
    }
  }
  EXPECT_EQ(checked, 40U);
}

// A file cut anywhere is corrupt; an Aseprite file's header is mended to say the cut length,
// so that the cut is found in the frames rather than at the first check.
TEST(FrameSources, EveryFileCutShortIsCorrupt) {
  for (const char* name : {"im-optimized.gif", "interlaced-local.gif", "offscreen.gif",
                           "rgba.aseprite", "indexed-background.aseprite"}) {
    SCOPED_TRACE(name);
    const bool gif = IsGif(name);
    const Bytes whole = test::ReadFile(((gif ? kGifDir : kAsepriteDir) / name).string());
    for (std::size_t length = 0; length < whole.size(); ++length) {
      Bytes cut(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(length));
      if (!gif && length >= 4) {
        cut = test::With(cut, {{0, 4, static_cast<std::uint32_t>(length)}});
      }
      ASSERT_EQ(FirstFailure(cut, gif),
                gif ? FrameStatus::kGifCorrupt : FrameStatus::kAsepriteCorrupt)
          << "cut at " << length;
    }
  }
}

TEST(FrameSources, TellWhatTheySkippedAndTheirTags) {
  struct Case {
    const char* file;
    bool skipped;
    std::vector<std::string> suffixes;
  };
  const std::vector<Case> cases{
      {"indexed-background.aseprite", false, {"walk_0", "walk_1", "jump__1"}},
      {"indexed-clear.aseprite", false, {"all_0", "all_1", "all_2", "all_3", "all_4"}},
      {"rgba.aseprite", true, {"0", "1"}},
      {"grayscale.aseprite", false, {"0", "1"}},
      {"zlib-bomb.aseprite", false, {""}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file);
    const Bytes bytes = test::ReadFile((kAsepriteDir / c.file).string());
    const OpenedFrames opened = OpenAsepriteFrames(bytes);
    ASSERT_EQ(opened.status, FrameStatus::kOk);
    const FrameSourceInfo& info = opened.source->Info();
    EXPECT_EQ(info.skippedContent, c.skipped);
    std::vector<std::string> suffixes;
    for (std::uint32_t i = 0; i < info.frameCount; ++i) {
      suffixes.push_back(FrameSuffix(i, info.frameCount, info.tags));
    }
    EXPECT_EQ(suffixes, c.suffixes);
  }
}

TEST(FrameNames, NumberedPaddedAndTagged) {
  const std::vector<FrameTag> tags{{3, 14, "run"}, {2, 4, "wälk 2"}, {20, 20, "!"}};
  struct Case {
    std::uint32_t frame, count;
    std::vector<FrameTag> tags;
    std::string suffix;
  };
  const std::vector<Case> cases{
      {0, 1, tags, ""},        {0, 12, {}, "00"},        {11, 12, {}, "11"},
      {9, 10, {}, "9"},        {100, 101, {}, "100"},    {7, 101, {}, "007"},
      {3, 30, tags, "run_00"}, {14, 30, tags, "run_11"}, {2, 30, tags, "w_lk_2_0"},
      {4, 30, tags, "run_01"}, {15, 30, tags, "15"},     {20, 30, tags, "__0"},
      {0, 30, tags, "00"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(FrameSuffix(c.frame, c.count, c.tags), c.suffix) << c.frame << " of " << c.count;
  }
}

TEST(FrameSources, RefuseABufferOfTheWrongSizeAndStopAfterTheLastFrame) {
  for (const std::filesystem::path& file :
       {kGifDir / "gif87a.gif", kAsepriteDir / "indexed-clear.aseprite"}) {
    const Bytes bytes = test::ReadFile(file.string());
    OpenedFrames opened = Open(file, bytes);
    ASSERT_EQ(opened.status, FrameStatus::kOk);
    FrameSource& source = *opened.source;
    Bytes frame(source.Info().FrameBytes() + 1);
    EXPECT_EQ(source.Next(frame), FrameStatus::kWrongBuffer);
    frame.pop_back();
    ASSERT_EQ(AllFrames(source).size(), source.Info().frameCount);
    std::ranges::fill(frame, 7);
    EXPECT_EQ(source.Next(frame), FrameStatus::kOk);
    EXPECT_TRUE(std::ranges::all_of(frame, [](std::uint8_t b) { return b == 7; }));
  }
}

TEST(FrameSources, AGifWhoseSavedAreaCannotBeHadIsOutOfMemory) {
  const Bytes bytes = test::ReadFile((kGifDir / "im-previous.gif").string());
  const std::size_t live = test::LiveBlocks();
  {
    OpenedFrames opened = OpenGifFrames(bytes);
    ASSERT_EQ(opened.status, FrameStatus::kOk);
    EXPECT_EQ(test::LiveBlocks(), live);  // nothing of a frame's size yet
    Bytes frame(opened.source->Info().FrameBytes());
    test::AllocationFaults::FailNth(1);
    EXPECT_EQ(opened.source->Next(frame), FrameStatus::kOutOfMemory);
    test::AllocationFaults::Clear();
  }
  EXPECT_EQ(test::LiveBlocks(), live);
}

// (code, bits) pairs packed as a GIF frame's data packs codes: least significant bit first.
Bytes PackCodes(const std::vector<std::pair<std::uint32_t, std::uint32_t>>& codes) {
  Bytes packed;
  std::uint32_t pending = 0, bits = 0;
  for (const auto& [code, width] : codes) {
    pending |= code << bits;
    for (bits += width; bits >= 8; bits -= 8, pending >>= 8) {
      packed.push_back(static_cast<std::uint8_t>(pending));
    }
  }
  packed.push_back(static_cast<std::uint8_t>(pending));
  return packed;
}

// With minimum code size 2: clear 4, end 5, the first free code 6, 3 bits to start.
TEST(GifLzwValues, FollowTheCodesAsFarAsThePixelsGo) {
  // clear; 1; 0 (6 = "1 0"); 6 (7 = "0 1", now 4 bits); 8, the next free code ("1 0 1");
  // then 2, past the 7 pixels.
  const Bytes codes = PackCodes({{4, 3}, {1, 3}, {0, 3}, {6, 3}, {8, 4}, {2, 4}});
  const Bytes undefined = PackCodes({{4, 3}, {1, 3}, {7, 3}, {0, 3}});
  const Bytes ended = PackCodes({{4, 3}, {1, 3}, {5, 3}, {0, 3}});
  struct Case {
    const Bytes* data;
    std::uint64_t pixels;
    bool known;
    std::string values;  // as digits
  };
  for (const Case& c : std::vector<Case>{{&codes, 7, true, "01"},
                                         {&codes, 6, true, "01"},  // "1 0 1" cut short
                                         {&codes, 8, true, "012"},
                                         {&codes, 10, false, ""},  // the data ends first
                                         {&undefined, 3, false, ""},
                                         {&ended, 2, false, ""}}) {
    SCOPED_TRACE(testing::Message() << c.pixels << " pixels");
    GifLzwValues values(2, c.pixels);
    values.Add(*c.data);
    ASSERT_EQ(values.Known(), c.known);
    std::string seen;
    for (std::size_t v = 0; c.known && v < GifLzwValues::kValues; ++v) {
      seen += values.Values()[v] ? std::to_string(v) : "";
    }
    EXPECT_EQ(seen, c.values);
  }
}

// With minimum code size 8 (clear 256, the first free code 258, 9 bits to start): 5000
// literals 100 to 149, each but the first taking a new code, so the codes grow to 12 bits
// and the table fills; fed in sub-blocks of 255 bytes at most.
TEST(GifLzwValues, FollowCodesGrowingToTwelveBitsPastAFullTable) {
  std::vector<std::pair<std::uint32_t, std::uint32_t>> codes{{256, 9}};
  std::uint32_t width = 9, nextFree = 258;
  for (std::uint32_t i = 0; i < 5000; ++i) {
    codes.emplace_back(100 + i % 50, width);
    if (i > 0 && nextFree < 4096 && ++nextFree == 1U << width && width < 12) {
      ++width;
    }
  }
  const Bytes packed = PackCodes(codes);
  GifLzwValues values(8, 5000);
  for (std::size_t at = 0; at < packed.size(); at += 255) {
    values.Add(std::span(packed).subspan(at, std::min<std::size_t>(255, packed.size() - at)));
  }
  ASSERT_TRUE(values.Known());
  for (std::size_t v = 0; v < GifLzwValues::kValues; ++v) {
    EXPECT_EQ(values.Values()[v], v >= 100 && v < 150) << v;
  }
}

// How a converted file draws each pixel through its plain table: RGB565, or transparent;
// and the table itself.
using Drawn = std::vector<std::optional<std::uint16_t>>;
using Table = std::array<std::uint16_t, KAV_TABLE_ENTRIES>;

Drawn DrawnPixels(const Bytes& file, Table& table) {
  const std::optional<kav_image> image = test::Open(file);
  if (!image) {
    ADD_FAILURE() << "the decoder refuses the output";
    return {};
  }
  EXPECT_EQ(kav_read_table(&*image, 0, table.data()), 1);
  Drawn drawn;
  std::vector<std::uint16_t> rgb(image->width);
  Bytes alpha(image->width);
  for (std::uint32_t row = 0; row < image->height; ++row) {
    EXPECT_EQ(kav_row_rgb565(&*image, row, 0, rgb.data(), alpha.data()), 1);
    for (std::uint32_t x = 0; x < image->width; ++x) {
      drawn.push_back(alpha[x] == 0 ? std::nullopt : std::optional(rgb[x]));
    }
  }
  return drawn;
}

std::uint16_t Rgb565(FrameColour c) {
  return static_cast<std::uint16_t>((c.red >> 3) << 11 | (c.green >> 2) << 5 | c.blue >> 3);
}

// How frame `frame` must look once converted: the script's colours as RGB565, a pixel below
// the default alpha threshold (128) or of the transparent index transparent. A file mapped
// onto its own palette shows the colour exactly where the palette holds it (the nearest
// entry is then that colour), and 0 stands for "some opaque colour" elsewhere.
Drawn Looks(const Expected& expected, std::size_t frame) {
  const Bytes& picture = expected.pictures[frame];
  Drawn looks;
  if (expected.kind == FrameKind::kPaletteIndices) {
    for (const std::uint8_t index : picture) {
      const FrameColour colour =
          index < expected.palette.size() ? expected.palette[index] : FrameColour{0, 0, 0, 255};
      looks.push_back(index == expected.transparentIndex ? std::nullopt
                                                         : std::optional(Rgb565(colour)));
    }
    return looks;
  }
  for (std::size_t i = 0; i < picture.size(); i += 4) {
    FrameColour colour{picture[i], picture[i + 1], picture[i + 2], 255};
    const bool inPalette = std::ranges::any_of(expected.palette, [&](FrameColour entry) {
      return std::tuple(entry.red, entry.green, entry.blue) ==
             std::tuple(colour.red, colour.green, colour.blue);
    });
    const bool exact = expected.kind == FrameKind::kTrueColour || inPalette;
    looks.push_back(picture[i + 3] < 128
                        ? std::nullopt
                        : std::optional<std::uint16_t>(exact ? Rgb565(colour) : 0));
  }
  return looks;
}

// Whether two RGB565 colours are within `most` 8-bit levels in each of red, green and blue.
bool Near(std::uint16_t a, std::uint16_t b, int most) {
  const auto apart = [a, b](int shift, int bits) {
    return std::abs((a >> shift & ((1 << bits) - 1)) - (b >> shift & ((1 << bits) - 1)))
           << (8 - bits);
  };
  return std::max({apart(11, 5), apart(5, 6), apart(0, 5)}) <= most;
}

// Every fixture converted to RLE, each frame into its own file drawn by the decoder as the
// script composed it, every frame of a file through one table. The frames of a file of more
// colours than fit are reduced together: each pixel near its colour (511 colours 16 levels
// apart become 255, then RGB565: 20 levels at worst here), the reduction told.
TEST(FrameConversion, EveryFrameDrawsAsItsScriptComposedItThroughOneTable) {
  std::size_t checked = 0;
  for (const auto& folder : {kGifDir, kAsepriteDir}) {
    for (const std::filesystem::path& file : Fixtures(folder)) {
      SCOPED_TRACE(file.filename().string());
      const Expected expected =
          ReadExpected(std::filesystem::path(file).replace_extension(".frames"));
      const std::size_t colours = OpaqueColours(expected).size();
      const test::TempDir dir;
      const Conversion conversion = ConvertFile({}, file.string(), dir.File("out.RLE"), {});
      ASSERT_EQ(conversion.outcome, Outcome::kWritten);
      ASSERT_EQ(conversion.files.size(), expected.frames);
      const ColourReduction told = conversion.reduction.value_or(ColourReduction{});
      EXPECT_EQ(std::pair(told.found, told.capacity),
                colours > 255 ? std::pair(colours, std::size_t{255}) : std::pair(0UL, 0UL));
      std::vector<Table> tables(expected.frames);
      for (std::size_t i = 0; i < expected.frames; ++i) {
        Drawn drawn = DrawnPixels(test::ReadFile(conversion.files[i]), tables[i]);
        const Drawn looks = Looks(expected, i);
        for (std::size_t p = 0; p < drawn.size() && p < looks.size(); ++p) {
          const bool near = drawn[p] && looks[p] && Near(*drawn[p], *looks[p], 24);
          drawn[p] = drawn[p] && (looks[p] == 0 || (colours > 255 && near)) ? looks[p] : drawn[p];
        }
        EXPECT_TRUE(drawn == looks) << "frame " << i;
        EXPECT_TRUE(tables[i] == tables[0]) << "frame " << i;
      }
      ++checked;
    }
  }
  EXPECT_EQ(checked, 36U);
}

// With a fixed palette every frame takes it, whatever the file's kind (a palette input, RGBA
// frames, frames mapped onto their own palette otherwise): each colour its twin, picked by
// hand as the nearest, transparent pixels T (255), the outputs' table the fixed palette's.
TEST(FrameConversion, FramesTakeAFixedPaletteByTheNearestColour) {
  auto fixed = std::make_shared<RgbPalette>();
  const std::vector<Rgb24> twins{0x00D2D2, 0xF50505, 0x646464, 0x0A960A, 0xFFFFFF,
                                 0xE6D21E, 0x6E32BE, 0x0A0AF0, 0x101010};
  std::ranges::copy(twins, fixed->colours.begin());
  fixed->count = static_cast<std::uint16_t>(twins.size());
  // Each source colour's twin, by the colour's RGB565 as Looks() gives it.
  std::map<std::uint16_t, std::uint8_t> twinOf;
  for (const auto& [colour, twin] :
       std::initializer_list<std::pair<Rgb24, std::uint8_t>>{{0xFF0000, 1},
                                                             {0x00A000, 3},
                                                             {0x0000FF, 7},
                                                             {0xF0C814, 5},
                                                             {0x7828C8, 6},
                                                             {0x00C8C8, 0},
                                                             {0x5A5A5A, 2},
                                                             {0xFAFAFA, 4},
                                                             {0x0C0C0C, 8},
                                                             {0x141414, 8},
                                                             {0x1EB428, 3},
                                                             {0xC81E1E, 1}}) {
    const auto byte = [colour](int shift) { return static_cast<std::uint8_t>(colour >> shift); };
    twinOf[Rgb565({byte(16), byte(8), byte(0), 255})] = twin;
  }
  ConversionSettings settings;
  settings.palette = fixed;
  for (const std::filesystem::path& file : {kGifDir / "gif87a.gif", kGifDir / "previous-first.gif",
                                            kAsepriteDir / "indexed-short-background.aseprite"}) {
    SCOPED_TRACE(file.filename().string());
    const Expected expected =
        ReadExpected(std::filesystem::path(file).replace_extension(".frames"));
    const test::TempDir dir;
    const Conversion conversion = ConvertFile(settings, file.string(), dir.File("out.RLE"), {});
    ASSERT_EQ(conversion.files.size(), expected.frames);
    for (std::size_t i = 0; i < expected.frames; ++i) {
      Bytes indices;
      for (const std::optional<std::uint16_t> pixel : Looks(expected, i)) {
        indices.push_back(pixel ? twinOf.at(*pixel) : std::uint8_t{255});
      }
      const Bytes output = test::ReadFile(conversion.files[i]);
      EXPECT_EQ(test::Decode(output), indices) << "frame " << i;
      Table table{};
      DrawnPixels(output, table);
      EXPECT_EQ(table[5], 0xE6D21E >> 19 << 11 | (0xD2 >> 2) << 5 | 0x1E >> 3);
    }
  }
}

// Which outputs a file gives and what they hold: numbered, tagged, the one frame asked for,
// C headers named after each frame; a file damaged in its last frame, or a frame past the
// last, leaves the folder as it was.
TEST(FrameConversion, OutputsAreNamedForTheirFramesAndGoInPlaceTogether) {
  struct Case {
    std::filesystem::path source;
    ConversionSettings settings;
    Outcome outcome;
    std::vector<std::string> files;        // in the order written
    std::optional<std::size_t> onlyFrame;  // the frame the one output holds
  };
  const ConversionSettings binary{};
  ConversionSettings second;
  second.frame = 1;
  ConversionSettings third;
  third.frame = 2;
  ConversionSettings headers;
  headers.emitted = Emit::kBoth;
  headers.headerName = "hero";
  const std::vector<Case> cases{
      {kGifDir / "gif87a.gif", binary, Outcome::kWritten, {"out_0.RLE", "out_1.RLE"}, {}},
      {kAsepriteDir / "indexed-background.aseprite",
       binary,
       Outcome::kWritten,
       {"out_walk_0.RLE", "out_walk_1.RLE", "out_jump__1.RLE"},
       {}},
      {kGifDir / "im-still.gif", binary, Outcome::kWritten, {"out.RLE"}, {}},
      {kGifDir / "gif87a.gif", second, Outcome::kWritten, {"out.RLE"}, 1},
      {kGifDir / "gif87a.gif", third, Outcome::kNoSuchFrame, {}, {}},
      {KAV_SAMPLES_DIR "/odd.bmp", second, Outcome::kNoSuchFrame, {}, {}},
      {kGifDir / "gif87a.gif",
       headers,
       Outcome::kWritten,
       {"out_0.RLE", "out_0.RLE.h", "out_1.RLE", "out_1.RLE.h"},
       {}},
      {kGifDir / "malformed/bad-last-frame.gif", binary, Outcome::kUnreadable, {}, {}},
      {kAsepriteDir / "names/tags-alike.aseprite", binary, Outcome::kCannotCreate, {}, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.source.filename().string());
    const test::TempDir dir;
    test::WriteFile(dir.File("out_0.RLE"), {'o', 'l', 'd'});  // stays unless replaced whole
    const Conversion conversion =
        ConvertFile(c.settings, c.source.string(), dir.File("out.RLE"), {});
    EXPECT_EQ(conversion.outcome, c.outcome);
    std::vector<std::string> files;
    for (const std::string& path : conversion.files) {
      files.push_back(std::filesystem::path(path).filename().string());
    }
    EXPECT_EQ(files, c.files);
    if (c.files.empty()) {
      EXPECT_EQ(test::ListFolder(dir.path()), std::vector<std::string>{"out_0.RLE"});
      EXPECT_EQ(test::ReadFile(dir.File("out_0.RLE")), (Bytes{'o', 'l', 'd'}));
    }
    if (c.onlyFrame) {
      const Bytes bytes = test::ReadFile(c.source.string());
      OpenedFrames opened = Open(c.source, bytes);
      EXPECT_EQ(test::Decode(test::ReadFile(dir.File("out.RLE"))),
                AllFrames(*opened.source).at(*c.onlyFrame));
    }
    if (c.settings.emitted == Emit::kBoth) {
      const Bytes header = test::ReadFile(dir.File("out_1.RLE.h"));
      EXPECT_NE(std::string(header.begin(), header.end()).find("hero_1["), std::string::npos);
    }
  }
  const test::TempDir dir;
  const Conversion damaged = ConvertFile(
      {}, (kAsepriteDir / "malformed/zlib-garbage.aseprite").string(), dir.File("out.RLE"), {});
  EXPECT_EQ(static_cast<int>(damaged.read.failure), -12);
  const Conversion cut =
      ConvertFile({}, (kGifDir / "malformed/bad-last-frame.gif").string(), dir.File("out.RLE"), {});
  EXPECT_EQ(static_cast<int>(cut.read.failure), -11);
}

}  // namespace
}  // namespace kav
