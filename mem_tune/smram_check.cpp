#include "mem_tune/smram_check.h"

#include "mem_tune/driver_globals.h"

namespace mts {

bool InsideSmram(UINT64 address) {
  if (gSmramRanges == nullptr) return false;
  for (UINTN i = 0; i < gSmramRangeCount; ++i) {
    const EFI_SMRAM_DESCRIPTOR& r = gSmramRanges[i];
    if (address >= r.CpuStart && address - r.CpuStart < r.PhysicalSize) return true;
  }
  return false;
}

bool OverlapsSmram(UINT64 address, UINT64 length) {
  if (gSmramRanges == nullptr || gSmramRangeCount == 0) return true;
  if (length == 0) return InsideSmram(address);
  const UINT64 last = address + (length - 1);
  if (last < address) return true;  // wraps around
  for (UINTN i = 0; i < gSmramRangeCount; ++i) {
    const EFI_SMRAM_DESCRIPTOR& r = gSmramRanges[i];
    if (r.PhysicalSize == 0) continue;
    const UINT64 rangeLast = r.CpuStart + (r.PhysicalSize - 1);
    const UINT64 clippedLast = rangeLast < r.CpuStart ? ~0ULL : rangeLast;
    if (address <= clippedLast && last >= r.CpuStart) return true;
  }
  return false;
}

}  // namespace mts
