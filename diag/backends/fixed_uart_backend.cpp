// Output to the legacy COM1 UART at 0x3F8 whatever DiagUartBase says: one wait
// for an empty transmitter, then up to a FIFO's worth of characters back to back.
#include "diag/access_width.h"
#include "diag/backends/backends.h"

namespace diag {

namespace {

// Reads LSR until all bits of `bits` are set; FALSE after kFixedUartWaitReads
// reads without them.
bool WaitForLsr(uint8_t bits) {
  for (unsigned i = 0; i < kFixedUartWaitReads; ++i) {
    uint8_t lsr = 0;
    IoReadWidth(kAccessWidth8, kFixedUartLsr, &lsr, 0);
    if ((lsr & bits) == bits) return true;
  }
  return false;
}

BOOLEAN FixedUartIsAvailable() {
  return TRUE;
}

uint64_t FixedUartWrite(const char* text, uint64_t length) {
  if (text == nullptr) return 0;
  if (length == 0) {
    // Only wait for the transmitter to drain.
    WaitForLsr(kLsrThrEmpty | kLsrTransmitterEmpty);
    return 0;
  }
  uint64_t sent = 0;
  while (sent < length) {
    if (!WaitForLsr(kLsrTransmitterEmpty)) return 0;
    const uint64_t left = length - sent;
    const uint64_t burst = left < kFixedUartFifoDepth ? left : kFixedUartFifoDepth;
    for (uint64_t i = 0; i < burst; ++i)
      IoWriteWidth(kAccessWidth8, kFixedUartThr, &text[sent + i], 0);
    sent += burst;
  }
  return length;
}

}  // namespace

const DiagBackend FixedUartBackend = {FixedUartIsAvailable, BackendInitializeNothing,
                                      BackendKeepLevelMask, FixedUartWrite};

}  // namespace diag
