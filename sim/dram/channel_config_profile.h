// Profile section "channelConfig": the platform's ChannelConfigTable, given as
// raw bytes, as channel geometries that the builder expands, and as single
// fields by name and index. docs/profile-channel-config.md describes the
// format.
#pragma once

#include "sim/profile/profile.h"

namespace sim::dram {

void LoadChannelConfigSection(const profile::Json& section, const std::string& path,
                              Platform& platform);
profile::Json DumpChannelConfigSection(Platform& platform);

inline constexpr profile::Section kChannelConfigSection = {
    "channelConfig", LoadChannelConfigSection, DumpChannelConfigSection, nullptr};

}  // namespace sim::dram
