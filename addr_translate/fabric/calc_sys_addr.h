// Normalized address of one channel -> system physical address.
#pragma once

#include <cstdint>

namespace atd {

// All ones on failure.
uint64_t calcSysAddr(uint64_t normalizedAddress, uint32_t socket, uint32_t die, uint32_t channel);

}  // namespace atd
