// The profile sections of this build, in load order. A subsystem adds its
// section here (its loader lives in a file of its own).
#include "sim/fabric/fabric_profile.h"
#include "sim/profile/profile.h"
#include "sim/profile/captured_section.h"
#include "sim/acpi/acpi_section.h"
#include "sim/dram/channel_config_profile.h"
#include "sim/dram/dimm_info.h"
#include "sim/topology/topology_profile.h"
#include "sim/mca/processors_section.h"
#include "sim/mca/bank_map_section.h"
#include "sim/smm/profile_smm.h"

namespace sim::profile {

namespace {
const Section kSections[] = {
    {"_", nullptr, nullptr, nullptr},  // keeps the array non-empty; never matches a key
    // Where a captured profile came from: the tools name the platform by it.
    kCapturedSection,
    // The topology expands into fabric registers; raw "fabric" registers load
    // after it, so they add to or override what the builder produced.
    {"topology", topology::LoadTopologySection, topology::DumpTopologySection,
     topology::DefaultTopologySection},
    {"fabric", fabric::LoadFabricSection, fabric::DumpFabricSection, nullptr},
    // Per-channel DRAM geometry, on top of what the topology filled in.
    sim::dram::kChannelConfigSection,
    // Labels of the DIMMs, for the tools that name a failing one.
    sim::dram::kDimmsSection,
    {"processors", sim::mca::LoadProcessorsSection, sim::mca::DumpProcessorsSection,
     sim::mca::DefaultProcessorsSection},
    // Which address each machine-check bank logs (the log readers of platsim).
    {"mcaBanks", sim::mca::LoadMcaBanksSection, sim::mca::DumpMcaBanksSection, nullptr},
    {"acpi", sim::acpi::LoadAcpiSection, sim::acpi::DumpAcpiSection, sim::acpi::DefaultAcpiSection},
    {"smm", LoadSmm, DumpSmm, DefaultSmm},
    {"memTuneProvider", LoadMemTuneProvider, DumpMemTuneProvider, DefaultMemTuneProvider},
    {"variables", LoadVariables, DumpVariables, DefaultVariables},
    {"memoryController", LoadMemoryController, DumpMemoryController, DefaultMemoryController},
};
}  // namespace

const Section* Sections() {
  return kSections + 1;
}
size_t SectionCount() {
  return sizeof kSections / sizeof kSections[0] - 1;
}

}  // namespace sim::profile
