// The "captured" profile section: kept and dumped back as given, and each
// way it refuses a section, with the JSON path and the message.
#include "sim/profile/captured_section.h"

#include <gtest/gtest.h>

namespace {

using sim::profile::Json;

TEST(CapturedSection, KeptAsGivenOrRefusedAtItsPath) {
  const struct {
    const char* section;
    const char* error;  // "": accepted
  } rows[] = {
      {R"({"tool": "TivTool", "version": "0.2.0", "source": "uefi-shell", "time":
          "2026-12-10T11:55:00", "cpuidSignature": "0x00A00F11", "firmwareVendor": "EDK II",
          "firmwareRevision": "0x00010000"})",
       ""},
      {R"({"source": "linux-sysfs", "version": "0.2.0", "tool": "platsim", "hostName": "n3"})", ""},
      {R"({"tool": "platsim", "version": "0.2.0", "source": "simulation", "capturedFrom":
          "built-in", "note": "fabric registers only"})",
       ""},
      {R"("TivTool 0.2.0")", "$.captured: expected an object, found string"},
      {R"({"version": "0.2.0", "source": "uefi-shell"})", "$.captured.tool: missing"},
      {R"({"tool": "TivTool", "version": "0.2.0"})", "$.captured.source: missing"},
      {R"({"tool": "TivTool", "version": 2, "source": "uefi-shell"})",
       "$.captured.version: expected a string, found number"},
      {R"({"tool": "TivTool", "version": "0.2.0", "source": "Uefi-Shell"})",
       "$.captured.source: expected \"uefi-shell\", \"linux-sysfs\" or \"simulation\", found "
       "\"Uefi-Shell\""},
      {R"({"tool": "TivTool", "version": "0.2.0", "source": "uefi-shell", "serial": "x"})",
       "$.captured.serial: unknown key (expected one of: tool, version, source, time, "
       "cpuidSignature, firmwareVendor, firmwareRevision, hostName, capturedFrom, note)"},
  };
  for (const auto& row : rows) {
    const Json section = Json::parse(row.section);
    sim::Platform p;
    try {
      sim::profile::Load(Json{{"captured", section}}, p);
      EXPECT_EQ(std::string(row.error), "") << row.section;
      EXPECT_EQ(sim::profile::Dump(p)["captured"].dump(), section.dump());  // keys in order
    } catch (const sim::profile::ProfileError& e) {
      EXPECT_EQ(std::string(e.what()), row.error) << row.section;
    }
  }
  sim::Platform none;
  sim::profile::Load(sim::profile::Default(), none);
  EXPECT_FALSE(sim::profile::Dump(none).contains("captured"));
}

}  // namespace
