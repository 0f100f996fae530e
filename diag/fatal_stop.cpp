#include "diag/fatal_stop.h"

#include "hw/hw.h"

namespace diag {

namespace {

constexpr uint32_t kPstateStatusMsr = 0xC0010063;  // bits 2:0: current P-state n
constexpr uint32_t kPstateDefMsr0 = 0xC0010064;    // + n: definition of P-state n

// One step of the scroll: 2.5 s in time-stamp-counter ticks at the frequency
// of the current P-state, read afresh each time so it follows P-state changes.
void StepDelay() {
  const uint64_t n = hw::ReadMsr(kPstateStatusMsr) & 7;
  const uint64_t def = hw::ReadMsr(kPstateDefMsr0 + static_cast<uint32_t>(n));
  const uint64_t fid = def & 0xFF;
  uint64_t did = (def >> 8) & 0x3F;
  if (did == 0) did = 1;
  const uint64_t start = hw::ReadTsc();
  const uint64_t ticks = ((fid * 200000000ULL) / did) * 2500000ULL / 1000000ULL;
  while (hw::ReadTsc() <= start + ticks) hw::CpuPause();
}

}  // namespace

bool FatalStop(uint32_t code) {
  hw::IoWrite16(0xE0, 0xDEAD);
  hw::IoWrite32(0x80, code);
  if (hw::SimulatorStopRequest() != 0) return false;

  // DE AD c3 c2 c1 c0 00 00: rotating left a byte at a time shows 0xDEAD and
  // the code in the low bytes of the port, then a gap of zero bytes.
  uint64_t p = (0xDEADULL << 48) | (static_cast<uint64_t>(code) << 16);
  for (;;) {
    for (int i = 0; i < 6; ++i) {
      p = (p << 8) | (p >> 56);
      hw::IoWrite32(0x80, static_cast<uint32_t>(p));
      StepDelay();
    }
    p = (p << 16) | (p >> 48);
  }
}

}  // namespace diag
