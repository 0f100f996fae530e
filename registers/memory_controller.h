// The memory controller's configuration space as MemTuneSmm reads it and the
// simulator serves it: device 0 function 0 of each die's bus is an index/data
// pair over an indirect register space, in which every memory channel has a
// block of its own; the fabric's node devices (0x18 to 0x1F of bus 0,
// function 0) name the bus of each die.
#pragma once

#include "registers/fabric_registers.h"

#include <cstdint>

namespace mts::controller_reg {

// Device 0 function 0 of a die's bus: the address of an indirect register
// goes to the index register, its value comes from the data register.
inline constexpr uint16_t kIndexRegister = 0xB8;
inline constexpr uint16_t kDataRegister = 0xBC;

// Indirect address of register `reg` of memory channel `channel`.
inline constexpr uint32_t kChannelBlockBase = 0x50000;
inline constexpr uint32_t kChannelBlockStride = 0x100000;
constexpr uint32_t ChannelBlock(uint32_t channel) {
  return kChannelBlockBase + channel * kChannelBlockStride;
}

// Function 0 of a node device: the vendor id in bits 15:0 of register 0, and
// the die's bus number in the low byte of register 0x84.
inline constexpr uint16_t kVendorIdValue = atd::fabric_reg::kNodeVendorId;
inline constexpr uint16_t kBusNumberRegister = 0x84;

}  // namespace mts::controller_reg
