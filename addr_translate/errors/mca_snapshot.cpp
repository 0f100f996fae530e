// CaptureMcaBanks: checks the wanted processor against the platform's
// processor list, copies its descriptive bytes and has the processor itself
// read its machine-check banks (MSRs are per processor, so the reader must run
// there).
#include "addr_translate/errors/mca_snapshot.h"

#include "addr_translate/driver_globals.h"
#include "hw/hw.h"

namespace atd {

VOID EFIAPI ReadMcaBankRegisters(VOID* Argument) {
  auto* snapshot = static_cast<McaBankSnapshot*>(Argument);
  const uint64_t bankCount = hw::ReadMsr(kMcgCapMsr) & 0xFF;
  snapshot->bankCount = bankCount;
  for (uint64_t b = 0; b < bankCount; ++b) {
    const uint32_t base = kMcaBankMsrBase + kMcaBankMsrStride * static_cast<uint32_t>(b);
    McaBankEntry& e = snapshot->banks[b];
    const uint64_t msr5 = hw::ReadMsr(base + 5);
    if ((msr5 & kMcaBankPresentMask) == 0) {
      // No hardware behind this bank: mark it with an empty status only.
      e.bankIndex = b;
      e.msr1 = 0;
      continue;
    }
    const uint64_t status = hw::ReadMsr(base + 1);
    if ((status & kMcaStatusValid) == 0) continue;  // nothing logged: entry left alone
    e.bankIndex = b;
    e.msr1 = status;
    e.msr2 = hw::ReadMsr(base + 2);
    e.msr4 = hw::ReadMsr(base + 4);
    e.msr5 = msr5;
    e.msr6 = hw::ReadMsr(base + 6);
    e.msr3 = hw::ReadMsr(base + 3);
    e.msrA = hw::ReadMsr(base + 0xA);
    e.msr8 = hw::ReadMsr(base + 8);
    e.msr9 = hw::ReadMsr(base + 9);
  }
}

EFI_STATUS EFIAPI CaptureMcaBanks(McaBankSnapshot* Snapshot) {
  if (Snapshot == nullptr) return EFI_INVALID_PARAMETER;
  const uint64_t n = Snapshot->processorNumber;
  const uint64_t count = gPlatformTopology->processorCount;
  if (n > count) return EFI_INVALID_PARAMETER;
  if (count == 0) return EFI_NOT_FOUND;

  const ProcessorListEntry* entry = nullptr;
  for (uint64_t i = 0; i < count; ++i) {
    if (gPlatformTopology->processors[i].processorNumber == n) {
      entry = &gPlatformTopology->processors[i];
      break;
    }
  }
  if (entry == nullptr) return EFI_NOT_FOUND;

  for (unsigned i = 0; i < sizeof Snapshot->processorInfo; ++i) {
    Snapshot->processorInfo[i] = entry->info[i];
  }

  if (n == 0) {
    // Processor 0 is the one running the caller.
    ReadMcaBankRegisters(Snapshot);
    return EFI_SUCCESS;
  }
  // Blocking, without time limit: the record is filled when this returns. A
  // processor that did not run the reader leaves the bank count and entries
  // as the caller had them, so its failure is the capture's.
  return gMpServices->StartupThisAP(gMpServices, ReadMcaBankRegisters, n, nullptr, 0, Snapshot,
                                    nullptr);
}

}  // namespace atd
