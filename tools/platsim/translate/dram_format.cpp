#include "tools/platsim/translate/dram_format.h"

#include <cstdio>

namespace platsim {

std::string FormatDram(const DramAddress& d) {
  char buf[128];
  std::snprintf(
      buf, sizeof buf, "chip select %u, bank %u, row 0x%X, column 0x%X, rank multiplier %u",
      unsigned{d.chipSelect}, unsigned{d.bank}, d.row, unsigned{d.col}, unsigned{d.rankMul});
  return buf;
}

sim::profile::Json DramJson(const DramAddress& d) {
  sim::profile::Json j = sim::profile::Json::object();
  j["chipSelect"] = d.chipSelect;
  j["bank"] = d.bank;
  j["row"] = d.row;
  j["col"] = d.col;
  j["rankMul"] = d.rankMul;
  return j;
}

}  // namespace platsim
