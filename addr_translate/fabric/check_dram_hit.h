// Which coherent slave (memory channel) owns a system address: the fabric's
// own map, channel, die and socket selection, redone from its registers.
#pragma once

#include <cstdint>

namespace atd {

// The csFabricId of the owner, or kNoOwner when no valid map contains the
// address.
uint32_t checkDramHit(uint64_t systemAddress);

inline constexpr uint32_t kNoOwner = 0xFFFF;

}  // namespace atd
