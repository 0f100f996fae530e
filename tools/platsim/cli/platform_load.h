// The platform a command runs on: the profile named by --profile ("-":
// standard input), or the built-in default platform.
#pragma once

#include "sim/platform/platform.h"
#include "sim/profile/profile.h"
#include "tools/platsim/cli/options.h"

#include <string>

namespace platsim {

void LoadPlatform(const GlobalOptions& opts, sim::Platform& platform);

// Which platform translations are made on, said the same way by every
// command that translates addresses it found in a machine's records: an
// address logged on one machine means something else on another, and
// without --profile the platform is the built-in example.
struct TranslationPlatform {
  bool builtIn = true;
  // "on the built-in example platform (not the machine that logged this
  // record; give --profile)", or "on the platform of profile FILE".
  std::string phrase;
  // The same for standard error, once a command (empty with a profile): "note:
  // addresses are translated on the built-in example platform (...)".
  std::string warning;
  sim::profile::Json json;  // {"profile": "built-in" or the file, "text": phrase}
};
TranslationPlatform PlatformBehindTranslation(const GlobalOptions& opts);

}  // namespace platsim
