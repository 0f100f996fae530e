#include "mem_tune/smram_check.h"

#include "mem_tune/address_range.h"
#include "mem_tune/driver_globals.h"

namespace mts {

bool OverlapsSmram(UINT64 address, UINT64 length) {
  if (gSmramRanges == nullptr || gSmramRangeCount == 0) return true;
  UINT64 last = 0;
  if (!LastByteOfRange(address, length, &last)) return true;  // wraps around
  for (UINTN i = 0; i < gSmramRangeCount; ++i) {
    const EFI_SMRAM_DESCRIPTOR& r = gSmramRanges[i];
    if (r.PhysicalSize == 0) continue;
    UINT64 rangeLast = 0;
    if (!LastByteOfRange(r.CpuStart, r.PhysicalSize, &rangeLast)) rangeLast = ~0ULL;  // clipped
    if (address <= rangeLast && last >= r.CpuStart) return true;
  }
  return false;
}

}  // namespace mts
