// The fatal stops of the address translations: each call site's code, once,
// with the operation that raises it and what it stands for. The driver raises
// them by name; platsim explains a stop it saw from this table.
#pragma once

#include <cstdint>

namespace atd {

inline constexpr uint32_t kStopSixChannelMmio = 0xC0051302;
inline constexpr uint32_t kStopSixChannelLogicalId = 0xC0050579;
inline constexpr uint32_t kStopSixChannelCombined = 0xC0052012;
inline constexpr uint32_t kStopSixChannelChannel = 0xC0050551;
inline constexpr uint32_t kStopBadMatchKind = 0xC0050739;

struct TranslationStop {
  uint32_t code;
  const char* site;     // the operation that raises it
  const char* meaning;  // what the driver was given
};

inline constexpr TranslationStop kTranslationStops[] = {
    {kStopSixChannelMmio, "checkDramHit",
     "a six-channel map with the MMIO hole enabled was given an address in the hole"},
    {kStopSixChannelLogicalId, "checkDramHit", "a six-channel logical channel id of 8 or more"},
    {kStopSixChannelCombined, "calcSysAddr",
     "a six-channel interleave in the Combined fabric-id layout"},
    {kStopSixChannelChannel, "calcSysAddr", "a six-channel channel number of 8 or more"},
    {kStopBadMatchKind, "decode_dram_fields",
     "an impossible chip-select match kind in the DRAM decoding"},
};

}  // namespace atd
