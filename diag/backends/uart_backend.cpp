// Character-at-a-time output to the UART at DiagUartBase, as the firmware
// left it programmed. Each character waits a bounded number of LSR reads for
// room in the transmit holding register, so a missing UART costs bounded time.
#include "diag/access_width.h"
#include "diag/backends/backends.h"
#include "diag/diag_print.h"

namespace diag {

namespace {

constexpr uint64_t kUartLsrIo = uart16550::kLsr;  // byte-wide registers in I/O space
constexpr uint64_t kUartLsrMmio = uart16550::kLsr * uart16550::kMmioStride;

uint8_t ReadLsr(uint64_t base) {
  uint8_t lsr = 0;
  if (base <= 0xFFFF) {
    IoReadWidth(kAccessWidth8, static_cast<uint16_t>(base + kUartLsrIo), &lsr, 0);
  } else {
    MemReadWidth(kAccessWidth8, base + kUartLsrMmio, &lsr, 0);
  }
  return lsr;
}

BOOLEAN UartIsAvailable() {
  return DiagPrintEnabled;
}

uint64_t UartWrite(const char* text, uint64_t length) {
  return UartWriteAt(DiagUartBase, text, length);
}

}  // namespace

BOOLEAN UartPutCharAt(uint64_t base, char c) {
  unsigned counter = kUartPutCharReads;
  uint8_t lsr;
  do {
    lsr = ReadLsr(base);
    --counter;
  } while ((lsr & kLsrThrEmpty) == 0 && counter > 0);
  // The last of the reads is spent even when it shows room: the character is
  // given up once the budget is used.
  if (counter == 0) return FALSE;
  if (base <= 0xFFFF) {
    IoWriteWidth(kAccessWidth8, static_cast<uint16_t>(base), &c, 0);
  } else {
    MemWriteWidth(kAccessWidth8, base, &c, 0);
  }
  return TRUE;
}

uint64_t UartWriteAt(uint64_t base, const char* text, uint64_t length) {
  for (uint64_t i = 0; i < length; ++i) {
    // A terminal needs the carriage return before each line feed.
    if (text[i] == '\n') UartPutCharAt(base, '\r');
    UartPutCharAt(base, text[i]);
  }
  return length;
}

const DiagBackend UartBackend = {UartIsAvailable, BackendInitializeNothing, BackendKeepLevelMask,
                                 UartWrite};

}  // namespace diag
