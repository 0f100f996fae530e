// Every command that shows a translation names the platform it was made on,
// in the same words: the built-in example platform, or the profile with what
// its "captured" section says; in text, in JSON and in the pictures.
#include "tests/platsim/platsim_run.h"
#include "tools/platsim/cli/platform_load.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

namespace {

using platsim_test::Exec;
using platsim_test::TempDir;
using Json = nlohmann::ordered_json;

constexpr const char* kCaptured =
    R"({"tool": "TivTool", "version": "0.2.0", "source": "uefi-shell",
        "time": "2026-12-10T11:55:00", "cpuidSignature": "0x00A00F11",
        "firmwareVendor": "EDK II", "firmwareRevision": "0x00010000"})";

// Where a command puts the platform's line.
enum class At {
  Text,      // a line of standard output
  Comment,   // the first line of standard output, "# " before it
  Stderr,    // standard error, "platsim: " before it
  Json,      // standard output is JSON with a "platform" object
  MapSvg,    // standard output is the map's picture: the line in its <desc> and,
             // in lines broken at blanks, as <text id="platform">
  FaultSvg,  // the picture written to pic.svg, the line as its subtitle
};

TEST(PlatformNamed, EveryCommandThatTranslatesNamesTheBuiltInAndACapturedPlatform) {
  TempDir dir;
  Json profile = Json::parse(Exec("profile dump").out);
  profile["captured"] = Json::parse(kCaptured);
  const std::string captured = dir.Write("captured.json", profile.dump());
  const std::string list = dir.Write("list.txt", "0x723456789\n");
  const std::string norms = dir.Write("norms.txt", "0xB8D15B89 0 1 2\n");
  const std::string kern = dir.Write(
      "kern.log",
      "mce: [Hardware Error]: CPU 3: Machine Check: 0 Bank 5: 9400000000000000\n"
      "mce: [Hardware Error]: TSC 0 ADDR 723456789\n"
      "mce: [Hardware Error]: PROCESSOR 2:a20f10 TIME 1796122800 SOCKET 0 APIC 6 microcode 1\n");
  const std::string mca = dir.Path("mca.json");
  ASSERT_EQ(Exec("--json mca --cpu 1 > " + mca).exit, 0);
  const std::string pic = dir.Path("pic.svg");

  const struct {
    std::string args;
    At at;
  } rows[] = {
      {"translate sys 0x723456789", At::Text},
      {"--json translate sys 0x723456789", At::Json},
      {"translate norm 0xB8D15B89 --socket 0 --die 1 --channel 2", At::Text},
      {"--json translate norm 0xB8D15B89 --socket 0 --die 1 --channel 2", At::Json},
      {"translate dram --socket 0 --die 1 --channel 2 --cs 1 --bank 14 --row 0x1C68 --col 0x2B1",
       At::Text},
      {"--json translate dram --socket 0 --die 1 --channel 2 --cs 1 --bank 14 --row 0x1C68 "
       "--col 0x2B1",
       At::Json},
      {"translate sys --input " + list, At::Comment},
      {"translate norm - < " + norms, At::Comment},
      {"--json translate sys - < " + list, At::Stderr},
      {"decode " + mca, At::Text},
      {"--json decode " + mca, At::Json},
      {"decode " + kern, At::Text},
      {"--json decode " + kern, At::Json},
      {"map", At::Text},
      {"--json map", At::Json},
      {"map --svg -", At::MapSvg},
      {"faults " + kern, At::Text},
      {"--json faults " + kern, At::Json},
      {"faults " + kern + " --svg " + pic, At::FaultSvg},
  };
  const struct {
    std::string option, profile, line;
    Json section;
  } platforms[] = {
      {"", "built-in", "platform: the built-in example platform", Json()},
      {"--profile " + captured + " ", captured,
       "platform: profile " + captured +
           ", captured by TivTool 0.2.0 from the UEFI shell at 2026-12-10T11:55:00 (firmware "
           "EDK II 0x00010000, CPUID signature 0x00A00F11)",
       Json::parse(kCaptured)},
  };
  for (const auto& p : platforms)
    for (const auto& row : rows) {
      const std::string args = p.option + row.args;
      SCOPED_TRACE(args);
      std::filesystem::remove(pic);
      const auto r = Exec(args);
      ASSERT_EQ(r.exit, 0) << r.out << r.err;
      switch (row.at) {
        case At::Text:
          EXPECT_NE(("\n" + r.out).find("\n" + p.line + "\n"), std::string::npos) << r.out;
          break;
        case At::Comment:
          EXPECT_EQ(r.out.rfind("# " + p.line + "\n", 0), 0u) << r.out;
          break;
        case At::Stderr:
          EXPECT_NE(r.err.find("platsim: " + p.line + "\n"), std::string::npos) << r.err;
          EXPECT_EQ(r.out.find("platform"), std::string::npos) << r.out;  // records only
          break;
        case At::Json: {
          const Json j = Json::parse(r.out);
          ASSERT_TRUE(j.contains("platform")) << r.out;
          EXPECT_EQ(j["platform"]["profile"], p.profile);
          EXPECT_EQ("platform: " + j["platform"]["description"].get<std::string>(), p.line);
          EXPECT_EQ(j["platform"].value("captured", Json()), p.section);
          break;
        }
        case At::MapSvg: {
          EXPECT_NE(r.out.find("<desc>" + p.line + "</desc>"), std::string::npos);
          const size_t from = r.out.find("<text id=\"platform\"");
          ASSERT_NE(from, std::string::npos) << r.out.substr(0, 2000);
          const std::string element = r.out.substr(from, r.out.find("</text>", from) - from);
          std::string shown;
          for (size_t at = element.find("\">"); at != std::string::npos;
               at = element.find("\">", at + 1)) {
            const size_t end = element.find('<', at);
            if (end == std::string::npos || end == at + 2) continue;
            shown += (shown.empty() ? "" : " ") + element.substr(at + 2, end - at - 2);
          }
          EXPECT_EQ(shown, p.line) << element;
          break;
        }
        case At::FaultSvg: {
          const std::string svg = platsim_test::Slurp(pic);
          EXPECT_NE(svg.find(">" + p.line + "</text>"), std::string::npos) << svg.substr(0, 2000);
          break;
        }
      }
    }

  // A profile on standard input serves the log readers and the translations
  // alike (it is read once).
  for (const char* command : {"decode ", "faults "}) {
    const auto r = Exec(std::string("--profile - ") + command + kern + " < " + captured);
    EXPECT_EQ(r.exit, 0) << r.out << r.err;
    EXPECT_NE(r.out.find("platform: profile <stdin>, captured by TivTool 0.2.0"), std::string::npos)
        << r.out << r.err;
  }
}

