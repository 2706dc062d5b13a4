/* kav_formats.h: reads and draws the MZR, RLE and RLS files of KAV Graphic Converter.
   Version 1.0.0 (KAV_FORMATS_VERSION_MAJOR, _MINOR, _PATCH); MIT licence, at the end.

   A single-file C99 library, also valid C++. Every file declares the functions by including
   this header; exactly one C or C++ file of a program also compiles them:

       #define KAV_FORMATS_IMPLEMENTATION
       #include "kav/kav_formats.h"

   Or define KAV_FORMATS_STATIC before including it: the file then gets a private copy of
   every function, static (and marked unused, so functions it does not call draw no warning).

   It works on a byte buffer the caller owns and keeps no pointer of its own beyond what a
   kav_image holds (the buffer, which must outlive it). It allocates nothing, does no I/O,
   has no global state and needs nothing from the C library beyond <stdint.h>, <stddef.h>
   and <string.h>: it runs as well on a microcontroller reading from flash as on a desktop
   reading a mapped file.

   Use:
     1. kav_open() recognises the buffer, judges its header against its length and checks
        its whole structure; a damaged file gives a kav_error (offset, reason, numbers),
        which kav_error_describe() puts in one line.
     2. The header fields are in the kav_image; kav_read_table() gives each colour table.
     3. kav_draw_rgb565() and kav_draw_rgba8888() draw the image into a frame buffer, clipped,
        through any table; kav_row_indices(), kav_segment_indices(), kav_row_rgb565() and
        kav_row_rgba8888() decode single rows and segments.
   Whatever the bytes, no function reads outside the buffer or writes outside the output
   it is given; decoding trusts what kav_open() checked, so a buffer that changes after it
   was opened decodes to wrong pixels (0 where codes are missing), never to a fault.

   THE FILES. Every number is little-endian and unsigned unless told otherwise. A colour
   table is 256 RGB565 colours (red in bits 15..11, green 10..5, blue 4..0), 512 bytes;
   entry i is the colour of palette index i. Rows are stored top row first.

   MZR: raw palette indices and 32 shade tables; exactly 16404 + width * height bytes.
     offset  size            content
     0       8               magic: "KAV8BMP" and a zero byte
     8       2               width
     10      2               height (the number of rows)
     12      1               useRemapping: 1 or 0
     13      1               reserved: 0
     14      2               startColor: first palette index of the remapping range
     16      2               endColor: last palette index of the remapping range
     18      2               transparentColor: the index drawn transparent when remapping is on
     20      32 * 512        shade tables; table 8 * g + L (KAV_MZR_TABLE) is brightness
                             level L (0 darkest, 4 unchanged, 7 nearest white) of palette g
                             (0 the image's own, 1 red-, 2 green-, 3 blue-tinted): table 4
                             is the plain palette
     16404   width * height  palette indices, row after row, no padding

   RLE and RLS: run-length coded rows, cut into segments of 128 columns, with offset tables
   that locate the first code of every segment of every row.
     offset  size              content
     0       2                 signature: "RL" (RLE) or "RS" (RLS)
     2       4                 dataSize: the file is 4118 + dataSize bytes long
     6       2                 width, 1 to 65535
     8       2                 height, 1 to 65535
     10      8 * 512           effect tables (KAV_RL_TABLE_...); table 0 is the plain palette
     4106    4                 rowTableSize = height * 4
     4110    4                 allRowTablesSize = segmentCount * height * 4
     4114    2                 segmentCount = (width + 127) / 128 (signed)
     4116    2                 padding
     4118    allRowTablesSize  offset tables: for segment s of row r, the 32-bit entry at
                               4118 + 4 * (s * height + r); its code starts at 4118 + entry
     ...     the rest          every row's codes, top row first, back to back
   A row is a sequence of codes, left to right, with no end marker:
     p, n    a run: n (1 to 128) pixels of index p, where p is run-coded: 255, and in RLS
             also 250
     p       one pixel of index p, any index that is not run-coded
     255 255 at the start of a row only: the whole row is index 255; every entry of the
             row points at these two bytes
   A run never crosses a segment boundary or the end of its row, so every segment's code
   starts at its first column. Index 255 is the background, drawn transparent. */

#ifndef KAV_FORMATS_H
#define KAV_FORMATS_H

#include <stddef.h>
#include <stdint.h>

#define KAV_FORMATS_VERSION_MAJOR 1
#define KAV_FORMATS_VERSION_MINOR 0
#define KAV_FORMATS_VERSION_PATCH 0

/* Every function's storage: static and unused-tolerant in a KAV_FORMATS_STATIC file. */
#ifdef KAV_FORMATS_STATIC
#ifndef KAV_FORMATS_IMPLEMENTATION
#define KAV_FORMATS_IMPLEMENTATION
#endif
#if defined(__GNUC__) || defined(__clang__)
#define KAV_DEF static __attribute__((unused))
#else
#define KAV_DEF static
#endif
#else
#define KAV_DEF
#endif

