#include "cli/standard_output.h"

#include <unistd.h>

#include <cerrno>

namespace kav {

DescriptorOutput::DescriptorOutput(int fd) : fd_(fd) {
  setp(buffer_.data(), buffer_.data() + buffer_.size());
}

DescriptorOutput::~DescriptorOutput() {
  Drain();
}

DescriptorOutput::int_type DescriptorOutput::overflow(int_type c) {
  if (!Drain()) {
    return traits_type::eof();
  }
  if (!traits_type::eq_int_type(c, traits_type::eof())) {
    *pptr() = traits_type::to_char_type(c);
    pbump(1);
  }
  return traits_type::not_eof(c);
}

int DescriptorOutput::sync() {
  return Drain() ? 0 : -1;
}

bool DescriptorOutput::Drain() {
  const char* next = pbase();
  while (error_ == 0 && next < pptr()) {
    const ssize_t put = write(fd_, next, static_cast<std::size_t>(pptr() - next));
    if (put < 0 && errno == EINTR) {
      continue;
    }
    if (put <= 0) {
      error_ = put < 0 ? errno : EIO;
      break;
    }
    next += put;
  }
  setp(buffer_.data(), buffer_.data() + buffer_.size());
  return error_ == 0;
}

}  // namespace kav
