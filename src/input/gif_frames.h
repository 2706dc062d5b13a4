#pragma once
// GIF87a and GIF89a files as frame sources (frames.h). giflib decodes the records and each
// frame's lines as they come; composing the frames is done here.
//
// Each frame is the whole logical screen after the frames before it: a frame's pixels other
// than its Graphic Control Extension's transparent index are drawn over what is there, its
// rectangle clipped to the screen; then, before the next frame, its disposal method acts on
// that rectangle: none (0) and leave (1) keep it, restore to background (2) clears it to
// transparent (the background colour is not used), restore to previous (3) puts back what
// was there before the frame (for the first frame: the empty screen); the values 4 to 7,
// which have no meaning, keep it too. Pixels no frame has drawn are transparent. An index
// past its colour table is black.
//
// A file whose frames all use the global colour table (no local tables) and either all name
// the same transparent index or none names one is a palette input (kPaletteIndices): its
// palette is the global table, and the transparent index's entry has alpha 0. Where no frame
// names one, every pixel must be drawn: the first frame covers the screen and no frame but
// the last is cleared away (by disposal 2, or 3 on the first frame); otherwise the file is
// kTrueColour, as is every other GIF.
//
// Cut short, damaged LZW data, an unknown record, a Graphic Control Extension of the wrong
// length, no frame or an empty logical screen: kGifCorrupt. The trailer must be there.

#include <cstdint>
#include <span>
#include <vector>

#include "input/frames.h"

namespace kav {

// "GIF87a" or "GIF89a".
inline constexpr std::size_t kGifSignatureSize = 6;
bool HasGifSignature(std::span<const std::uint8_t> first);

OpenedFrames OpenGifFrames(std::span<const std::uint8_t> file);

// The colours the composed frames of `file` use, as 0xRRGGBB sorted ascending, found without
// composing: every opaque pixel a frame decodes inside the logical screen is visible in that
// frame's composition (nothing is drawn over it before the frame is done), and every visible
// pixel of a composed frame is such a pixel of it or of a frame before it; so the colours of
// those pixels are exactly the colours of all the composed frames together. Each frame's
// values are read from its LZW codes without decoding them (gif_lzw_values.h); a frame that
// reaches past the screen is decoded, and where some frame's codes cannot be followed every
// frame is decoded, so a damaged file fails as composing it does.
FrameStatus GifFrameColours(std::span<const std::uint8_t> file,
                            std::vector<std::uint32_t>& colours);

}  // namespace kav
