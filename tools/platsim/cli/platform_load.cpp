#include "tools/platsim/cli/platform_load.h"

#include "sim/profile/profile.h"
#include "tools/common/input_file.h"

namespace platsim {

void LoadPlatform(const GlobalOptions& opts, sim::Platform& platform) {
  if (opts.profile.empty()) {
    sim::profile::Load(sim::profile::Default(), platform);
    return;
  }
  const std::vector<uint8_t> bytes = tools::ReadInputBytes(opts.profile, "profile", "platsim");
  const std::string name = opts.profile == "-" ? "<stdin>" : opts.profile;
  sim::profile::Load(sim::profile::Parse(std::string(bytes.begin(), bytes.end()), name), platform);
}

}  // namespace platsim
