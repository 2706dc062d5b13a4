/* An engine's view of converted assets: each ASSET SOURCE.bmp pair is decoded by row, by
   segment and as colours, and must give the source's indices and its palette in RGB565. */
#include <stdio.h>
#include <string.h>

#define KAV_FORMATS_IMPLEMENTATION
#include "kav/kav_formats.h"
#ifdef KAV_ASSET_DIR
/* kav_add_assets() with EMIT both: the same bytes, compiled in, each picture's own. */
#include "fonts/pic.RLE.h"
#include "sprite.RLE.h"
#include "ui/pic.MZR.h"
#include "ui/pic.RLE.h"
#endif

static unsigned char asset[1 << 20];
static unsigned char bmp[1 << 20];

static size_t load(const char* path, unsigned char* bytes, size_t room) {
  FILE* file = fopen(path, "rb");
  size_t size = 0;
  if (file != NULL) {
    size = fread(bytes, 1, room, file);
    fclose(file);
  }
  return size;
}

static uint32_t le32(const unsigned char* at) {
  return (uint32_t)at[0] | (uint32_t)at[1] << 8 | (uint32_t)at[2] << 16 | (uint32_t)at[3] << 24;
}

/* The source: an 8-bit BMP with a 40-byte header and 256 colours, bottom row first. */
static int matches(const kav_image* image) {
  const uint32_t width = le32(bmp + 18), height = le32(bmp + 22);
  const uint32_t stride = (width + 3) & ~3u;
  static uint8_t scratch[65535], alpha[65535], segment[KAV_SEGMENT_WIDTH];
  static uint16_t rgb[65535];
  uint32_t x, y;
  if (image->width != width || image->height != height) {
    return 0;
  }
  for (y = 0; y < height; ++y) {
    const unsigned char* source = bmp + le32(bmp + 10) + (height - 1 - y) * stride;
    if (memcmp(kav_row_indices(image, y, scratch), source, width) != 0 ||
        !kav_row_rgb565(image, y, kav_plain_table(image), rgb, alpha)) {
      return 0;
    }
    for (x = 0; x < width; x += KAV_SEGMENT_WIDTH) {
      const size_t count = kav_segment_indices(image, y, x / KAV_SEGMENT_WIDTH, segment);
      if (memcmp(segment, source + x, count) != 0) {
        return 0;
      }
    }
    for (x = 0; x < width; ++x) {
      const unsigned char* entry = bmp + 54 + 4 * source[x]; /* blue, green, red */
      const unsigned colour = (unsigned)(entry[2] >> 3) << 11 | (unsigned)(entry[1] >> 2) << 5 |
                              (unsigned)(entry[0] >> 3);
      if (rgb[x] != colour || (alpha[x] == 0) != (source[x] == kav_transparent_index(image))) {
        return 0;
      }
    }
  }
  return 1;
}

#ifdef KAV_ASSET_DIR
static int holds(const char* path, const unsigned char* array, size_t size) {
  if (load(path, asset, sizeof asset) != size || memcmp(asset, array, size) != 0) {
    fprintf(stderr, "the header of %s does not hold its bytes\n", path);
    return 0;
  }
  return 1;
}
#endif

int main(int argc, char** argv) {
  int i;
#ifdef KAV_ASSET_DIR
  if (!holds(KAV_ASSET_DIR "/sprite.RLE", sprite_RLE, SPRITE_RLE_SIZE) ||
      !holds(KAV_ASSET_DIR "/ui/pic.RLE", ui_pic_RLE, UI_PIC_RLE_SIZE) ||
      !holds(KAV_ASSET_DIR "/fonts/pic.RLE", fonts_pic_RLE, FONTS_PIC_RLE_SIZE) ||
      !holds(KAV_MORE_DIR "/ui/pic.MZR", more_ui_pic_MZR, MORE_UI_PIC_MZR_SIZE)) {
    return 1;
  }
#endif
  for (i = 1; i + 1 < argc; i += 2) {
    kav_image image;
    kav_error error;
    const size_t size = load(argv[i], asset, sizeof asset);
    if (kav_open(&image, asset, size, &error) != KAV_OK) {
      fprintf(stderr, "%s: %s at offset %lu\n", argv[i], kav_error_text(error.reason),
              (unsigned long)error.offset);
      return 1;
    }
    if (load(argv[i + 1], bmp, sizeof bmp) < 1078 || !matches(&image)) {
      fprintf(stderr, "%s: not the pixels of %s\n", argv[i], argv[i + 1]);
      return 1;
    }
    printf("%s: %s, %u x %u, as %s\n", argv[i], kav_kind_name(image.kind), image.width,
           image.height, argv[i + 1]);
  }
  return argc > 1 && argc % 2 == 1 ? 0 : 2;
}
