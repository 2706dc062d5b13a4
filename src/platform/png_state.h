#pragma once
// libpng's state for reading or writing one file, owned: its two structs are destroyed with
// the owner however the work ends. libpng reports errors by longjmp back to a setjmp, so the
// owner lives in a caller of the function that calls setjmp, never between the two.

#include <png.h>

namespace kav {

enum class PngDirection { kRead, kWrite };

template <PngDirection direction>
class PngState {
 public:
  // Takes `png` as png_create_read_struct or png_create_write_struct (or their _2 forms) made
  // it, null when that failed, and gives it an info struct.
  explicit PngState(png_structp png)
      : png_(png), info_(png != nullptr ? png_create_info_struct(png) : nullptr) {}
  ~PngState() {
    if constexpr (direction == PngDirection::kRead) {
      png_destroy_read_struct(&png_, &info_, nullptr);
    } else {
      png_destroy_write_struct(&png_, &info_);
    }
  }
  PngState(const PngState&) = delete;
  PngState& operator=(const PngState&) = delete;

  // Whether both structs could be made.
  bool Ready() const { return png_ != nullptr && info_ != nullptr; }
  png_structp png() { return png_; }
  png_infop info() { return info_; }

 private:
  png_structp png_;
  png_infop info_;
};

using PngReadState = PngState<PngDirection::kRead>;
using PngWriteState = PngState<PngDirection::kWrite>;

}  // namespace kav
