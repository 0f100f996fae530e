// FatalStop: shows a 32-bit stop code on the POST-code port and never returns,
// unless a simulated platform claims the stop (then it returns FALSE and the
// caller goes on along its error path).
#pragma once

#include <cstdint>

namespace diag {

bool FatalStop(uint32_t code);

}  // namespace diag
