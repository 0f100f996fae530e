// Which coherent slave (memory channel) owns a system address: the fabric's
// own map, channel, die and socket selection, redone from its registers.
#pragma once

#include "addr_translate/fabric/fabric_access.h"

#include <cstdint>

namespace atd {

// The csFabricId of the owner, or kNoOwner when no valid map contains the
// address.
uint32_t checkDramHit(uint64_t systemAddress);

inline constexpr uint32_t kNoOwner = 0xFFFF;

inline constexpr uint32_t kNoCcmInstance = 0xFFFFFFFFu;

// The block instance the DRAM address maps are read from: the first one of
// type CCM (non-zero info, type 0), or kNoCcmInstance. Reads F0x040 by
// broadcast, then F0x044 of each instance in turn.
inline uint32_t findCcmInstance() {
  using namespace fabric_reg;
  const uint32_t count = BlockInstanceCount::Count::Get(
      readFabricRegister(0, BlockInstanceCount::kReg, kBroadcastInstance));
  for (uint32_t k = 0; k < count; ++k) {
    const uint32_t info = readFabricRegister(0, BlockInstanceInfo::kReg, k);
    if (info != 0 && BlockInstanceInfo::InstanceType::Get(info) == 0) return k;
  }
  return kNoCcmInstance;
}

}  // namespace atd