TEST(PlatformNamed, WhatEachKindOfCaptureAdds) {
  const struct {
    const char* captured;  // null: no section
    const char* description;
  } rows[] = {
      {nullptr, "profile p.json"},
      {R"({"tool": "TivTool", "version": "0.2.0", "source": "uefi-shell"})",
       "profile p.json, captured by TivTool 0.2.0 from the UEFI shell"},
      {R"({"tool": "platsim", "version": "0.2.0", "source": "linux-sysfs",
           "hostName": "rack7-node3", "time": "2026-12-10T11:55:00Z"})",
       "profile p.json, captured by platsim 0.2.0 from Linux sysfs on rack7-node3 at "
       "2026-12-10T11:55:00Z"},
      {R"({"tool": "platsim", "version": "0.2.0", "source": "simulation",
           "capturedFrom": "built-in"})",
       "profile p.json, simulated by platsim 0.2.0 from the built-in example platform"},
      {R"({"tool": "platsim", "version": "0.2.0", "source": "simulation",
           "capturedFrom": "old.json", "note": "fabric registers only"})",
       "profile p.json, simulated by platsim 0.2.0 from profile old.json (note: fabric "
       "registers only)"},
      {R"({"tool": "TivTool", "version": "0.2.0", "source": "uefi-shell",
           "firmwareVendor": "EDK II"})",
       "profile p.json, captured by TivTool 0.2.0 from the UEFI shell (firmware EDK II)"},
  };
  for (const auto& row : rows)
    EXPECT_EQ(platsim::PlatformDescription("p.json", row.captured
                                                         ? sim::profile::Json::parse(row.captured)
                                                         : sim::profile::Json()),
              row.description);
  EXPECT_EQ(platsim::PlatformDescription("", sim::profile::Json()),
            "the built-in example platform");
}

}  // namespace
