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

namespace platsim {

TranslationPlatform PlatformBehindTranslation(const GlobalOptions& opts) {
  TranslationPlatform p;
  p.builtIn = opts.profile.empty();
  if (p.builtIn) {
    p.phrase =
        "on the built-in example platform (not the machine that logged this record; give "
        "--profile)";
    p.warning = "note: addresses are translated " + p.phrase;
  } else {
    p.phrase = "on the platform of profile " +
               (opts.profile == "-" ? std::string("<stdin>") : opts.profile);
  }
  p.json = sim::profile::Json::object();
  p.json["profile"] = p.builtIn ? "built-in" : opts.profile;
  p.json["text"] = p.phrase;
  return p;
}

}  // namespace platsim
