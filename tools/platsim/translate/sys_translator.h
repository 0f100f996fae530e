// System addresses translated as `platsim translate sys` does, for commands
// that find addresses in other places (decode): AddrTranslateDxe started once
// on the profile's platform, then slot 2 and back through slot 1 for each.
#pragma once

#include "sim/profile/profile.h"
#include "tools/platsim/cli/options.h"

#include <memory>
#include <string>

namespace platsim {

struct SysTranslation {
  std::string text;         // the lines `translate sys` prints
  sim::profile::Json json;  // and its --json object
  std::string refusal;      // why the address is not DRAM here; empty when it is
};

class SysTranslator {
 public:
  // Loads the profile and starts the driver; throws UserError when it does
  // not start, ProfileError for a bad profile.
  explicit SysTranslator(const GlobalOptions& opts);
  ~SysTranslator();
  // Throws UserError when the driver takes a fatal stop.
  SysTranslation Translate(uint64_t address);

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace platsim
