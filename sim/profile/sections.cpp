// The profile sections of this build, in load order. A subsystem adds its
// section here (its loader lives in a file of its own).
#include "sim/profile/profile.h"
#include "sim/dram/channel_config_profile.h"

namespace sim::profile {

namespace {
const Section kSections[] = {
    {"_", nullptr, nullptr, nullptr},  // keeps the array non-empty; never matches a key
    sim::dram::kChannelConfigSection,
};
}  // namespace

const Section* Sections() { return kSections + 1; }
size_t SectionCount() { return sizeof kSections / sizeof kSections[0] - 1; }

}  // namespace sim::profile
