// Random text through the profile loader: anything that is not a valid
// profile must end in a ProfileError, never in a crash or a silent success
// that leaves the platform half-built in an unsafe way.
#include "sim/profile/profile.h"

#include <cstddef>
#include <cstdint>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  sim::profile::Json j;
  try {
    j = sim::profile::Parse(text, "input");  // not JSON, or a key twice: ProfileError
  } catch (const sim::profile::ProfileError&) {
    return 0;
  }
  sim::Platform platform;
  try {
    sim::profile::Load(j, platform);
    (void)sim::profile::Dump(platform);
  } catch (const sim::profile::ProfileError&) {
  } catch (const nlohmann::json::exception&) {
    // A type error inside a loader is a loader bug: report it as a crash.
    __builtin_trap();
  }
  return 0;
}
