// The PCI Express window of the host build: the window the library
// constructor set up (mem_tune/library_constructor.cpp), over hw::'s MMIO.
// The EDK II build links mem_tune/edk2/pci_express_edk2.cpp instead, over
// MdePkg's PciExpressLib, which bounds its window the same way.
#include "hw/hw.h"
#include "mem_tune/controller_readout.h"
#include "mem_tune/driver_globals.h"

namespace mts {

uint32_t PciExpressRead32(UINT64 offset) {
  if (!gEcamReady || offset >= gEcamSize) return 0xFFFFFFFF;
  return hw::MmioRead32(gEcamBase + offset);
}

void PciExpressWrite32(UINT64 offset, uint32_t value) {
  if (!gEcamReady || offset >= gEcamSize) return;
  hw::MmioWrite32(gEcamBase + offset, value);
}

}  // namespace mts
