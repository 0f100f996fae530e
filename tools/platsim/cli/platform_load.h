// The platform a command runs on: the profile named by --profile ("-":
// standard input), or the built-in default platform.
#pragma once

#include "sim/platform/platform.h"
#include "tools/platsim/cli/commands.h"

namespace platsim {

void LoadPlatform(const GlobalOptions& opts, sim::Platform& platform);

}  // namespace platsim
