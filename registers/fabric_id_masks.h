// How a fabric id splits into socket, die and component (instance) ids, as
// SystemFabricIdMask0/1 and HashControl describe it (registers/fabric_registers.h).
// The translations decode it from those registers; the simulator's topology
// builder starts from it and encodes the registers.
#pragma once

#include <cstdint>

namespace atd {

enum class FabricIdLayout : uint8_t { Combined, Extended };

struct HashEnables {
  uint8_t hash64KEnable;
  uint8_t hash2MEnable;
  uint8_t hash1GEnable;
};

// How a fabric id splits into socket, die and component (instance) ids.
struct FabricIdMasks {
  FabricIdLayout layout;
  uint32_t socketMask;
  uint32_t socketShift;
  uint32_t dieMask;
  uint32_t dieShift;
  uint32_t nodeMask;
  HashEnables hash;  // all 1 in the Combined layout
};

}  // namespace atd
