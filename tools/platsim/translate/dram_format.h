// DRAM coordinates for people and for --json.
#pragma once

#include "dram_address.h"
#include "sim/profile/profile.h"

#include <string>

namespace platsim {

// "chip select 1, bank 9, row 0xABC, column 0x1A5, rank multiplier 1"
std::string FormatDram(const DramAddress& d);

// {"chipSelect": 1, "bank": 9, "row": 2748, "col": 421, "rankMul": 1}
sim::profile::Json DramJson(const DramAddress& d);

}  // namespace platsim
