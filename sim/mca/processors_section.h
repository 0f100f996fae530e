// Profile section "processors": the processor list with each processor's
// five descriptive bytes and its machine-check banks.
#pragma once

#include "sim/profile/profile.h"

namespace sim::mca {

void LoadProcessorsSection(const profile::Json& section, const std::string& path,
                           Platform& platform);
profile::Json DumpProcessorsSection(Platform& platform);
profile::Json DefaultProcessorsSection();

}  // namespace sim::mca
