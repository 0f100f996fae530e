// Little-endian fields of firmware structures, read and written at byte
// offsets of a buffer. Flash images are little-endian whatever the host is.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace fvtool {

using Bytes = std::vector<uint8_t>;
using ByteView = std::span<const uint8_t>;

inline uint64_t LoadLe(ByteView buf, std::size_t offset, unsigned width) {
  uint64_t v = 0;
  for (unsigned i = 0; i < width; ++i) v |= static_cast<uint64_t>(buf[offset + i]) << (8 * i);
  return v;
}
inline uint16_t Le16(ByteView buf, std::size_t offset) {
  return static_cast<uint16_t>(LoadLe(buf, offset, 2));
}
inline uint32_t Le24(ByteView buf, std::size_t offset) {
  return static_cast<uint32_t>(LoadLe(buf, offset, 3));
}
inline uint32_t Le32(ByteView buf, std::size_t offset) {
  return static_cast<uint32_t>(LoadLe(buf, offset, 4));
}
inline uint64_t Le64(ByteView buf, std::size_t offset) {
  return LoadLe(buf, offset, 8);
}

inline void StoreLe(std::span<uint8_t> buf, std::size_t offset, uint64_t v, unsigned width) {
  for (unsigned i = 0; i < width; ++i) buf[offset + i] = static_cast<uint8_t>(v >> (8 * i));
}

// Appends `v` as `width` little-endian bytes.
inline void AppendLe(Bytes& out, uint64_t v, unsigned width) {
  for (unsigned i = 0; i < width; ++i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

inline uint8_t Sum8(ByteView bytes) {
  uint8_t sum = 0;
  for (uint8_t b : bytes) sum = static_cast<uint8_t>(sum + b);
  return sum;
}

constexpr std::size_t AlignUp(std::size_t v, std::size_t to) {
  return (v + to - 1) / to * to;
}

}  // namespace fvtool
