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
    // Not JSON, a number too large, or a key twice: a ProfileError. Any other
    // exception escapes and ends the run as a crash.
    j = sim::profile::Parse(text, "input");
  } catch (const sim::profile::ProfileError&) {
    return 0;
  }
  sim::Platform platform;
  try {
    sim::profile::Load(j, platform);
    (void)sim::profile::Dump(platform);
  } catch (const sim::profile::UncheckedValueError&) {
    // A JSON library error inside a loader is a loader bug: report it as a crash.
    __builtin_trap();
  } catch (const sim::profile::ProfileError&) {
  }
  return 0;
}
