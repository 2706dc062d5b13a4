#pragma once
// Aseprite sprites (.ase, .aseprite; aseprite_file.h gives the layout) as frame sources
// (frames.h), in indexed, grayscale and RGBA colour modes.
//
// A frame is its cels drawn onto an empty (transparent) canvas, bottom layer first (a cel's
// z-index moves it up or down), each clipped to the canvas. Hidden layers, and everything
// in a hidden group, are not drawn; nor are reference layers and tilemap layers (the latter
// noted as skipped). A linked cel draws the pixels, place and opacity of the cel it links to,
// decoded again where it is drawn. Pixels are RGBA, grayscale pixels (value, alpha) being
// (value, value, value, alpha) and indexed pixels their palette entry, except that the
// sprite's transparent index is transparent in all but the background layer, whose indexed
// pixels are all opaque; an index past the palette is black.
//
// Layers are blended in the normal way whatever blend mode they name: a pixel's alpha is
// scaled by the cel's opacity and by its layer's (and that of every group it is in; each
// layer is blended on its own), each product rounded: a * b / 255. Then source (s, alpha A)
// over canvas (d, alpha D), with W = D * (255 - A):
//   A = 0: the canvas stays;  A = 255 or D = 0: the canvas pixel becomes (s, A);
//   otherwise: colour (s * A * 255 + d * W + T / 2) / T and alpha (T + 127) / 255,
//   where T = A * 255 + W (integer division throughout).
//
// An indexed sprite is a palette input (kPaletteIndices) when no layer and no cel that is
// drawn has an opacity other than 255 and every palette entry but the transparent index is
// opaque: each pixel is then the topmost index drawn there, the transparent index where
// none is. A drawn background layer must then cover the canvas in every frame, and the
// frames have no transparent index (they are opaque everywhere); otherwise the sprite is
// composed. Composed indexed sprites are kOwnPaletteColour (with the transparent index's
// entry at alpha 0), grayscale and RGBA sprites kTrueColour.
//
// Anything damaged (a size or offset outside its chunk, frame or file, a zlib stream that
// ends before its cel's pixels, links to nowhere or in a circle, an unknown colour depth or
// cel type, a tag past the last frame): kAsepriteCorrupt. A cel's zlib stream is inflated
// only as far as the cel's rows that reach the canvas, never past its declared size.

#include <cstdint>
#include <span>

#include "input/frames.h"

namespace kav {

// The magic number 0xA5E0 at offset 4.
bool HasAsepriteSignature(std::span<const std::uint8_t> first);

OpenedFrames OpenAsepriteFrames(std::span<const std::uint8_t> file);

}  // namespace kav