#ifdef __cplusplus
extern "C" {
#endif

#define KAV_TABLE_ENTRIES 256
#define KAV_TABLE_BYTES 512
#define KAV_MZR_TABLE_COUNT 32
#define KAV_MZR_ROWS_OFFSET 16404
#define KAV_RL_TABLE_COUNT 8
#define KAV_RL_OFFSET_TABLES 4118 /* entries are counted from here */
#define KAV_SEGMENT_WIDTH 128
#define KAV_MAX_RUN 128

/* The eight effect tables of RLE and RLS files; docs/formats.md gives each one's effects. */
#define KAV_RL_TABLE_PLAIN 0       /* the image's palette */
#define KAV_RL_TABLE_DARK 1        /* darkened (6) */
#define KAV_RL_TABLE_LIGHT 2       /* lightened (6) */
#define KAV_RL_TABLE_DARK_BLUE 3   /* darkened (5), then tinted blue (3) */
#define KAV_RL_TABLE_DARK_RED 4    /* darkened (7), then tinted red (3) */
#define KAV_RL_TABLE_DARK_PURPLE 5 /* darkened (6), then tinted red (2) and blue (2) */
#define KAV_RL_TABLE_GREY 6        /* red, green and blue weighed equally */
#define KAV_RL_TABLE_CYAN 7        /* tinted cyan (7) */

/* The 32 shade tables of MZR files: brightness `level` 0 (darkest) to 7 (nearest white) of
   a palette; level 4 leaves the colours as they are, so the plain palette is
   KAV_MZR_TABLE(KAV_MZR_PALETTE_PLAIN, KAV_MZR_LEVEL_PLAIN), table 4. */
#define KAV_MZR_TABLE(palette, level) (8 * (palette) + (level))
#define KAV_MZR_PALETTE_PLAIN 0 /* the image's own */
#define KAV_MZR_PALETTE_RED 1   /* tinted red, green or blue */
#define KAV_MZR_PALETTE_GREEN 2
#define KAV_MZR_PALETTE_BLUE 3
#define KAV_MZR_LEVEL_PLAIN 4

/* Flags of kav_draw_rgb565 and kav_draw_rgba8888. */
#define KAV_DRAW_SWAP_BYTES 1u /* RGB565 written high byte first, for big-endian panels */
#define KAV_DRAW_FLIP_X 2u     /* the image mirrored left to right, in the same columns */

typedef enum kav_kind { KAV_KIND_NONE, KAV_KIND_MZR, KAV_KIND_RLE, KAV_KIND_RLS } kav_kind;

/* Why a file is refused. Each reason has a fixed text (kav_error_text) and says what the
   offset of its kav_error points at and what its numbers are; unused numbers are 0. */
typedef enum kav_reason {
  KAV_OK = 0,
  KAV_ERR_UNKNOWN_KIND, /* offset 0 */
  /* MZR */
  KAV_ERR_MZR_HEADER_CUT, /* offset: the length; [0] the length */
  KAV_ERR_MZR_MAGIC,      /* offset: the wrong byte; [0] its value, [1] the magic's */
  KAV_ERR_MZR_REMAPPING,  /* offset 12; [0] the flag */
  KAV_ERR_MZR_RESERVED,   /* offset 13; [0] the byte */
  KAV_ERR_MZR_TOO_SHORT,  /* offset: the length; [0] width, [1] height */
  KAV_ERR_MZR_TOO_LONG,   /* offset: 16404 + width * height; [0] width, [1] height */
  /* RLE and RLS header, judged before anything after it is read */
  KAV_ERR_HEADER_CUT,          /* offset: the length; [0] the length */
  KAV_ERR_TOO_SHORT,           /* offset: the length; [0] dataSize */
  KAV_ERR_TOO_LONG,            /* offset: 4118 + dataSize; [0] dataSize */
  KAV_ERR_WIDTH_ZERO,          /* offset 6 */
  KAV_ERR_HEIGHT_ZERO,         /* offset 8 */
  KAV_ERR_ROW_TABLE_SIZE,      /* offset 4106; [0] rowTableSize, [1] height */
  KAV_ERR_SEGMENT_COUNT,       /* offset 4114; [0] segmentCount as stored, [1] width */
  KAV_ERR_ALL_ROW_TABLES_SIZE, /* offset 4110; [0] allRowTablesSize, [1] the right size */
  KAV_ERR_NO_CODED_ROWS,       /* offset 2; [0] dataSize, [1] allRowTablesSize */
  /* RLE and RLS offset tables and codes; positions are counted from 4118, as entries are.
     The entry for segment s of row r lies at 4118 + 4 * (s * height + r). */
  KAV_ERR_ENTRY_OUTSIDE,       /* offset: the entry; [0] its value */
  KAV_ERR_ENTRY_MISPLACED,     /* offset: the entry; [0] its value, [1] where its code is */
  KAV_ERR_MARKER_ENTRY,        /* offset: the entry; [0] its value, [1] where the marker is */
  KAV_ERR_RUN_COUNT,           /* offset: the count, after its index; [0] column, [1] row */
  KAV_ERR_RUN_CROSSES_SEGMENT, /* offset: the run's index, its count next; [0] column, [1] row */
  KAV_ERR_RUN_PAST_ROW_END,    /* offset: the run's index, its count next; [0] column, [1] row */
  KAV_ERR_ROWS_CUT,            /* offset: the length; [0] row, [1] pixels it has */
  KAV_ERR_CODES_AFTER_ROWS,    /* offset: where the last row's code ends */
  KAV_REASON_COUNT
} kav_reason;

typedef struct kav_error {
  size_t offset; /* where in the buffer the fault lies */
  kav_reason reason;
  uint32_t number[2]; /* what the reason refers to, as listed above */
} kav_error;

typedef struct kav_mzr_fields {
  uint8_t use_remapping;
  uint16_t start_color;
  uint16_t end_color;
  uint16_t transparent_color;
} kav_mzr_fields;

typedef struct kav_rl_fields {
  uint32_t data_size;
  uint32_t row_table_size;
  uint32_t all_row_tables_size;
  uint16_t segment_count;
} kav_rl_fields;

typedef struct kav_image {
  const uint8_t* bytes; /* the whole file, owned by the caller */
  size_t size;
  kav_kind kind;
  uint16_t width;
  uint16_t height;      /* the number of rows */
  unsigned table_count; /* 32 (MZR) or 8 (RLE, RLS) */
  kav_mzr_fields mzr;   /* MZR only */
  kav_rl_fields rl;     /* RLE and RLS only */
} kav_image;

/* The kind of file by its first bytes ("KAV8BMP", "RL", "RS"); names play no part. */
KAV_DEF kav_kind kav_detect(const void* bytes, size_t size);
/* "MZR", "RLE", "RLS" or "unknown". */
KAV_DEF const char* kav_kind_name(kav_kind kind);
/* One sentence without a final full stop, or "unknown reason". */
KAV_DEF const char* kav_error_text(kav_reason reason);
/* The fault in one line without a final full stop, with its numbers and what `image` (as
   kav_open or kav_open_header left it) tells of the file, for instance "run of 2 pixels of
   index 255 at column 127 of row 0 crosses the segment boundary at column 128". Writes at
   most `size` bytes into `out`, the last of them a zero byte, and returns the length of
   the whole line (without the zero byte), as snprintf does: a return of `size` or more
   means the line was cut. */
KAV_DEF size_t kav_error_describe(const kav_image* image, const kav_error* error, char* out,
                                  size_t size);

/* Opens `bytes` (`size` of them): recognises the file, judges the header against the
   length and checks the whole structure: every offset entry points at the first code of
   its segment, run counts are 1 to 128, no run crosses a segment boundary or a row's end,
   and every coded byte belongs to a row. KAV_OK, or the reason with `error` (which may be
   NULL) filled in. Costs one pass over the codes. */
KAV_DEF kav_reason kav_open(kav_image* image, const void* bytes, size_t size, kav_error* error);
/* kav_open in two steps: the header against the length alone, reading nothing after the
   first 4118 bytes (so a huge damaged file is judged at once), then the offset tables and
   codes. Once kav_open_header has passed, the header fields stay valid even when
   kav_check fails, so a fault can be told by row and segment. */
KAV_DEF kav_reason kav_open_header(kav_image* image, const void* bytes, size_t size,
                                   kav_error* error);
KAV_DEF kav_reason kav_check(const kav_image* image, kav_error* error);

/* Colour table `table` (0 to table_count - 1) as 256 RGB565 values into `colours`.
   0 when there is no such table, 1 otherwise. */
KAV_DEF int kav_read_table(const kav_image* image, unsigned table,
                           uint16_t colours[KAV_TABLE_ENTRIES]);
/* The table of the plain palette: MZR 4, RLE and RLS 0. */
KAV_DEF unsigned kav_plain_table(const kav_image* image);
/* The index drawn transparent: RLE and RLS 255; MZR the header's transparentColor when
   remapping is on and it is 0 to 255; otherwise -1. */
KAV_DEF int kav_transparent_index(const kav_image* image);

/* Draws the image through colour table `table` with its top left corner at column `x`, row
   `y` of a frame buffer of `dst_width` x `dst_height` RGB565 pixels whose rows lie
   `dst_pitch` pixels apart (at least `dst_width`). The image is clipped to the buffer on
   every side: x and y may be negative or past its edges, and nothing outside it is
   written. Pixels of the transparent index (kav_transparent_index) are left as they are.
   `flags`: KAV_DRAW_SWAP_BYTES, KAV_DRAW_FLIP_X, or 0. Returns 1, or 0 (nothing drawn)
   when there is no such table or `image` or `dst` is NULL or was never opened.
   RLE and RLS rows start at the segment that holds the first visible column, through its
   offset entry, and stop after the last one; transparent runs are skipped whole, and rows
   outside the buffer cost nothing. */
KAV_DEF int kav_draw_rgb565(const kav_image* image, unsigned table, uint16_t* dst, size_t dst_pitch,
                            int dst_width, int dst_height, int x, int y, unsigned flags);
/* kav_draw_rgb565 into a buffer of 32-bit pixels, each the four bytes red, green, blue and
   alpha in memory order (see kav_row_rgba8888); drawn pixels get alpha 255.
   KAV_DRAW_SWAP_BYTES is ignored. */
KAV_DEF int kav_draw_rgba8888(const kav_image* image, unsigned table, uint32_t* dst,
                              size_t dst_pitch, int dst_width, int dst_height, int x, int y,
                              unsigned flags);

/* Row `row` (0 is the top) as `width` palette indices. MZR: a pointer into the buffer;
   RLE and RLS: expanded into `scratch` (`width` bytes), which is returned. NULL when there
   is no such row. */
KAV_DEF const uint8_t* kav_row_indices(const kav_image* image, uint32_t row, uint8_t* scratch);
/* Segment `segment` of row `row` (columns 128 * segment on, up to 128 of them) into `out`,
   decoded from that segment's offset entry: random access that costs the same anywhere in
   the row. Returns the number of pixels, 0 when there is no such segment. */
KAV_DEF size_t kav_segment_indices(const kav_image* image, uint32_t row, uint32_t segment,
                                   uint8_t out[KAV_SEGMENT_WIDTH]);
/* Row `row` through colour table `table`: `width` RGB565 colours into `rgb` and `width`
   alpha bytes into `alpha`, 0 for the transparent index (kav_transparent_index) and 255
   for every other. 0 when there is no such row or table, 1 otherwise. */
KAV_DEF int kav_row_rgb565(const kav_image* image, uint32_t row, unsigned table, uint16_t* rgb,
                           uint8_t* alpha);
/* Row `row` through colour table `table` as `width` pixels of 4 bytes, red, green, blue and
   alpha, into `rgba`. Each 5- or 6-bit channel is widened by repeating its high bits
   (r8 = r5 << 3 | r5 >> 2, g8 = g6 << 2 | g6 >> 4), so black stays 0 and white becomes
   255; alpha is 0 for the transparent index and 255 for every other. 0 when there is no
   such row or table, 1 otherwise. */
KAV_DEF int kav_row_rgba8888(const kav_image* image, uint32_t row, unsigned table, uint8_t* rgba);

#ifdef __cplusplus
}
#endif

