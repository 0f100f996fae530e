#include "diag/access_width.h"

#include "diag/fatal_stop.h"
#include "hw/hw.h"

namespace diag {

namespace {

// Bytes moved for a width code, or 0 for a code outside 1, 2, 3 (bit 7 ignored).
unsigned BytesOf(uint8_t width) {
  switch (width & 0x7F) {
    case kAccessWidth8:
      return 1;
    case kAccessWidth16:
      return 2;
    case kAccessWidth32:
      return 4;
    default:
      return 0;
  }
}

// The caller's value may be any byte buffer of at least `bytes` bytes, with
// no alignment promised: move it one byte at a time, little-endian.
uint32_t LoadBytes(const void* value, unsigned bytes) {
  const auto* p = static_cast<const uint8_t*>(value);
  uint32_t v = 0;
  for (unsigned i = 0; i < bytes; ++i) v |= static_cast<uint32_t>(p[i]) << (8 * i);
  return v;
}

void StoreBytes(void* value, unsigned bytes, uint32_t v) {
  auto* p = static_cast<uint8_t*>(value);
  for (unsigned i = 0; i < bytes; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

}  // namespace

void IoReadWidth(uint8_t width, uint16_t port, void* value, uint64_t) {
  uint32_t v = 0;
  switch (const unsigned bytes = BytesOf(width)) {
    case 1:
      v = hw::IoRead8(port);
      StoreBytes(value, bytes, v);
      break;
    case 2:
      v = hw::IoRead16(port);
      StoreBytes(value, bytes, v);
      break;
    case 4:
      v = hw::IoRead32(port);
      StoreBytes(value, bytes, v);
      break;
    default:
      FatalStop(kIoReadWidthStop);
      break;
  }
}

uint32_t IoWriteWidth(uint8_t width, uint16_t port, const void* value, uint64_t) {
  const unsigned bytes = BytesOf(width);
  if (bytes == 0) {
    FatalStop(kIoWriteWidthStop);
    return 0;
  }
  const uint32_t v = LoadBytes(value, bytes);
  switch (bytes) {
    case 1:
      hw::IoWrite8(port, static_cast<uint8_t>(v));
      break;
    case 2:
      hw::IoWrite16(port, static_cast<uint16_t>(v));
      break;
    default:
      hw::IoWrite32(port, v);
      break;
  }
  return v;
}

void MemReadWidth(uint8_t width, uint64_t address, void* value, uint64_t) {
  uint32_t v = 0;
  switch (const unsigned bytes = BytesOf(width)) {
    case 1:
      v = hw::MmioRead8(address);
      StoreBytes(value, bytes, v);
      break;
    case 2:
      v = hw::MmioRead16(address);
      StoreBytes(value, bytes, v);
      break;
    case 4:
      v = hw::MmioRead32(address);
      StoreBytes(value, bytes, v);
      break;
    default:
      FatalStop(kMemReadWidthStop);
      break;
  }
}

uint32_t MemWriteWidth(uint8_t width, uint64_t address, const void* value, uint64_t) {
  const unsigned bytes = BytesOf(width);
  if (bytes == 0) {
    FatalStop(kMemWriteWidthStop);
    return 0;
  }
  const uint32_t v = LoadBytes(value, bytes);
  switch (bytes) {
    case 1:
      hw::MmioWrite8(address, static_cast<uint8_t>(v));
      break;
    case 2:
      hw::MmioWrite16(address, static_cast<uint16_t>(v));
      break;
    default:
      hw::MmioWrite32(address, v);
      break;
  }
  return v;
}

}  // namespace diag
