// Little-endian fields of firmware structures, read and written at byte
// offsets of a buffer. Firmware data is little-endian whatever the host is.
// The caller has checked that the field lies inside (ByteView reads only what
// lies inside).
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace tools {

inline uint64_t LoadLe(std::span<const uint8_t> buf, std::size_t offset, unsigned width) {
  uint64_t v = 0;
  for (unsigned i = 0; i < width; ++i) v |= static_cast<uint64_t>(buf[offset + i]) << (8 * i);
  return v;
}
inline uint16_t Le16(std::span<const uint8_t> buf, std::size_t offset) {
  return static_cast<uint16_t>(LoadLe(buf, offset, 2));
}
inline uint32_t Le24(std::span<const uint8_t> buf, std::size_t offset) {
  return static_cast<uint32_t>(LoadLe(buf, offset, 3));
}
inline uint32_t Le32(std::span<const uint8_t> buf, std::size_t offset) {
  return static_cast<uint32_t>(LoadLe(buf, offset, 4));
}
inline uint64_t Le64(std::span<const uint8_t> buf, std::size_t offset) {
  return LoadLe(buf, offset, 8);
}

inline void StoreLe(std::span<uint8_t> buf, std::size_t offset, uint64_t v, unsigned width) {
  for (unsigned i = 0; i < width; ++i) buf[offset + i] = static_cast<uint8_t>(v >> (8 * i));
}

// Appends `v` as `width` little-endian bytes.
inline void AppendLe(std::vector<uint8_t>& out, uint64_t v, unsigned width) {
  for (unsigned i = 0; i < width; ++i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

}  // namespace tools
