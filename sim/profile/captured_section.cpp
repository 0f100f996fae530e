#include "sim/profile/captured_section.h"

namespace sim::profile {

CapturedInfo& CapturedOf(Platform& platform) {
  return platform.Extension<CapturedInfo>();
}

void LoadCapturedSection(const Json& section, const std::string& path, Platform& platform) {
  CheckKeys(section, path,
            {"tool", "version", "source", "time", "cpuidSignature", "firmwareVendor",
             "firmwareRevision", "hostName", "capturedFrom", "note"});
  for (auto it = section.begin(); it != section.end(); ++it)
    if (!it.value().is_string())
      throw ProfileError(path + "." + it.key(),
                         "expected a string, found " + std::string(it.value().type_name()));
  Required(section, path, "tool");
  Required(section, path, "version");
  const std::string source = Required(section, path, "source").get<std::string>();
  if (source != "uefi-shell" && source != "linux-sysfs" && source != "simulation")
    throw ProfileError(
        path + ".source",
        "expected \"uefi-shell\", \"linux-sysfs\" or \"simulation\", found \"" + source + "\"");
  CapturedOf(platform).section = section;
}

Json DumpCapturedSection(Platform& platform) {
  const CapturedInfo& info = CapturedOf(platform);
  return info.section ? *info.section : Json(nullptr);
}

}  // namespace sim::profile
