// Placeholder until the fabric translations land: every address is "not DRAM".
#include "addr_translate/fabric/calc_norm_addr.h"

namespace atd {

NormalizedAddress calcNormAddr(uint64_t) {
  NormalizedAddress r;
  r.normalizedAddr = kInvalidAddress;
  r.socketId = r.dieId = r.channelId = r.reserved = 0;
  return r;
}

}  // namespace atd
