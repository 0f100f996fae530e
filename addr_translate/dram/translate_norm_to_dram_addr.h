// Normalized address of one channel -> DRAM coordinates, from the channel's
// entry in the ChannelConfigTable.
#pragma once

#include "dram_address.h"

#include <cstdint>

namespace atd {

// Writes all five fields of *out, every time (through separate pointers, so
// the gap bytes keep their contents).
void translate_norm_to_dram_addr(uint64_t normalizedAddress, uint8_t socket, uint8_t die,
                                 uint8_t channel, DramAddress* out);

}  // namespace atd
