// Profile section "captured": where a profile came from, written by the tools
// that capture one (TivTool in the UEFI shell, platsim from Linux sysfs or a
// simulation). Every value is a string; "tool", "version" and "source" are
// required, "source" one of "uefi-shell", "linux-sysfs" and "simulation":
//   "captured": {"tool": "TivTool", "version": "0.2.0", "source": "uefi-shell",
//                "time": "2026-12-10T11:55:00", "cpuidSignature": "0x00A00F11",
//                "firmwareVendor": "EDK II", "firmwareRevision": "0x00010000"}
// The tools that translate name the platform by it; nothing else reads it.
// docs/profile.md describes the keys.
#pragma once

#include "sim/platform/platform.h"
#include "sim/profile/profile.h"

#include <optional>

namespace sim::profile {

struct CapturedInfo {
  // The section as loaded (its keys in their order), or none.
  std::optional<Json> section;
};

CapturedInfo& CapturedOf(Platform& platform);

void LoadCapturedSection(const Json& section, const std::string& path, Platform& platform);
Json DumpCapturedSection(Platform& platform);

inline constexpr Section kCapturedSection = {"captured", LoadCapturedSection, DumpCapturedSection,
                                             nullptr};

}  // namespace sim::profile
