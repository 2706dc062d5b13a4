// Any bytes through the BMP reader and, when it accepts them, through every encoder.

#include <cstdint>
#include <span>

#include "read_and_encode.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  kav::fuzz::ReadAndEncode(std::span(data, size));
  return 0;
}
