// The one way the translations read the data fabric: node `node`'s
// indirect-access window in PCI Express configuration space.
#pragma once

#include "addr_translate/fabric/fabric_decode.h"
#include "registers/fabric_registers.h"

#include <cstdint>

namespace atd {

// Stores the access value (instance id: low 8 bits of `instance`, 0xFF for a
// broadcast) to register 0x5C of device 0x18 + node, function 4, then loads
// register 0x98 of the same function: one 32-bit store and one 32-bit load.
uint32_t readFabricRegister(uint32_t node, uint8_t function, uint16_t offset, uint32_t instance);

inline uint32_t readFabricRegister(uint32_t node, FabricReg reg, uint32_t instance) {
  return readFabricRegister(node, reg.function, reg.offset, instance);
}

// Reads the fabric-id description through node 0 by broadcast: F1x208 and, in
// the Extended layout, F1x20C and F0x3F8 (in that order).
FabricIdMasks readFabricIdMasks();

}  // namespace atd
