#pragma once
// Six effects that rewrite one Rgb565 colour in place, channel by channel, in integer
// arithmetic with quotients rounded down. No change carries into or borrows from a
// neighbouring channel and every result channel stays inside its range.
//
// Lighten and the tints act for levels 1..8, Darken for 1..7; any other level leaves the
// colour exactly as it was.
//
// Raising uses a channel's headroom, read from the two's complement of the whole colour:
// N = (65536 - v) mod 65536, and the red, green and blue headroom are the red, green and
// blue fields of N. So a channel may rise to its maximum while some lower channel is
// non-zero, one further when every lower channel is 0, and not at all when it and every
// lower channel are 0: black never changes.

#include <cstdint>

#include "color/rgb565.h"

namespace kav {

// Each channel c becomes c + headroom * level / 32.
void LightenRgb565(Rgb565& colour, std::int16_t level);
// Each channel c becomes c * level / 8, rounded down for levels 1..4 and up for 5..7.
void DarkenRgb565(Rgb565& colour, std::int16_t level);
// Red rises by headroom * level / 32; green and blue lose c * level / 32.
void TintRedRgb565(Rgb565& colour, std::int16_t level);
// Green and blue rise by headroom * level / 32; red loses c * level / 32.
void TintCyanRgb565(Rgb565& colour, std::int16_t level);
// Blue rises by headroom * level / 16; red loses c * level / 32; green stays.
void TintBlueRgb565(Rgb565& colour, std::int16_t level);
// The grey of equal weight: y = (8R + 4G + 8B) / 3, packed back as PackRgb565(y, y, y).
void GreyRgb565(Rgb565& colour);

}  // namespace kav
