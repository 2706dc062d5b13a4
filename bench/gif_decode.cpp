// giflib alone reading a GIF and decoding every frame's lines into one line, nothing composed
// and nothing kept: the floor bench/run holds converting an animation to RLE against.
//   kav_gif_decode FILE

#include <gif_lib.h>

#include <cstdio>
#include <memory>
#include <vector>

namespace {

bool SkipExtension(GifFileType* gif, GifByteType* block) {
  while (block != nullptr) {
    if (DGifGetExtensionNext(gif, &block) == GIF_ERROR) {
      return false;
    }
  }
  return true;
}

bool DecodeFrame(GifFileType* gif, std::vector<GifByteType>& line) {
  if (DGifGetImageDesc(gif) == GIF_ERROR || gif->Image.Width < 0) {
    return false;
  }
  line.resize(static_cast<std::size_t>(gif->Image.Width));
  for (int y = 0; y < gif->Image.Height; ++y) {
    if (DGifGetLine(gif, line.data(), gif->Image.Width) == GIF_ERROR) {
      return false;
    }
  }
  return true;
}

bool DecodeAll(GifFileType* gif) {
  std::vector<GifByteType> line;
  for (GifRecordType record = UNDEFINED_RECORD_TYPE; record != TERMINATE_RECORD_TYPE;) {
    if (DGifGetRecordType(gif, &record) == GIF_ERROR) {
      return false;
    }
    if (record == EXTENSION_RECORD_TYPE) {
      int code = 0;
      GifByteType* block = nullptr;
      if (DGifGetExtension(gif, &code, &block) == GIF_ERROR || !SkipExtension(gif, block)) {
        return false;
      }
    } else if (record == IMAGE_DESC_RECORD_TYPE && !DecodeFrame(gif, line)) {
      return false;
    }
  }
  return true;
}

struct GifCloser {
  void operator()(GifFileType* gif) const {
    int error = 0;
    DGifCloseFile(gif, &error);
  }
};

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s FILE\n", argv[0]);
    return 2;
  }
  int error = 0;
  const std::unique_ptr<GifFileType, GifCloser> gif(DGifOpenFileName(argv[1], &error));
  return gif && DecodeAll(gif.get()) ? 0 : 1;
}