#endif /* KAV_FORMATS_H */

#ifdef KAV_FORMATS_IMPLEMENTATION
#ifndef KAV_FORMATS_IMPLEMENTED
#define KAV_FORMATS_IMPLEMENTED

#include <string.h>

#ifdef __cplusplus
#define KAV_CAST(type, value) (static_cast<type>(value))
extern "C" {
#else
#define KAV_CAST(type, value) ((type)(value))
#endif

#define KAV_MZR_HEADER_SIZE 20
#define KAV_MZR_MAGIC_SIZE 8
#define KAV_MZR_REMAPPING 12
#define KAV_MZR_RESERVED 13
#define KAV_RL_DATA_SIZE 2
#define KAV_RL_WIDTH 6
#define KAV_RL_HEIGHT 8
#define KAV_RL_TABLES 10
#define KAV_RL_ROW_TABLE_SIZE 4106
#define KAV_RL_ALL_ROW_TABLES_SIZE 4110
#define KAV_RL_SEGMENT_COUNT 4114
#define KAV_BLANK 255
#define KAV_SHADOW 250

static const char kav_mzr_magic[KAV_MZR_MAGIC_SIZE] = {'K', 'A', 'V', '8', 'B', 'M', 'P', 0};

static uint32_t kav_le16(const uint8_t* p) {
  return KAV_CAST(uint32_t, p[0]) | KAV_CAST(uint32_t, p[1]) << 8;
}

static uint32_t kav_le32(const uint8_t* p) {
  return kav_le16(p) | kav_le16(p + 2) << 16;
}

static kav_reason kav_fail(kav_error* error, size_t offset, kav_reason reason, uint32_t first,
                           uint32_t second) {
  if (error != NULL) {
    error->offset = offset;
    error->reason = reason;
    error->number[0] = first;
    error->number[1] = second;
  }
  return reason;
}

static int kav_run_coded(uint8_t index, int rls) {
  return index == KAV_BLANK || (rls && index == KAV_SHADOW);
}

/* Whether any of the 8 bytes in `word` is 255 or 250: a byte is zero in ~word or in
   word ^ 0xFAFA... exactly when it is one of them. */
static int kav_has_run_byte(uint64_t word) {
  const uint64_t ones = 0x0101010101010101u;
  const uint64_t highs = 0x8080808080808080u;
  const uint64_t blank = ~word;
  const uint64_t shadow = word ^ (ones * KAV_SHADOW);
  return (((blank - ones) & ~blank) | ((shadow - ones) & ~shadow)) & highs ? 1 : 0;
}

/* How many of the first `count` bytes at `codes` are single pixels, before the first
   run-coded index. */
static size_t kav_single_pixels(const uint8_t* codes, size_t count, int rls) {
  size_t i = 0;
  if (!rls) {
    const void* found = memchr(codes, KAV_BLANK, count);
    return found == NULL ? count : KAV_CAST(size_t, KAV_CAST(const uint8_t*, found) - codes);
  }
  for (; i + 8 <= count; i += 8) {
    uint64_t word;
    memcpy(&word, codes + i, 8);
    if (kav_has_run_byte(word)) {
      break;
    }
  }
  while (i < count && !kav_run_coded(codes[i], rls)) {
    ++i;
  }
  return i;
}

KAV_DEF kav_kind kav_detect(const void* bytes, size_t size) {
  const uint8_t* b = KAV_CAST(const uint8_t*, bytes);
  if (size >= KAV_MZR_MAGIC_SIZE - 1 && memcmp(b, kav_mzr_magic, KAV_MZR_MAGIC_SIZE - 1) == 0) {
    return KAV_KIND_MZR; /* the magic's zero byte is checked when the file is opened */
  }
  if (size >= 2 && b[0] == 'R' && b[1] == 'L') {
    return KAV_KIND_RLE;
  }
  if (size >= 2 && b[0] == 'R' && b[1] == 'S') {
    return KAV_KIND_RLS;
  }
  return KAV_KIND_NONE;
}

KAV_DEF const char* kav_kind_name(kav_kind kind) {
  switch (kind) {
    case KAV_KIND_MZR:
      return "MZR";
    case KAV_KIND_RLE:
      return "RLE";
    case KAV_KIND_RLS:
      return "RLS";
    case KAV_KIND_NONE:
      break;
  }
  return "unknown";
}

KAV_DEF const char* kav_error_text(kav_reason reason) {
  static const char* const texts[KAV_REASON_COUNT] = {
      "no fault",
      "not an MZR, RLE or RLS file: it begins with neither \"KAV8BMP\" nor \"RL\" nor \"RS\"",
      "the file ends inside the 20-byte MZR header",
      "an MZR file begins with \"KAV8BMP\" and a zero byte",
      "the remapping flag is not 0 or 1",
      "the reserved byte is not 0",
      "the file is shorter than 16404 + width x height bytes",
      "the file is longer than 16404 + width x height bytes",
      "the file ends inside the 4118-byte header",
      "the file is shorter than 4118 + dataSize bytes",
      "the file is longer than 4118 + dataSize bytes",
      "the width is 0",
      "the height is 0",
      "rowTableSize is not height x 4",
      "segmentCount is not the number of 128-column segments of the width",
      "allRowTablesSize is not segmentCount x rowTableSize",
      "dataSize leaves no room for coded rows after the offset tables",
      "an offset entry points outside the coded rows",
      "an offset entry does not point at the first code of its segment",
      "an offset entry does not point at its row's 255, 255 marker",
      "a run count is not 1 to 128",
      "a run crosses a segment boundary",
      "a run goes past the end of its row",
      "the coded rows end inside a row",
      "the coded rows go on after the last row"};
  const unsigned index = KAV_CAST(unsigned, reason);
  return index < KAV_REASON_COUNT ? texts[index] : "unknown reason";
}

/* A line being written into a caller's buffer of `size` bytes, cut to fit, and the length
   it would have whole. */
typedef struct kav_text {
  char* out;
  size_t size;
  size_t length;
} kav_text;

static void kav_put_char(kav_text* text, char c) {
  if (text->length + 1 < text->size) {
    text->out[text->length] = c;
  }
  ++text->length;
}

static void kav_put_string(kav_text* text, const char* string) {
  for (; *string != '\0'; ++string) {
    kav_put_char(text, *string);
  }
}

static void kav_put_decimal(kav_text* text, uint64_t value) {
  char digits[20];
  size_t count = 0;
  do {
    digits[count++] = KAV_CAST(char, '0' + value % 10);
    value /= 10;
  } while (value != 0);
  while (count > 0) {
    kav_put_char(text, digits[--count]);
  }
}

/* `format` with each "%u" replaced by the next of `values` in decimal, each "%X" by it in
   two hexadecimal digits and each "%d" by its low 16 bits as a signed number. */
static void kav_put_format(kav_text* text, const char* format, const uint64_t* values) {
  static const char hex[] = "0123456789ABCDEF";
  for (; *format != '\0'; ++format) {
    if (*format != '%') {
      kav_put_char(text, *format);
      continue;
    }
    ++format;
    if (*format == 'X') {
      kav_put_char(text, hex[*values >> 4 & 15]);
      kav_put_char(text, hex[*values & 15]);
    } else if (*format == 'd' && (*values & 0x8000u) != 0) {
      kav_put_char(text, '-');
      kav_put_decimal(text, 0x10000u - (*values & 0xFFFFu));
    } else {
      kav_put_decimal(text, *format == 'd' ? *values & 0xFFFFu : *values);
    }
    ++values;
  }
}

/* The byte at `offset` of the file, 0 outside it. */
static unsigned kav_byte_at(const kav_image* image, size_t offset) {
  return image->bytes != NULL && offset < image->size ? image->bytes[offset] : 0u;
}

static void kav_describe_mzr(kav_text* text, const kav_image* image, const kav_error* error) {
  const uint64_t first = error->number[0], second = error->number[1];
  const uint64_t sizes[] = {image->size, first, second, KAV_MZR_ROWS_OFFSET + first * second};
  const uint64_t magic[] = {error->offset, first, second};
  switch (error->reason) {
    case KAV_ERR_MZR_HEADER_CUT:
      kav_put_format(text, "the file ends after %u bytes, inside the 20-byte MZR header", &first);
      break;
    case KAV_ERR_MZR_MAGIC:
      kav_put_format(text, "magic byte %u is 0x%X, not 0x%X: ", magic);
      kav_put_string(text, kav_error_text(error->reason));
      break;
    case KAV_ERR_MZR_REMAPPING:
      kav_put_format(text, "the remapping flag is %u, not 0 or 1", &first);
      break;
    case KAV_ERR_MZR_RESERVED:
      kav_put_format(text, "the reserved byte is %u, not 0", &first);
      break;
    case KAV_ERR_MZR_TOO_SHORT:
      kav_put_format(text, "the file ends after %u bytes, but a %u x %u image needs %u", sizes);
      kav_put_string(text, " (16404 + width x height)");
      break;
    default:
      kav_put_format(text, "the file is %u bytes long, but a %u x %u image ends at %u", sizes);
      kav_put_string(text, " (16404 + width x height)");
      break;
  }
}

static void kav_describe_header(kav_text* text, const kav_image* image, const kav_error* error) {
  const uint64_t first = error->number[0], second = error->number[1];
  const uint64_t lengths[] = {image->size, first, KAV_RL_OFFSET_TABLES + first};
  const uint64_t rows[] = {first, second, second * 4};
  const uint64_t segments[] = {first, second, (second + KAV_SEGMENT_WIDTH - 1) / KAV_SEGMENT_WIDTH};
  switch (error->reason) {
    case KAV_ERR_HEADER_CUT:
      kav_put_format(text, "the file ends after %u bytes, inside the 4118-byte header", &first);
      break;
    case KAV_ERR_TOO_SHORT:
      kav_put_format(text, "the file ends after %u bytes, but dataSize %u gives a length of %u",
                     lengths);
      kav_put_string(text, " (4118 + dataSize)");
      break;
    case KAV_ERR_TOO_LONG:
      kav_put_format(text, "the file is %u bytes long, but dataSize %u gives a length of %u",
                     lengths);
      kav_put_string(text, " (4118 + dataSize)");
      break;
    case KAV_ERR_ROW_TABLE_SIZE:
      kav_put_format(text, "rowTableSize is %u, but a height of %u needs %u (height x 4)", rows);
      break;
    case KAV_ERR_SEGMENT_COUNT:
      kav_put_format(text, "segmentCount is %d, but a width of %u needs %u segments of 128 columns",
                     segments);
      break;
    case KAV_ERR_ALL_ROW_TABLES_SIZE:
      kav_put_format(text, "allRowTablesSize is %u, not segmentCount x rowTableSize = %u", rows);
      break;
    case KAV_ERR_NO_CODED_ROWS:
      kav_put_format(text, "dataSize %u leaves no room for coded rows after the %u bytes", rows);
      kav_put_string(text, " of offset tables");
      break;
    default:
      kav_put_string(text, kav_error_text(error->reason));
      break;
  }
}

/* The entry of segment s of row r is number s x height + r of the offset tables. */
static void kav_describe_entry(kav_text* text, const kav_image* image, const kav_error* error) {
  const uint64_t number =
      error->offset >= KAV_RL_OFFSET_TABLES ? (error->offset - KAV_RL_OFFSET_TABLES) / 4 : 0;
  const uint64_t height = image->height != 0 ? image->height : 1;
  const uint64_t segment = number / height, row = number % height;
  const uint64_t entry[] = {segment, row, error->number[0]};
  const uint64_t inside[] = {image->rl.all_row_tables_size, image->rl.data_size - 1u};
  const uint64_t at[] = {error->number[1],
                         KAV_RL_OFFSET_TABLES + KAV_CAST(uint64_t, error->number[1])};
  const uint64_t column = segment * KAV_SEGMENT_WIDTH, previous = row - 1;
  kav_put_format(text, "offset entry for segment %u of row %u is %u, ", entry);
  if (error->reason == KAV_ERR_ENTRY_OUTSIDE) {
    kav_put_format(text, "outside the coded rows (%u to %u)", inside);
    return;
  }
  if (error->reason == KAV_ERR_MARKER_ENTRY) {
    kav_put_string(text, "but the row is coded as the 255, 255 marker at");
  } else if (segment > 0) {
    kav_put_format(text, "but the code of column %u begins at", &column);
  } else if (row > 0) {
    kav_put_format(text, "but the code of row %u ends at", &previous);
  } else {
    kav_put_string(text, "but the coded rows begin at");
  }
  kav_put_format(text, " %u (file offset %u)", at);
}

/* A run's index and count lie at the offset; for a bad count the offset is the count's. */
static void kav_describe_run(kav_text* text, const kav_image* image, const kav_error* error) {
  const uint64_t column = error->number[0], row = error->number[1];
  const size_t at = error->offset;
  const uint64_t count[] = {kav_byte_at(image, at), kav_byte_at(image, at - 1), column, row,
                            KAV_MAX_RUN};
  const uint64_t run[] = {kav_byte_at(image, at + 1), kav_byte_at(image, at), column, row};
  const uint64_t boundary = (column / KAV_SEGMENT_WIDTH + 1) * KAV_SEGMENT_WIDTH;
  const uint64_t width = image->width;
  if (error->reason == KAV_ERR_RUN_COUNT) {
    kav_put_format(text, "run count %u of index %u at column %u of row %u is not 1 to %u", count);
    if (count[0] == KAV_BLANK && count[1] == KAV_BLANK) {
      kav_put_string(text, " (255, 255 marks a row of 255 only at the row's start)");
    }
    return;
  }
  kav_put_format(text, "run of %u pixels of index %u at column %u of row %u ", run);
  if (error->reason == KAV_ERR_RUN_PAST_ROW_END) {
    kav_put_format(text, "goes past the row's end (width %u)", &width);
  } else {
    kav_put_format(text, "crosses the segment boundary at column %u", &boundary);
  }
}

/* The coded rows end too soon, or go on after the last row. */
static void kav_describe_rows(kav_text* text, const kav_image* image, const kav_error* error) {
  const uint64_t cut[] = {error->number[0], error->number[1], image->width};
  const uint64_t after[] = {error->offset, image->size};
  if (error->reason == KAV_ERR_ROWS_CUT) {
    kav_put_format(text, "the coded rows end inside row %u, after %u of its %u pixels", cut);
    return;
  }
  kav_put_format(text, "the code of the last row ends at file offset %u, but the coded rows",
                 after);
  kav_put_format(text, " go on to %u (4118 + dataSize)", after + 1);
}

static void kav_describe(kav_text* text, const kav_image* image, const kav_error* error) {
  switch (error->reason) {
    case KAV_ERR_UNKNOWN_KIND:
      kav_put_string(text, "not an MZR, RLE or RLS file");
      break;
    case KAV_ERR_MZR_HEADER_CUT:
    case KAV_ERR_MZR_MAGIC:
    case KAV_ERR_MZR_REMAPPING:
    case KAV_ERR_MZR_RESERVED:
    case KAV_ERR_MZR_TOO_SHORT:
    case KAV_ERR_MZR_TOO_LONG:
      kav_describe_mzr(text, image, error);
      break;
    case KAV_ERR_ENTRY_OUTSIDE:
    case KAV_ERR_ENTRY_MISPLACED:
    case KAV_ERR_MARKER_ENTRY:
      kav_describe_entry(text, image, error);
      break;
    case KAV_ERR_RUN_COUNT:
    case KAV_ERR_RUN_CROSSES_SEGMENT:
    case KAV_ERR_RUN_PAST_ROW_END:
      kav_describe_run(text, image, error);
      break;
    case KAV_ERR_ROWS_CUT:
    case KAV_ERR_CODES_AFTER_ROWS:
      kav_describe_rows(text, image, error);
      break;
    default:
      kav_describe_header(text, image, error);
      break;
  }
}

KAV_DEF size_t kav_error_describe(const kav_image* image, const kav_error* error, char* out,
                                  size_t size) {
  kav_text text;
  text.out = out;
  text.size = out != NULL ? size : 0;
  text.length = 0;
  kav_describe(&text, image, error);
  if (text.size > 0) {
    text.out[text.length < text.size ? text.length : text.size - 1] = '\0';
  }
  return text.length;
}

static kav_reason kav_open_mzr(kav_image* image, kav_error* error) {
  const uint8_t* b = image->bytes;
  uint32_t expected;
  size_t i;
  if (image->size < KAV_MZR_HEADER_SIZE) {
    return kav_fail(error, image->size, KAV_ERR_MZR_HEADER_CUT, KAV_CAST(uint32_t, image->size), 0);
  }
  for (i = 0; i < KAV_MZR_MAGIC_SIZE; ++i) {
    const uint8_t magic = KAV_CAST(uint8_t, kav_mzr_magic[i]);
    if (b[i] != magic) {
      return kav_fail(error, i, KAV_ERR_MZR_MAGIC, b[i], magic);
    }
  }
  if (b[KAV_MZR_REMAPPING] > 1) {
    return kav_fail(error, KAV_MZR_REMAPPING, KAV_ERR_MZR_REMAPPING, b[KAV_MZR_REMAPPING], 0);
  }
  if (b[KAV_MZR_RESERVED] != 0) {
    return kav_fail(error, KAV_MZR_RESERVED, KAV_ERR_MZR_RESERVED, b[KAV_MZR_RESERVED], 0);
  }
  /* At most 16404 + 65535 * 65535, which fits 32 bits. */
  expected = KAV_MZR_ROWS_OFFSET + kav_le16(b + 8) * kav_le16(b + 10);
  if (image->size < expected) {
    return kav_fail(error, image->size, KAV_ERR_MZR_TOO_SHORT, kav_le16(b + 8), kav_le16(b + 10));
  }
  if (image->size > expected) {
    return kav_fail(error, expected, KAV_ERR_MZR_TOO_LONG, kav_le16(b + 8), kav_le16(b + 10));
  }
  image->width = KAV_CAST(uint16_t, kav_le16(b + 8));
  image->height = KAV_CAST(uint16_t, kav_le16(b + 10));
  image->table_count = KAV_MZR_TABLE_COUNT;
  image->mzr.use_remapping = b[KAV_MZR_REMAPPING];
  image->mzr.start_color = KAV_CAST(uint16_t, kav_le16(b + 14));
  image->mzr.end_color = KAV_CAST(uint16_t, kav_le16(b + 16));
  image->mzr.transparent_color = KAV_CAST(uint16_t, kav_le16(b + 18));
  return KAV_OK;
}

/* The file's length must be the one dataSize gives. */
static kav_reason kav_check_rl_length(const kav_image* image, uint32_t data_size,
                                      kav_error* error) {
  if (image->size - KAV_RL_OFFSET_TABLES < data_size) {
    return kav_fail(error, image->size, KAV_ERR_TOO_SHORT, data_size, 0);
  }
  if (image->size - KAV_RL_OFFSET_TABLES > data_size) {
    return kav_fail(error, KAV_RL_OFFSET_TABLES + KAV_CAST(size_t, data_size), KAV_ERR_TOO_LONG,
                    data_size, 0);
  }
  return KAV_OK;
}

/* The picture's size and the offset tables' sizes must agree with each other and leave room
   for coded rows, so that every later read of the offset tables lies inside the buffer. */
static kav_reason kav_check_rl_tables(const uint8_t* b, uint32_t data_size, kav_error* error) {
  const uint32_t width = kav_le16(b + KAV_RL_WIDTH);
  const uint32_t height = kav_le16(b + KAV_RL_HEIGHT);
  const uint32_t row_table_size = kav_le32(b + KAV_RL_ROW_TABLE_SIZE);
  const uint32_t all_row_tables_size = kav_le32(b + KAV_RL_ALL_ROW_TABLES_SIZE);
  const uint32_t stored_segments = kav_le16(b + KAV_RL_SEGMENT_COUNT);
  const uint32_t segments = (width + KAV_SEGMENT_WIDTH - 1) / KAV_SEGMENT_WIDTH;
  if (width == 0) {
    return kav_fail(error, KAV_RL_WIDTH, KAV_ERR_WIDTH_ZERO, 0, 0);
  }
  if (height == 0) {
    return kav_fail(error, KAV_RL_HEIGHT, KAV_ERR_HEIGHT_ZERO, 0, 0);
  }
  if (row_table_size != height * 4) {
    return kav_fail(error, KAV_RL_ROW_TABLE_SIZE, KAV_ERR_ROW_TABLE_SIZE, row_table_size, height);
  }
  if (stored_segments != segments) {
    return kav_fail(error, KAV_RL_SEGMENT_COUNT, KAV_ERR_SEGMENT_COUNT, stored_segments, width);
  }
  if (all_row_tables_size != segments * row_table_size) {
    return kav_fail(error, KAV_RL_ALL_ROW_TABLES_SIZE, KAV_ERR_ALL_ROW_TABLES_SIZE,
                    all_row_tables_size, segments * row_table_size);
  }
  if (data_size <= all_row_tables_size) {
    return kav_fail(error, KAV_RL_DATA_SIZE, KAV_ERR_NO_CODED_ROWS, data_size, all_row_tables_size);
  }
  return KAV_OK;
}

static kav_reason kav_open_run_length(kav_image* image, kav_error* error) {
  const uint8_t* b = image->bytes;
  uint32_t data_size, width;
  kav_reason reason;
  if (image->size < KAV_RL_OFFSET_TABLES) {
    return kav_fail(error, image->size, KAV_ERR_HEADER_CUT, KAV_CAST(uint32_t, image->size), 0);
  }
  data_size = kav_le32(b + KAV_RL_DATA_SIZE);
  reason = kav_check_rl_length(image, data_size, error);
  if (reason == KAV_OK) {
    reason = kav_check_rl_tables(b, data_size, error);
  }
  if (reason != KAV_OK) {
    return reason;
  }
  width = kav_le16(b + KAV_RL_WIDTH);
  image->width = KAV_CAST(uint16_t, width);
  image->height = KAV_CAST(uint16_t, kav_le16(b + KAV_RL_HEIGHT));
  image->table_count = KAV_RL_TABLE_COUNT;
  image->rl.data_size = data_size;
  image->rl.row_table_size = kav_le32(b + KAV_RL_ROW_TABLE_SIZE);
  image->rl.all_row_tables_size = kav_le32(b + KAV_RL_ALL_ROW_TABLES_SIZE);
  image->rl.segment_count = KAV_CAST(uint16_t, (width + KAV_SEGMENT_WIDTH - 1) / KAV_SEGMENT_WIDTH);
  return KAV_OK;
}

KAV_DEF kav_reason kav_open_header(kav_image* image, const void* bytes, size_t size,
                                   kav_error* error) {
  const kav_kind kind = kav_detect(bytes, size);
  kav_reason reason;
  memset(image, 0, sizeof *image);
  image->bytes = KAV_CAST(const uint8_t*, bytes);
  image->size = size;
  if (kind == KAV_KIND_NONE) {
    return kav_fail(error, 0, KAV_ERR_UNKNOWN_KIND, 0, 0);
  }
  reason = kind == KAV_KIND_MZR ? kav_open_mzr(image, error) : kav_open_run_length(image, error);
  if (reason == KAV_OK) {
    image->kind = kind;
  }
  return reason;
}

/* Walking the codes: where decoding has arrived in the coded rows of a file whose header
   has passed. Positions count from 4118, as offset entries do. */
typedef struct kav_walk {
  const kav_image* image;
  const uint8_t* body; /* the buffer from 4118 on */
  size_t body_size;    /* dataSize */
  size_t position;
  int rls;
  kav_error* error;
} kav_walk;

static size_t kav_entry_index(const kav_image* image, uint32_t segment, uint32_t row) {
  return KAV_CAST(size_t, segment) * image->height + row;
}

static uint32_t kav_entry(const kav_walk* walk, uint32_t segment, uint32_t row) {
  return kav_le32(walk->body + 4 * kav_entry_index(walk->image, segment, row));
}

static size_t kav_entry_offset(const kav_image* image, uint32_t segment, uint32_t row) {
  return KAV_RL_OFFSET_TABLES + 4 * kav_entry_index(image, segment, row);
}

static kav_reason kav_check_entries_inside(const kav_walk* walk) {
  const kav_image* image = walk->image;
  uint32_t segment, row;
  for (segment = 0; segment < image->rl.segment_count; ++segment) {
    for (row = 0; row < image->height; ++row) {
      const uint32_t entry = kav_entry(walk, segment, row);
      if (entry < image->rl.all_row_tables_size || entry >= image->rl.data_size) {
        return kav_fail(walk->error, kav_entry_offset(image, segment, row), KAV_ERR_ENTRY_OUTSIDE,
                        entry, 0);
      }
    }
  }
  return KAV_OK;
}

/* The entry of `segment` of `row` must point where decoding has arrived. */
static kav_reason kav_check_entry(const kav_walk* walk, uint32_t segment, uint32_t row,
                                  kav_reason reason) {
  const uint32_t entry = kav_entry(walk, segment, row);
  if (entry != walk->position) {
    return kav_fail(walk->error, kav_entry_offset(walk->image, segment, row), reason, entry,
                    KAV_CAST(uint32_t, walk->position));
  }
  return KAV_OK;
}

/* The codes of `row` from `column` to `end`, the end of a segment. */
static kav_reason kav_check_segment(kav_walk* walk, uint32_t row, uint32_t column, uint32_t end) {
  const uint8_t* body = walk->body;
  while (column < end) {
    const size_t left = walk->body_size - walk->position;
    if (left == 0 || (kav_run_coded(body[walk->position], walk->rls) && left == 1)) {
      return kav_fail(walk->error, walk->image->size, KAV_ERR_ROWS_CUT, row, column);
    }
    if (kav_run_coded(body[walk->position], walk->rls)) {
      const uint32_t count = body[walk->position + 1];
      const size_t at = KAV_RL_OFFSET_TABLES + walk->position;
      if (count == 0 || count > KAV_MAX_RUN) {
        return kav_fail(walk->error, at + 1, KAV_ERR_RUN_COUNT, column, row);
      }
      if (count > end - column) {
        return kav_fail(
            walk->error, at,
            end == walk->image->width ? KAV_ERR_RUN_PAST_ROW_END : KAV_ERR_RUN_CROSSES_SEGMENT,
            column, row);
      }
      column += count;
      walk->position += 2;
    } else {
      const size_t room = end - column < left ? end - column : left;
      const size_t singles = kav_single_pixels(body + walk->position, room, walk->rls);
      column += KAV_CAST(uint32_t, singles);
      walk->position += singles;
    }
  }
  return KAV_OK;
}

static kav_reason kav_check_row(kav_walk* walk, uint32_t row) {
  const kav_image* image = walk->image;
  const uint8_t* codes = walk->body + walk->position;
  uint32_t segment;
  kav_reason reason = kav_check_entry(walk, 0, row, KAV_ERR_ENTRY_MISPLACED);
  if (reason != KAV_OK) {
    return reason;
  }
  if (walk->position + 1 < walk->body_size && codes[0] == KAV_BLANK && codes[1] == KAV_BLANK) {
    for (segment = 1; segment < image->rl.segment_count; ++segment) {
      reason = kav_check_entry(walk, segment, row, KAV_ERR_MARKER_ENTRY);
      if (reason != KAV_OK) {
        return reason;
      }
    }
    walk->position += 2;
    return KAV_OK;
  }
  for (segment = 0; segment < image->rl.segment_count; ++segment) {
    const uint32_t column = segment * KAV_SEGMENT_WIDTH;
    const uint32_t end =
        image->width - column < KAV_SEGMENT_WIDTH ? image->width : column + KAV_SEGMENT_WIDTH;
    if (segment > 0) {
      reason = kav_check_entry(walk, segment, row, KAV_ERR_ENTRY_MISPLACED);
    }
    if (reason == KAV_OK) {
      reason = kav_check_segment(walk, row, column, end);
    }
    if (reason != KAV_OK) {
      return reason;
    }
  }
  return KAV_OK;
}

KAV_DEF kav_reason kav_check(const kav_image* image, kav_error* error) {
  kav_walk walk;
  kav_reason reason;
  uint32_t row;
  if (image->kind == KAV_KIND_MZR) {
    return KAV_OK; /* the header and the length say everything */
  }
  if (image->kind == KAV_KIND_NONE) {
    return kav_fail(error, 0, KAV_ERR_UNKNOWN_KIND, 0, 0);
  }
  walk.image = image;
  walk.body = image->bytes + KAV_RL_OFFSET_TABLES;
  walk.body_size = image->rl.data_size;
  walk.position = image->rl.all_row_tables_size;
  walk.rls = image->kind == KAV_KIND_RLS;
  walk.error = error;
  reason = kav_check_entries_inside(&walk);
  for (row = 0; reason == KAV_OK && row < image->height; ++row) {
    reason = kav_check_row(&walk, row);
  }
  if (reason == KAV_OK && walk.position != walk.body_size) {
    reason = kav_fail(error, KAV_RL_OFFSET_TABLES + walk.position, KAV_ERR_CODES_AFTER_ROWS, 0, 0);
  }
  return reason;
}

KAV_DEF kav_reason kav_open(kav_image* image, const void* bytes, size_t size, kav_error* error) {
  const kav_reason reason = kav_open_header(image, bytes, size, error);
  return reason != KAV_OK ? reason : kav_check(image, error);
}

KAV_DEF int kav_read_table(const kav_image* image, unsigned table,
                           uint16_t colours[KAV_TABLE_ENTRIES]) {
  const size_t start = image->kind == KAV_KIND_MZR ? KAV_MZR_HEADER_SIZE : KAV_RL_TABLES;
  unsigned i;
  if (table >= image->table_count) {
    return 0;
  }
  for (i = 0; i < KAV_TABLE_ENTRIES; ++i) {
    colours[i] =
        KAV_CAST(uint16_t, kav_le16(image->bytes + start + KAV_TABLE_BYTES * table + 2 * i));
  }
  return 1;
}

KAV_DEF unsigned kav_plain_table(const kav_image* image) {
  return image->kind == KAV_KIND_MZR ? 4 : 0;
}

KAV_DEF int kav_transparent_index(const kav_image* image) {
  if (image->kind != KAV_KIND_MZR) {
    return KAV_BLANK;
  }
  return image->mzr.use_remapping && image->mzr.transparent_color <= 255
             ? image->mzr.transparent_color
             : -1;
}

/* Expands the codes of segment `segment` of `row` into `count` pixels. Every read is
   bounded by the buffer and every write by `count`: pixels that codes do not reach are 0,
   and runs are cut at `count`. */
static void kav_expand(const kav_image* image, uint32_t segment, uint32_t row, uint8_t* out,
                       size_t count) {
  const size_t entry_at = kav_entry_offset(image, segment, row);
  const int rls = image->kind == KAV_KIND_RLS;
  const uint8_t* b = image->bytes;
  const size_t size = image->size;
  const uint32_t entry = kav_le32(b + entry_at);
  size_t at = entry < size - KAV_RL_OFFSET_TABLES ? KAV_RL_OFFSET_TABLES + entry : size;
  size_t x = 0;
  if (size - at >= 2 && b[at] == KAV_BLANK && b[at + 1] == KAV_BLANK) {
    memset(out, KAV_BLANK, count);
    return;
  }
  while (x < count && at < size) {
    const uint8_t index = b[at];
    if (kav_run_coded(index, rls)) {
      size_t run = size - at >= 2 ? b[at + 1] : 0;
      if (run > count - x) {
        run = count - x;
      }
      memset(out + x, index, run);
      x += run;
      at += 2;
    } else {
      const size_t room = count - x < size - at ? count - x : size - at;
      const size_t singles = kav_single_pixels(b + at, room, rls);
      memcpy(out + x, b + at, singles);
      x += singles;
      at += singles;
    }
  }
  if (x < count) {
    memset(out + x, 0, count - x);
  }
}

KAV_DEF const uint8_t* kav_row_indices(const kav_image* image, uint32_t row, uint8_t* scratch) {
  if (row >= image->height) {
    return NULL;
  }
  if (image->kind == KAV_KIND_MZR) {
    return image->bytes + KAV_MZR_ROWS_OFFSET + KAV_CAST(size_t, row) * image->width;
  }
  kav_expand(image, 0, row, scratch, image->width);
  return scratch;
}

KAV_DEF size_t kav_segment_indices(const kav_image* image, uint32_t row, uint32_t segment,
                                   uint8_t out[KAV_SEGMENT_WIDTH]) {
  const uint32_t column = segment * KAV_SEGMENT_WIDTH;
  size_t count;
  if (row >= image->height ||
      segment >= (image->width + KAV_SEGMENT_WIDTH - 1u) / KAV_SEGMENT_WIDTH) {
    return 0;
  }
  count = image->width - column < KAV_SEGMENT_WIDTH ? image->width - column : KAV_SEGMENT_WIDTH;
  if (image->kind == KAV_KIND_MZR) {
    memcpy(out, kav_row_indices(image, row, NULL) + column, count);
  } else {
    kav_expand(image, segment, row, out, count);
  }
  return count;
}

KAV_DEF int kav_row_rgb565(const kav_image* image, uint32_t row, unsigned table, uint16_t* rgb,
                           uint8_t* alpha) {
  const size_t start = image->kind == KAV_KIND_MZR ? KAV_MZR_HEADER_SIZE : KAV_RL_TABLES;
  const int transparent = kav_transparent_index(image);
  const uint8_t* colours;
  const uint8_t* indices;
  size_t x;
  if (row >= image->height || table >= image->table_count) {
    return 0;
  }
  colours = image->bytes + start + KAV_TABLE_BYTES * table;
  /* RLE and RLS rows are expanded into `alpha`, each index read before its alpha is set. */
  indices = kav_row_indices(image, row, alpha);
  for (x = 0; x < image->width; ++x) {
    const uint8_t index = indices[x];
    rgb[x] = KAV_CAST(uint16_t, kav_le16(colours + 2 * index));
    alpha[x] = index == transparent ? 0 : 255;
  }
  return 1;
}

static void kav_widen(uint16_t colour, uint8_t rgba[4]) {
  const unsigned red = colour >> 11, green = colour >> 5 & 63u, blue = colour & 31u;
  rgba[0] = KAV_CAST(uint8_t, red << 3 | red >> 2);
  rgba[1] = KAV_CAST(uint8_t, green << 2 | green >> 4);
  rgba[2] = KAV_CAST(uint8_t, blue << 3 | blue >> 2);
  rgba[3] = 255;
}

KAV_DEF int kav_row_rgba8888(const kav_image* image, uint32_t row, unsigned table, uint8_t* rgba) {
  const size_t start = image->kind == KAV_KIND_MZR ? KAV_MZR_HEADER_SIZE : KAV_RL_TABLES;
  const int transparent = kav_transparent_index(image);
  const uint8_t* colours;
  const uint8_t* indices;
  size_t x;
  if (row >= image->height || table >= image->table_count) {
    return 0;
  }
  colours = image->bytes + start + KAV_TABLE_BYTES * table;
  /* RLE and RLS rows are expanded into the last quarter of `rgba`: pixel x is written over
     bytes 4x to 4x + 3, below index x + 1 at 3 * width + x + 1. */
  indices = kav_row_indices(image, row, rgba + 3 * KAV_CAST(size_t, image->width));
  for (x = 0; x < image->width; ++x) {
    const uint8_t index = indices[x];
    kav_widen(KAV_CAST(uint16_t, kav_le16(colours + 2 * index)), rgba + 4 * x);
    rgba[4 * x + 3] = index == transparent ? 0 : 255;
  }
  return 1;
}

/* Drawing: where each drawn pixel goes and in which colour. Sprite column c of the row being
   drawn lands at buffer column `origin + c`, or `origin - c` when mirrored; exactly one of
   `row16` and `row32` is set. */
typedef struct kav_painter {
  uint16_t* row16;
  uint32_t* row32;
  const uint16_t* colours16;
  const uint32_t* colours32;
  int64_t origin;
  int mirrored;
} kav_painter;

/* The sprite's rows and columns that fall inside the buffer: [first, end) of each. */
typedef struct kav_clip {
  uint32_t row_first, row_end;
  uint32_t column_first, column_end;
} kav_clip;

static uint32_t kav_clamp(int64_t value, uint32_t limit) {
  return value < 0 ? 0 : value > limit ? limit : KAV_CAST(uint32_t, value);
}

/* 0 when nothing of the sprite falls inside the buffer. Mirrored, sprite column c lands at
   x + width - 1 - c. */
static int kav_clip_to(const kav_image* image, int dst_width, int dst_height, int x, int y,
                       int mirrored, kav_clip* clip) {
  const int64_t left =
      mirrored ? KAV_CAST(int64_t, x) + image->width - dst_width : -KAV_CAST(int64_t, x);
  const int64_t right =
      mirrored ? KAV_CAST(int64_t, x) + image->width : KAV_CAST(int64_t, dst_width) - x;
  clip->column_first = kav_clamp(left, image->width);
  clip->column_end = kav_clamp(right, image->width);
  clip->row_first = kav_clamp(-KAV_CAST(int64_t, y), image->height);
  clip->row_end = kav_clamp(KAV_CAST(int64_t, dst_height) - y, image->height);
  return clip->column_first < clip->column_end && clip->row_first < clip->row_end;
}

/* The buffer column of sprite column `column`, which the clip keeps inside the buffer. */
static size_t kav_column_of(const kav_painter* painter, uint32_t column) {
  return KAV_CAST(size_t, painter->mirrored ? painter->origin - column : painter->origin + column);
}

/* `count` pixels of the indices at `indices`, from sprite column `column` on. */
static void kav_paint_pixels(const kav_painter* painter, uint32_t column, const uint8_t* indices,
                             size_t count) {
  const size_t at = kav_column_of(painter, column);
  size_t i;
  if (painter->row16 != NULL) {
    uint16_t* out = painter->row16 + at;
    const uint16_t* colours = painter->colours16;
    if (painter->mirrored) {
      for (i = 0; i < count; ++i) {
        *(out - i) = colours[indices[i]];
      }
    } else {
      for (i = 0; i < count; ++i) {
        out[i] = colours[indices[i]];
      }
    }
  } else {
    uint32_t* out = painter->row32 + at;
    const uint32_t* colours = painter->colours32;
    if (painter->mirrored) {
      for (i = 0; i < count; ++i) {
        *(out - i) = colours[indices[i]];
      }
    } else {
      for (i = 0; i < count; ++i) {
        out[i] = colours[indices[i]];
      }
    }
  }
}

/* `count` pixels of `index` from sprite column `column` on. */
static void kav_paint_run(const kav_painter* painter, uint32_t column, uint8_t index,
                          size_t count) {
  /* Mirrored, the run's last column lands leftmost. */
  const size_t at =
      kav_column_of(painter, painter->mirrored ? column + KAV_CAST(uint32_t, count) - 1 : column);
  size_t i;
  if (painter->row16 != NULL) {
    const uint16_t colour = painter->colours16[index];
    for (i = 0; i < count; ++i) {
      painter->row16[at + i] = colour;
    }
  } else {
    const uint32_t colour = painter->colours32[index];
    for (i = 0; i < count; ++i) {
      painter->row32[at + i] = colour;
    }
  }
}

/* How many of the first `count` bytes at `bytes` are `value`. */
static size_t kav_count_byte(const uint8_t* bytes, size_t count, uint8_t value) {
  const uint64_t pattern = 0x0101010101010101u * value;
  size_t i = 0;
  for (; i + 8 <= count; i += 8) {
    uint64_t word;
    memcpy(&word, bytes + i, 8);
    if (word != pattern) {
      break;
    }
  }
  while (i < count && bytes[i] == value) {
    ++i;
  }
  return i;
}

/* The clipped columns of an MZR row: stretches of other indices painted, stretches of the
   transparent index skipped. */
static void kav_draw_mzr_row(const kav_image* image, uint32_t row, const kav_clip* clip,
                             const kav_painter* painter) {
  const uint8_t* indices = kav_row_indices(image, row, NULL);
  const int transparent = kav_transparent_index(image);
  uint32_t column = clip->column_first;
  while (column < clip->column_end) {
    const size_t left = clip->column_end - column;
    const void* found = transparent < 0 ? NULL : memchr(indices + column, transparent, left);
    const size_t opaque =
        found == NULL ? left
                      : KAV_CAST(size_t, KAV_CAST(const uint8_t*, found) - (indices + column));
    kav_paint_pixels(painter, column, indices + column, opaque);
    column += KAV_CAST(uint32_t, opaque);
    if (column < clip->column_end) {
      column += KAV_CAST(uint32_t, kav_count_byte(indices + column, clip->column_end - column,
                                                  KAV_CAST(uint8_t, transparent)));
    }
  }
}

/* The clipped columns of an RLE or RLS row, from the code of the segment that holds the
   first of them. Runs of 255 are skipped, other runs filled, and single pixels painted as
   they stand; every read is bounded by the buffer, for one that changed after it was
   opened. */
static void kav_draw_run_length_row(const kav_image* image, uint32_t row, const kav_clip* clip,
                                    const kav_painter* painter) {
  const uint32_t segment = clip->column_first / KAV_SEGMENT_WIDTH;
  const uint32_t first = clip->column_first, end = clip->column_end;
  const int rls = image->kind == KAV_KIND_RLS;
  const uint8_t* b = image->bytes;
  const size_t size = image->size;
  const uint32_t entry = kav_le32(b + kav_entry_offset(image, segment, row));
  size_t at = entry < size - KAV_RL_OFFSET_TABLES ? KAV_RL_OFFSET_TABLES + entry : size;
  uint32_t column = segment * KAV_SEGMENT_WIDTH;
  if (size - at >= 2 && b[at] == KAV_BLANK && b[at + 1] == KAV_BLANK) {
    return; /* the row marker: all 255 */
  }
  while (column < end && at < size) {
    const uint8_t index = b[at];
    if (kav_run_coded(index, rls)) {
      const uint32_t count = size - at >= 2 ? b[at + 1] : 0;
      const uint32_t from = column > first ? column : first;
      const uint32_t to = column + count < end ? column + count : end;
      if (index != KAV_BLANK && from < to) {
        kav_paint_run(painter, from, index, to - from);
      }
      column += count;
      at += 2;
    } else {
      const size_t room = end - column < size - at ? end - column : size - at;
      const uint32_t singles = KAV_CAST(uint32_t, kav_single_pixels(b + at, room, rls));
      const uint32_t skipped = column < first ? first - column : 0;
      if (skipped < singles) {
        kav_paint_pixels(painter, column + skipped, b + at + skipped, singles - skipped);
      }
      column += singles;
      at += singles;
    }
  }
}

/* Everything kav_draw_rgb565 and kav_draw_rgba8888 share, once `painter` holds the colours:
   the clip, then every visible row. */
static int kav_draw(const kav_image* image, kav_painter* painter, void* dst, size_t dst_pitch,
                    int dst_width, int dst_height, int x, int y, unsigned flags) {
  kav_clip clip;
  uint32_t row;
  painter->mirrored = (flags & KAV_DRAW_FLIP_X) != 0;
  if (!kav_clip_to(image, dst_width, dst_height, x, y, painter->mirrored, &clip)) {
    return 1;
  }
  painter->origin = painter->mirrored ? KAV_CAST(int64_t, x) + image->width - 1 : x;
  for (row = clip.row_first; row < clip.row_end; ++row) {
    const size_t line = KAV_CAST(size_t, KAV_CAST(int64_t, y) + row) * dst_pitch;
    if (painter->colours16 != NULL) {
      painter->row16 = KAV_CAST(uint16_t*, dst) + line;
    } else {
      painter->row32 = KAV_CAST(uint32_t*, dst) + line;
    }
    if (image->kind == KAV_KIND_MZR) {
      kav_draw_mzr_row(image, row, &clip, painter);
    } else {
      kav_draw_run_length_row(image, row, &clip, painter);
    }
  }
  return 1;
}

static int kav_can_draw(const kav_image* image, unsigned table, const void* dst) {
  return image != NULL && dst != NULL && image->kind != KAV_KIND_NONE && table < image->table_count;
}

KAV_DEF int kav_draw_rgb565(const kav_image* image, unsigned table, uint16_t* dst, size_t dst_pitch,
                            int dst_width, int dst_height, int x, int y, unsigned flags) {
  uint16_t colours[KAV_TABLE_ENTRIES];
  kav_painter painter;
  unsigned i;
  if (!kav_can_draw(image, table, dst)) {
    return 0;
  }
  kav_read_table(image, table, colours);
  if (flags & KAV_DRAW_SWAP_BYTES) {
    for (i = 0; i < KAV_TABLE_ENTRIES; ++i) {
      colours[i] = KAV_CAST(uint16_t, colours[i] >> 8 | colours[i] << 8);
    }
  }
  memset(&painter, 0, sizeof painter);
  painter.colours16 = colours;
  return kav_draw(image, &painter, dst, dst_pitch, dst_width, dst_height, x, y, flags);
}

KAV_DEF int kav_draw_rgba8888(const kav_image* image, unsigned table, uint32_t* dst,
                              size_t dst_pitch, int dst_width, int dst_height, int x, int y,
                              unsigned flags) {
  uint16_t plain[KAV_TABLE_ENTRIES];
  uint32_t colours[KAV_TABLE_ENTRIES];
  kav_painter painter;
  unsigned i;
  if (!kav_can_draw(image, table, dst)) {
    return 0;
  }
  kav_read_table(image, table, plain);
  for (i = 0; i < KAV_TABLE_ENTRIES; ++i) {
    uint8_t rgba[4];
    kav_widen(plain[i], rgba);
    memcpy(&colours[i], rgba, 4);
  }
  memset(&painter, 0, sizeof painter);
  painter.colours32 = colours;
  return kav_draw(image, &painter, dst, dst_pitch, dst_width, dst_height, x, y, flags);
}

#ifdef __cplusplus
}
#endif
#undef KAV_CAST

