// What the memory controller's table does not hold about the DIMMs: how many
// of a channel's bank bits are bank-group bits (channelConfig.channels[i].
// bankGroupBits), and the silkscreen label, serial and part number of each
// DIMM (profile section "dimms"). Tools that name a failing DIMM read both;
// the drivers never do. docs/profile.md describes the section.
#pragma once

#include "sim/platform/platform.h"
#include "sim/profile/profile.h"

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace sim::dram {

// One DIMM's label: by its DIMM number (chip selects 2n and 2n+1 of the
// channel) or by one chip select.
struct DimmLabel {
  uint8_t socket = 0, die = 0, channel = 0;
  std::optional<unsigned> dimm, chipSelect;
  std::string label, serial, part;
};

struct DimmInfo {
  std::map<unsigned, unsigned> bankGroupBits;  // channel slot -> bank-group bits
  std::vector<DimmLabel> labels;
};

DimmInfo& DimmInfoOf(Platform& platform);

// Bank-group bits of a slot whose chip selects have `bankBits` bank bits: the
// profile's value, or bankBits - 2 (four banks per group: DDR4's 4 groups of
// 16 banks, 2 of 8, and DDR5's 8 of 32).
unsigned BankGroupBits(const DimmInfo& info, unsigned slot, unsigned bankBits);

// The label of chip select `chipSelect` of a channel: an entry for that chip
// select first, then one for its DIMM (chipSelect / 2); null when none.
const DimmLabel* FindDimmLabel(const DimmInfo& info, unsigned socket, unsigned die,
                               unsigned channel, unsigned chipSelect);

void LoadDimmsSection(const profile::Json& section, const std::string& path, Platform& platform);
profile::Json DumpDimmsSection(Platform& platform);

inline constexpr profile::Section kDimmsSection = {"dimms", LoadDimmsSection, DumpDimmsSection,
                                                   nullptr};

}  // namespace sim::dram
