// The PCI Express window of the EDK II build: MdePkg's PciExpressLib, whose
// window is PcdPciExpressBaseAddress and PcdPciExpressBaseSize (the DSC sets
// them to the platform's ECAM, 0xE0000000 and 256 MiB): reads at or beyond
// the size give 0xFFFFFFFF and writes there are dropped, as in the host
// build's mem_tune/pci_express.cpp. Each access is a compiler barrier, as
// hw::'s are.
#include "mem_tune/controller_readout.h"

extern "C" {
#include <Library/PciExpressLib.h>
}

namespace mts {

uint32_t PciExpressRead32(UINT64 offset) {
  __asm__ __volatile__("" : : : "memory");
  const uint32_t v = ::PciExpressRead32(static_cast<UINTN>(offset));
  __asm__ __volatile__("" : : : "memory");
  return v;
}

void PciExpressWrite32(UINT64 offset, uint32_t value) {
  __asm__ __volatile__("" : : : "memory");
  ::PciExpressWrite32(static_cast<UINTN>(offset), value);
  __asm__ __volatile__("" : : : "memory");
}

}  // namespace mts
