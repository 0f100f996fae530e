// platsim profile dump: the expanded profile of the platform in use.
#include "sim/profile/profile.h"
#include "tools/platsim/commands.h"

#include <iostream>

namespace platsim {

void AddProfileCommands(CLI::App& app, GlobalOptions& opts) {
  auto* profile = app.add_subcommand("profile", "platform profiles");
  profile->require_subcommand(1);
  auto* dump = profile->add_subcommand("dump", "write the expanded profile of the platform in use");
  dump->callback([&opts] {
    sim::Platform platform;
    if (opts.profile.empty())
      sim::profile::Load(sim::profile::Default(), platform);
    else
      sim::profile::LoadFile(opts.profile, platform);
    std::cout << sim::profile::Dump(platform).dump(2) << "\n";
  });
}

}  // namespace platsim
