// Width-coded port and memory access for the diagnostic back-ends. A width
// code is 1 (8 bits), 2 (16 bits) or 3 (32 bits); bit 7 makes no difference.
// Any other code is a programming error and ends in FatalStop with the
// routine's own code; when a simulated platform claims that stop, the routine
// returns without touching the port or the memory.
#pragma once

#include <cstdint>

namespace diag {

inline constexpr uint8_t kAccessWidth8 = 1;
inline constexpr uint8_t kAccessWidth16 = 2;
inline constexpr uint8_t kAccessWidth32 = 3;

inline constexpr uint32_t kIoReadWidthStop = 0x00010133;
inline constexpr uint32_t kIoWriteWidthStop = 0x00010170;
inline constexpr uint32_t kMemReadWidthStop = 0x00010314;
inline constexpr uint32_t kMemWriteWidthStop = 0x00010355;

// IN of the width from `port`; stores that many bytes (little-endian) at `value`.
void IoReadWidth(uint8_t width, uint16_t port, void* value, uint64_t unused);
// OUT of the low `width` bytes found at `value`; returns the value written
// (0 when the width was refused).
uint32_t IoWriteWidth(uint8_t width, uint16_t port, const void* value, uint64_t unused);
// Load of the width from `address`; stores that many bytes at `value`.
void MemReadWidth(uint8_t width, uint64_t address, void* value, uint64_t unused);
// Store of the low `width` bytes found at `value`; returns the value written.
uint32_t MemWriteWidth(uint8_t width, uint64_t address, const void* value, uint64_t unused);

}  // namespace diag
