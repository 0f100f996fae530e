// Profile section "mcaBanks": which address a machine-check bank logs. A
// memory controller's bank may log its channel's normalized address instead
// of a system address; each entry names a bank (by number, or by the value of
// its identification register, msr5) and says which:
//   "mcaBanks": [ { "bank": 15, "socket": 0, "die": 1, "channel": 2,
//                   "address": "normalized" },
//                 { "ipid": "0x000100B000000000", "address": "system" } ]
// socket, die and channel default to 0; address is required. Banks no entry
// names log system addresses.
#pragma once

#include "sim/profile/profile.h"

#include <optional>
#include <vector>

namespace sim::mca {

struct BankAddressRule {
  std::optional<uint32_t> bank;
  std::optional<uint64_t> ipid;
  uint32_t socket = 0, die = 0, channel = 0;
  bool normalized = false;
};

struct BankAddressMap {
  std::vector<BankAddressRule> rules;
};

BankAddressMap& BankAddresses(Platform& platform);

void LoadMcaBanksSection(const profile::Json& section, const std::string& path, Platform& platform);
profile::Json DumpMcaBanksSection(Platform& platform);

}  // namespace sim::mca
