// Numbers on the command line, as platsim takes them: decimal, or hex after
// 0x; nothing else, nothing after the digits, nothing beyond 64 bits.
#pragma once

#include <stdint.h>

namespace tivtool {

bool ParseNumber(const char* text, uint64_t* value);

}  // namespace tivtool
