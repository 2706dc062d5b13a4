#pragma once
// ReadPng: the reader of PNG files of every colour type.
//
//   palette PNG, depth 1, 2, 4 or 8   the PLTE entries are the palette; each pixel's value is
//                                     its index, kept as it is when it lies at or past the
//                                     PLTE's length (such an index has a black entry); tRNS
//                                     gives the entries their alpha
//   grey PNG, depth d of 1, 2, 4, 8   2^d greys: level v is v * 255 / (2^d - 1), index v; the
//   (and 16: 256 greys, each sample   level a tRNS keys has alpha 0
//   its high byte)
//   RGB, RGBA, grey with alpha, 8 or  a truecolour picture, 4 bytes a pixel: each 16-bit
//   16 bits; 16-bit grey with a key   sample its high byte, a tRNS colour key compared on
//                                     the whole samples
//
// A palette or grey PNG gives exactly the picture of its uncompressed 8-bit BMP twin, with
// the tRNS's alphas. Interlaced and plain files read alike. Colours are taken as stored:
// gAMA, sRGB, iCCP and every other ancillary chunk are skipped (their CRCs are still
// checked), and so is a tRNS chunk libpng would refuse (not the only one, out of place, of
// the wrong length, or in a file with alpha). A bad CRC, a file cut short or a damaged image
// stream is corrupt.
//
// The picture's rows are stored top row first, with no padding.

#include "input/read_picture.h"
#include "platform/byte_source.h"
#include "platform/memory_budget.h"

namespace kav {

// Reads the PNG file `source` (from its start) into a picture. Its block, with libpng's row
// buffers, is reserved in `budget` once the header has told the picture's size, before any of
// the image stream is inflated.
// Given `rules`, a truecolour file that is not interlaced comes as the palette picture the
// rules give it (input/palette_picture.h), mapped row by row as libpng decodes them
// (color/exact_palette.h: StreamedExactPalette), or as kTooManyColours.
ReadResult ReadPng(ByteSource& source, MemoryBudget& budget,
                   const TransparencyRules* rules = nullptr);

}  // namespace kav
