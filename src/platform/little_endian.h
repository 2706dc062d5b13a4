#pragma once
// Little-endian numbers in byte layouts: every file format this program reads or writes stores
// its multi-byte fields least significant byte first. Each access is bounded by the span it is
// given.

#include <cstddef>
#include <cstdint>
#include <span>

namespace kav {

inline std::uint16_t LoadLe16(std::span<const std::uint8_t> at) {
  return static_cast<std::uint16_t>(at[0] | at[1] << 8);
}

inline std::uint32_t LoadLe32(std::span<const std::uint8_t> at) {
  return std::uint32_t{at[0]} | std::uint32_t{at[1]} << 8 | std::uint32_t{at[2]} << 16 |
         std::uint32_t{at[3]} << 24;
}

inline void StoreLe16(std::span<std::uint8_t> at, std::uint16_t value) {
  at[0] = static_cast<std::uint8_t>(value);
  at[1] = static_cast<std::uint8_t>(value >> 8);
}

inline void StoreLe32(std::span<std::uint8_t> at, std::uint32_t value) {
  for (std::size_t i = 0; i < 4; ++i) {
    at[i] = static_cast<std::uint8_t>(value >> (8 * i));
  }
}

}  // namespace kav
