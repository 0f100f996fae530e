// The "captured" profile section: what it keeps and gives back, and each way
// it refuses a section, with the JSON path and the words of the message.
#include "sim/profile/captured_section.h"
#include "sim/profile/profile.h"

#include <gtest/gtest.h>

namespace {

using sim::profile::Json;
using sim::profile::ProfileError;

TEST(CapturedSection, KeptAsGivenAndDumpedBackInItsOrder) {
  const char* sections[] = {
      R"({"tool": "TivTool", "version": "0.2.0", "source": "uefi-shell",
          "time": "2026-12-10T11:55:00", "cpuidSignature": "0x00A00F11",
          "firmwareVendor": "EDK II", "firmwareRevision": "0x00010000"})",
      R"({"source": "linux-sysfs", "version": "0.2.0", "tool": "platsim",
          "hostName": "rack7-node3", "time": "2026-12-10T11:55:00Z"})",
      R"({"tool": "platsim", "version": "0.2.0", "source": "simulation",
          "capturedFrom": "built-in", "note": "fabric registers only: no channel configuration given"})",
  };
  for (const char* text : sections) {
    const Json section = Json::parse(text);
    sim::Platform p;
    sim::profile::Load(Json{{"captured", section}}, p);
    ASSERT_TRUE(sim::profile::CapturedOf(p).section) << text;
    const Json dumped = sim::profile::Dump(p)["captured"];
    EXPECT_EQ(dumped.dump(), section.dump()) << text;  // the same keys in the same order
  }
  sim::Platform none;
  sim::profile::Load(sim::profile::Default(), none);
  EXPECT_FALSE(sim::profile::CapturedOf(none).section);
  EXPECT_FALSE(sim::profile::Dump(none).contains("captured"));
}

TEST(CapturedSection, RefusesWrongTypesUnknownKeysAndMissingOnes) {
  const struct {
    const char* section;
    const char* message;  // the ProfileError's text, or its start ("...")
  } rows[] = {
      {R"("TivTool 0.2.0")", "$.captured: expected an object, found string"},
      {R"({"version": "0.2.0", "source": "uefi-shell"})", "$.captured.tool: missing"},
      {R"({"tool": "TivTool", "source": "uefi-shell"})", "$.captured.version: missing"},
      {R"({"tool": "TivTool", "version": "0.2.0"})", "$.captured.source: missing"},
      {R"({"tool": "TivTool", "version": 2, "source": "uefi-shell"})",
       "$.captured.version: expected a string, found number"},
      {R"({"tool": "TivTool", "version": "0.2.0", "source": "uefi-shell", "hostName": null})",
       "$.captured.hostName: expected a string, found null"},
      {R"({"tool": "TivTool", "version": "0.2.0", "source": "uefi-shell",
           "cpuidSignature": 10489617})",
       "$.captured.cpuidSignature: expected a string, found number"},
      {R"({"tool": "TivTool", "version": "0.2.0", "source": "bios"})",
       "$.captured.source: expected \"uefi-shell\", \"linux-sysfs\" or \"simulation\", found "
       "\"bios\""},
      {R"({"tool": "TivTool", "version": "0.2.0", "source": "Uefi-Shell"})",
       "$.captured.source: expected \"uefi-shell\", \"linux-sysfs\" or \"simulation\", found "
       "\"Uefi-Shell\""},
      {R"({"tool": "TivTool", "version": "0.2.0", "source": "uefi-shell", "serial": "x"})",
       "$.captured.serial: unknown key (expected one of: tool, version, source, time, "
       "cpuidSignature, firmwareVendor, firmwareRevision, hostName, capturedFrom, note)"},
  };
  for (const auto& row : rows) {
    sim::Platform p;
    try {
      sim::profile::Load(Json{{"captured", Json::parse(row.section)}}, p);
      ADD_FAILURE() << "accepted " << row.section;
    } catch (const ProfileError& e) {
      EXPECT_EQ(std::string(e.what()), row.message) << row.section;
      EXPECT_FALSE(dynamic_cast<const sim::profile::UncheckedValueError*>(&e)) << row.section;
    }
  }
}

}  // namespace
