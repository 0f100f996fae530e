// The small platform of the fault tests: one die, two 256 MiB channels
// interleaved with the hash, channel 0 with two chip selects (DIMM 0, label
// "A1"), 16 banks (2 of the 4 bank bits group bits) with the bank hash, 1024
// rows and 1024 columns.
#pragma once

namespace faulttest {

inline constexpr const char* kSmallProfile = R"({
  "topology": {"sockets": 1, "diesPerSocket": 1, "channelsPerDie": 2, "channels": 2,
               "hashed": true, "channelSize": "0x10000000", "holeBase": "0"},
  "channelConfig": {"channels": [
    {"socket": 0, "die": 0, "channel": 0, "chipSelects": 2, "bankBits": 4, "rowBits": 10,
     "colBits": 10, "bankHash": true, "bankGroupBits": 2}]},
  "dimms": [{"socket": 0, "die": 0, "channel": 0, "dimm": 0, "label": "A1", "serial": "S-1"}]
})";

}  // namespace faulttest
