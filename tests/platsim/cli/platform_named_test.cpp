// Every command that shows a translation names its platform in the same
// words, in text, JSON and pictures: the built-in example platform, or the
// profile with what its "captured" section says.
#include "tests/platsim/platsim_run.h"
#include "tools/platsim/cli/platform_load.h"

#include <gtest/gtest.h>

#include <regex>

namespace {

using platsim_test::Exec;
using Json = nlohmann::ordered_json;

constexpr const char* kCaptured =
    R"({"tool": "TivTool", "version": "0.2.0", "source": "uefi-shell", "time":
        "2026-12-10T11:55:00", "cpuidSignature": "0x00A00F11", "firmwareVendor": "EDK II",
        "firmwareRevision": "0x00010000"})";

// The platform as the map's picture shows it: its lines joined by a blank.
std::string Shown(const std::string& svg) {
  std::smatch text;
  if (!std::regex_search(svg, text, std::regex("<text id=\"platform\".*</text>"))) return "";
  const std::string lines = std::regex_replace(text.str(), std::regex("</tspan><tspan[^>]*>"), " ");
  return std::regex_replace(lines, std::regex("<[^>]*>"), "");
}

TEST(PlatformNamed, EveryCommandThatTranslatesNamesTheBuiltInAndACapturedPlatform) {
  platsim_test::TempDir dir;
  Json profile = Json::parse(Exec("profile dump").out);
  profile["captured"] = Json::parse(kCaptured);
  const std::string cap = dir.Write("cap.json", profile.dump()), pic = dir.Path("pic.svg");
  const std::string sys = dir.Write("sys.txt", "0x723456789\n");
  const std::string kern = dir.Write(
      "kern.log",
      "mce: [Hardware Error]: CPU 3: Machine Check: 0 Bank 5: 9400000000000000\n"
      "mce: [Hardware Error]: TSC 0 ADDR 723456789\n"
      "mce: [Hardware Error]: PROCESSOR 2:a20f10 TIME 1796122800 SOCKET 0 APIC 6 microcode 1\n");
  const std::string mca = dir.Path("mca.json");
  ASSERT_EQ(Exec("--json mca --cpu 1 > " + mca).exit, 0);
  // Where the line is: t a line of the text, # the first line as a comment,
  // e standard error, j the "platform" object, s the map's picture, f pic.svg.
  const std::pair<std::string, char> rows[] = {
      {"translate sys 0x723456789", 't'},
      {"translate norm 0xB8D15B89 --socket 0 --die 1 --channel 2", 't'},
      {"translate dram --die 1 --channel 2 --cs 1 --bank 14 --row 0x1C68 --col 0x2B1", 't'},
      {"translate sys --input " + sys, '#'},
      {"--json translate sys - < " + sys, 'e'},
      {"decode " + mca, 't'},
      {"decode " + kern, 't'},
      {"map", 't'},
      {"map --svg -", 's'},
      {"faults " + kern, 't'},
      {"faults " + kern + " --svg " + pic, 'f'},
  };
  const std::string builtIn = "platform: the built-in example platform";
  const std::string captured = "platform: profile " + cap +
                               ", captured by TivTool 0.2.0 from the UEFI shell at "
                               "2026-12-10T11:55:00 (firmware EDK II 0x00010000, CPUID "
                               "signature 0x00A00F11)";
  for (const std::string& line : {builtIn, captured})
    for (const auto& [command, at] : rows) {
      const std::string args = (line == builtIn ? "" : "--profile " + cap + " ") + command;
      SCOPED_TRACE(args);
      const auto r = Exec(args);
      ASSERT_EQ(r.exit, 0) << r.out << r.err;
      const size_t npos = std::string::npos;
      const bool named = at == 't'   ? ("\n" + r.out).find("\n" + line + "\n") != npos
                         : at == '#' ? r.out.rfind("# " + line + "\n", 0) == 0
                         : at == 'e' ? r.err.find("platsim: " + line + "\n") != npos
                         : at == 'f' ? platsim_test::Slurp(pic).find(">" + line + "</text>") != npos
                                     : Shown(r.out) == line;
      EXPECT_TRUE(named) << r.out.substr(0, 3000) << r.err;
      if (at != 't') continue;
      // The same command's JSON: the "platform" object.
      const auto j = Exec("--json " + args);
      ASSERT_EQ(j.exit, 0) << j.err;
      const Json platform = Json::parse(j.out)["platform"];
      EXPECT_EQ(platform["profile"], line == builtIn ? "built-in" : cap);
      EXPECT_EQ("platform: " + platform["description"].get<std::string>(), line);
      EXPECT_EQ(platform.value("captured", Json()),
                line == builtIn ? Json() : Json::parse(kCaptured));
    }

  // A profile on standard input serves the log readers and the translations.
  for (const char* command : {"decode ", "faults "})
    EXPECT_NE(Exec(std::string("--profile - ") + command + kern + " < " + cap)
                  .out.find("platform: profile <stdin>, captured by TivTool 0.2.0"),
              std::string::npos);
}

TEST(PlatformNamed, WhatEachKindOfCaptureAdds) {
  const std::pair<const char*, const char*> rows[] = {
      {R"({"tool": "platsim", "version": "0.2.0", "source": "linux-sysfs", "hostName": "n3"})",
       "profile p.json, captured by platsim 0.2.0 from Linux sysfs on n3"},
      {R"({"tool": "platsim", "version": "0.2.0", "source": "simulation", "capturedFrom":
           "old.json", "note": "fabric registers only"})",
       "profile p.json, simulated by platsim 0.2.0 from profile old.json (note: fabric "
       "registers only)"},
      {"null", "profile p.json"},
  };
  for (const auto& [captured, description] : rows)
    EXPECT_EQ(platsim::PlatformDescription("p.json", Json::parse(captured)), description);
}

}  // namespace