#endif /* KAV_FORMATS_IMPLEMENTED */
#endif /* KAV_FORMATS_IMPLEMENTATION */

/* MIT License

   Copyright (c) 2026 The KAV Graphic Converter developers

   Permission is hereby granted, free of charge, to any person obtaining a copy of this
   software and associated documentation files (the "Software"), to deal in the Software
   without restriction, including without limitation the rights to use, copy, modify, merge,
   publish, distribute, sublicense, and/or sell copies of the Software, and to permit persons
   to whom the Software is furnished to do so, subject to the following conditions:

   The above copyright notice and this permission notice shall be included in all copies or
   substantial portions of the Software.

   THE SOFTWARE IS PROVIDED "AS IS", WITHOUT WARRANTY OF ANY KIND, EXPRESS OR IMPLIED,
   INCLUDING BUT NOT LIMITED TO THE WARRANTIES OF MERCHANTABILITY, FITNESS FOR A PARTICULAR
   PURPOSE AND NONINFRINGEMENT. IN NO EVENT SHALL THE AUTHORS OR COPYRIGHT HOLDERS BE LIABLE
   FOR ANY CLAIM, DAMAGES OR OTHER LIABILITY, WHETHER IN AN ACTION OF CONTRACT, TORT OR
   OTHERWISE, ARISING FROM, OUT OF OR IN CONNECTION WITH THE SOFTWARE OR THE USE OR OTHER
   DEALINGS IN THE SOFTWARE. */
