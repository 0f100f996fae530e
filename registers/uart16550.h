// The 16550 UART's registers as the diagnostic back-ends drive them and the
// simulator models them: byte-wide registers at consecutive I/O ports, or a
// 4-byte register stride when memory-mapped.
#pragma once

#include <cstdint>

namespace uart16550 {

// The legacy COM1 UART.
inline constexpr uint16_t kCom1Base = 0x3F8;

// Register indices (DLAB = LCR bit 7 turns 0 and 1 into the divisor latch).
enum Reg : unsigned {
  kThr = 0,
  kIer = 1,
  kIir = 2,
  kLcr = 3,
  kMcr = 4,
  kLsr = 5,
  kMsr = 6,
  kScr = 7
};

// Bytes between registers in memory space.
inline constexpr unsigned kMmioStride = 4;

// Line status register.
inline constexpr uint8_t kLsrThrEmpty = 0x20;          // transmit holding register empty
inline constexpr uint8_t kLsrTransmitterEmpty = 0x40;  // transmitter empty

}  // namespace uart16550
