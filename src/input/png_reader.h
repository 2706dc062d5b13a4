#pragma once
// ReadPng: the reader of palette and grey PNG files. A PNG gives exactly the picture of its
// uncompressed 8-bit BMP twin.
//
//   palette PNG, depth 1, 2, 4 or 8   the PLTE entries are the palette; each pixel's value is
//                                     its index, kept as it is when it lies at or past the
//                                     PLTE's length (such an index has a black entry)
//   grey PNG, depth d of 1, 2, 4, 8   2^d greys: level v is v * 255 / (2^d - 1), index v
//
// Interlaced and plain files read alike. Colours are taken as stored: tRNS, gAMA, sRGB,
// iCCP and every other ancillary chunk are skipped (their CRCs are still checked).
// Truecolour, grey with alpha and 16-bit files are refused as having no palette; a bad CRC,
// a file cut short or a damaged image stream as corrupt.
//
// The picture's rows are stored top row first, one byte an index and no padding.

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
