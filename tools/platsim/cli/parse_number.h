// Addresses and numbers on platsim's command line and in its input lists.
#pragma once

#include <cstdint>
#include <string_view>

namespace platsim {

// Decimal, or hex with 0x. Throws UserError naming `what` on anything else.
uint64_t ParseNumber(std::string_view text, std::string_view what);

}  // namespace platsim
