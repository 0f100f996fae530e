// System physical address -> normalized address of the owning channel.
#pragma once

#include "normalized_address.h"

#include <cstdint>

namespace atd {

// All-ones normalizedAddr (ids 0) when the address is in no DRAM map. The
// last four bytes of the record are left unwritten.
NormalizedAddress calcNormAddr(uint64_t systemAddress);

}  // namespace atd
