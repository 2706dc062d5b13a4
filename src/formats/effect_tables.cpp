// The eight colour-effect tables of RLE and RLS files.

#include "color/effects.h"
#include "formats/run_length.h"

namespace kav {

EffectTables BuildEffectTables(const Palette& palette) {
  EffectTables tables{};
  const auto table = [&tables](std::size_t t) {
    return std::span(tables).subspan(t * kColourTableEntries, kColourTableEntries);
  };
  for (std::size_t i = 0; i < kColourTableEntries; ++i) {
    const Colour& entry = palette.entries[i];
    table(0)[i] = PackRgb565(entry.red, entry.green, entry.blue);
  }
  for (std::size_t i = 0; i < kColourTableEntries; ++i) {
    const Rgb565 plain = table(0)[i];
    Rgb565 c = plain;
    DarkenRgb565(c, 6);
    table(1)[i] = c;
    c = plain;
    LightenRgb565(c, 6);
    table(2)[i] = c;
    c = plain;
    DarkenRgb565(c, 5);
    TintBlueRgb565(c, 3);
    table(3)[i] = c;
    c = plain;
    DarkenRgb565(c, 7);
    TintRedRgb565(c, 3);
    table(4)[i] = c;
    c = plain;
    DarkenRgb565(c, 6);
    TintRedRgb565(c, 2);
    TintBlueRgb565(c, 2);
    table(5)[i] = c;
    c = plain;
    GreyRgb565(c);
    table(6)[i] = c;
    c = plain;
    TintCyanRgb565(c, 7);
    table(7)[i] = c;
  }
  return tables;
}

}  // namespace kav
