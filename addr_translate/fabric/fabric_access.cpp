#include "addr_translate/fabric/fabric_access.h"

#include "hw/hw.h"

namespace atd {

uint32_t readFabricRegister(uint32_t node, uint8_t function, uint16_t offset, uint32_t instance) {
  const uint32_t access = fabricAccessValue(static_cast<uint8_t>(instance), function, offset);
  hw::MmioWrite32(fabricWindowAddress(node, fabric_reg::kAccessAddressReg), access);
  return hw::MmioRead32(fabricWindowAddress(node, fabric_reg::kAccessDataReg));
}

FabricIdMasks readFabricIdMasks() {
  using namespace fabric_reg;
  const uint32_t reg208 = readFabricRegister(0, SystemFabricIdMask0::kReg, kBroadcastInstance);
  if (decodeFabricIdLayout(reg208) == FabricIdLayout::Combined)
    return decodeFabricIdMasks(reg208, 0, 0);
  const uint32_t reg20C = readFabricRegister(0, SystemFabricIdMask1::kReg, kBroadcastInstance);
  const uint32_t reg3F8 = readFabricRegister(0, HashControl::kReg, kBroadcastInstance);
  return decodeFabricIdMasks(reg208, reg20C, reg3F8);
}

}  // namespace atd
