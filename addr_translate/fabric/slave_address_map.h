// The start that calcNormAddr and calcSysAddr share: one address map of the
// owning coherent slave read through its node's window, decoded, and
// reported, together with the MMIO hole below 4 GiB.
#pragma once

#include "addr_translate/fabric/fabric_decode.h"

#include <cstdint>

namespace atd {

struct SlaveAddressMap {
  uint32_t dramBaseReg;
  uint32_t dramLimitReg;
  DramAddressMap map;
  uint64_t dramHoleBase;
};

// An operation's own messages (each begins with the operation's name).
struct AddressMapMessages {
  const char* registers;  // dramBaseReg and dramLimitReg; null: not reported
  const char* base;       // dramBaseAddr
  const char* limit;      // dramLimitAddr
  const char* hole;       // holeEn and dramHoleBase
};

// Reads the base and limit registers of map `mapNumber` of slave `instance`
// on node `node` and decodes them (reporting the registers first when the
// operation does). With `stopIfInvalid`, a base whose valid bit is clear ends
// it there (false). Otherwise reports the base and limit addresses, reads
// F0x104 and reports the hole.
bool readSlaveAddressMap(uint32_t node, uint32_t instance, unsigned mapNumber,
                         FabricIdLayout layout, const AddressMapMessages& messages,
                         bool stopIfInvalid, SlaveAddressMap* out);

}  // namespace atd
