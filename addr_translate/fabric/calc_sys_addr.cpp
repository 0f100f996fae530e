// Placeholder until the fabric translations land: no address translates.
#include "addr_translate/fabric/calc_sys_addr.h"

#include "normalized_address.h"

namespace atd {

uint64_t calcSysAddr(uint64_t, uint32_t, uint32_t, uint32_t) { return kInvalidAddress; }

}  // namespace atd
