// Profile section "acpi": the ACPI protocols present, the BERT with its boot
// error region, the HEST, and any other tables, installed in that store.
#pragma once

#include "sim/profile/profile.h"

namespace sim::acpi {

void LoadAcpiSection(const profile::Json& section, const std::string& path, Platform& platform);
profile::Json DumpAcpiSection(Platform& platform);
profile::Json DefaultAcpiSection();

}  // namespace sim::acpi
