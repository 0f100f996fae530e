// Text on the debug console port 0x402 (QEMU's isa-debugcon). The doubles run
// before the firmware's console exists, so this is where they report; the
// SMM probe writes its results here too, so one file holds the whole story.
#pragma once

#include <cstdint>

namespace fwtest {

constexpr uint16_t kDebugConsolePort = 0x402;

void DebugText(const char* text);
// `value` as 0x-prefixed upper-case hex with `digits` digits.
void DebugHex(uint64_t value, unsigned digits = 8);
void DebugDecimal(uint64_t value);

}  // namespace fwtest
