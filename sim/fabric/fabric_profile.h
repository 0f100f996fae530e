// Profile section "fabric": raw data-fabric registers, a list of
// {node, function, offset, instance, value}; instance 0-254 or "broadcast".
#pragma once

#include "sim/profile/profile.h"

namespace sim::fabric {

void LoadFabricSection(const profile::Json& section, const std::string& path, Platform& p);
profile::Json DumpFabricSection(Platform& p);

}  // namespace sim::fabric
