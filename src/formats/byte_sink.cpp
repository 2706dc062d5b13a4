#include "formats/byte_sink.h"

#include <algorithm>

namespace kav {

void FileSink::Write(std::span<const std::uint8_t> bytes) {
  if (failed_) {
    return;
  }
  if (used_ + bytes.size() <= buffer_.size()) {
    std::copy(bytes.begin(), bytes.end(), buffer_.begin() + static_cast<std::ptrdiff_t>(used_));
    used_ += bytes.size();
    return;
  }
  if (!Flush()) {
    return;
  }
  if (bytes.size() >= buffer_.size()) {
    failed_ = !file_.Write(bytes);
    return;
  }
  std::copy(bytes.begin(), bytes.end(), buffer_.begin());
  used_ = bytes.size();
}

bool FileSink::Flush() {
  if (!failed_ && used_ > 0) {
    failed_ = !file_.Write(std::span(buffer_).first(used_));
  }
  used_ = 0;
  return !failed_;
}

}  // namespace kav
