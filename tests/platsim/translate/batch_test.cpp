// platsim translate sys|norm over lists: one boot, one result per line, the
// same answers as one address at a time, bad lines reported by number
// without stopping the rest, and an exit code that says whether any failed.
#include "tests/platsim/platsim_run.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <random>
#include <vector>

namespace {

using platsim_test::Exec;
using platsim_test::TempDir;
using Json = nlohmann::json;

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string l; std::getline(in, l);) lines.push_back(l);
  return lines;
}

// The fields a one-address --json answer and a JSON Lines answer share.
Json Answer(const Json& j) {
  Json a = Json::object();
  for (const char* k : {"systemAddress", "normalizedAddress", "socket", "die", "channel", "dram"})
    if (j.contains(k)) a[k] = j[k];
  return a;
}

TEST(PlatsimBatch, SystemAddressesFromAFileAndFromStandardInput) {
  TempDir dir;
  const std::string list = dir.Write("list.txt",
                                     "0x723456789\n"
                                     "# a comment, then a blank line\n"
                                     "\n"
                                     "zz\n"
                                     "0xC0000000\n"
                                     "  0x523456789\r\n"
                                     "0x100 0x200\n"
                                     "12345");  // no line feed at the end
  const auto text = Exec("translate sys --input " + list);
  // Refused and unreadable lines: 2, an unreadable line wins.
  EXPECT_EQ(text.exit, 2) << text.err;
  // The platform first, as a comment line; then a result for each line.
  const auto lines = Lines(text.out);
  ASSERT_EQ(lines.size(), 7u) << text.out;
  EXPECT_EQ(lines[0], "# platform: the built-in example platform");
  EXPECT_EQ(lines[2], "line 4: error: system address: not a number: 'zz'");
  EXPECT_EQ(lines[3],
            "line 5: error: system address 0x00000000C0000000 is in the MMIO hole "
            "[0x00000000C0000000, 4 GiB), not DRAM");
  EXPECT_EQ(lines[5], "line 7: error: expected one system address");
  EXPECT_EQ(text.err,
            "platsim: 3 of 6 lines failed (1 refused, 2 bad input); the first is line 4\n");

  // JSON Lines, from standard input: each line as the one-address command
  // answers it.
  const auto js = Exec("--json translate sys - < " + list);
  EXPECT_EQ(js.exit, 2);
  EXPECT_EQ(js.err.rfind("platsim: platform: the built-in example platform\n", 0), 0u) << js.err;
  const auto objects = Lines(js.out);
  ASSERT_EQ(objects.size(), 6u) << js.out;
  const int numbers[] = {1, 4, 5, 6, 7, 8};
  const char* addresses[] = {"0x723456789", nullptr, nullptr, "0x523456789", nullptr, "12345"};
  for (size_t i = 0; i < objects.size(); ++i) {
    const Json j = Json::parse(objects[i]);
    EXPECT_EQ(j["line"], numbers[i]);
    EXPECT_EQ(j["ok"], addresses[i] != nullptr) << objects[i];
    if (addresses[i] == nullptr) continue;
    const auto one = Exec(std::string("--json translate sys ") + addresses[i]);
    ASSERT_EQ(one.exit, 0) << one.err;
    EXPECT_EQ(Answer(j), Answer(Json::parse(one.out))) << objects[i];
  }

  // Refusals alone give exit code 1.
  const auto refused =
      Exec("translate sys --input " + dir.Write("refused.txt", "0x723456789\n0xC0000000\n"));
  EXPECT_EQ(refused.exit, 1) << refused.err;
}

TEST(PlatsimBatch, NormalizedAddressesWithTheirChannels) {
  TempDir dir;
  const std::string list = dir.Write(
      "norm.txt",
      "0xB8D15B89 0 1 2\n"
      "{\"normalizedAddress\": \"0xB8D15B89\", \"socket\": 0, \"die\": 1, \"channel\": 2}\n"
      "0x100000000,0,0,0\n"
      "0x100 5 0 0\n"
      "{\"normalizedAddress\": 1, \"socket\": 0, \"die\": 0, \"channel\": 1, \"die\": 1}\n"
      "{\"normalizedAddress\": 1, \"channel\": 1}\n");
  const auto r = Exec("--json translate norm --input " + list);
  EXPECT_EQ(r.exit, 2);
  const auto lines = Lines(r.out);
  ASSERT_EQ(lines.size(), 6u) << r.out;
  const Json first = Json::parse(lines[0]), second = Json::parse(lines[1]);
  EXPECT_EQ(first["systemAddress"], "0x0000000723456789");
  EXPECT_EQ(Answer(first), Answer(second));
  struct Bad {
    size_t line;
    const char* error;
  };
  for (const Bad& b : {Bad{2, "is beyond the channel's DRAM"}, Bad{3, "no socket 5"},
                       Bad{4, "$.die: the key appears twice"}, Bad{5, "$.socket: missing"}}) {
    const Json j = Json::parse(lines[b.line]);
    EXPECT_EQ(j["ok"], false);
    EXPECT_NE(j["error"].get<std::string>().find(b.error), std::string::npos) << lines[b.line];
  }
  // The channel comes from each line, not from options.
  EXPECT_EQ(Exec("translate norm --input " + list + " --channel 1").exit, 2);
}

TEST(PlatsimBatch, InputThatIsNotAListStopsWithExitCode2) {
  TempDir dir;
  const auto nul = Exec("translate sys - < /dev/zero");
  EXPECT_EQ(nul.exit, 2);
  EXPECT_NE(nul.out.find("a NUL byte"), std::string::npos) << nul.out;
  const auto longLine = Exec("translate sys --input " +
                             dir.Write("long.txt", std::string(5000, '1') + "\n0x723456789\n"));
  EXPECT_EQ(longLine.exit, 2);
  EXPECT_EQ(Lines(longLine.out).size(), 3u) << longLine.out;  // and the platform
  EXPECT_NE(longLine.out.find("line 1: error: longer than 4096 characters"), std::string::npos);
  const auto both = Exec("--profile - translate sys - < /dev/null");
  EXPECT_EQ(both.exit, 2);
  EXPECT_NE(both.err.find("standard input cannot hold both"), std::string::npos) << both.err;
}

TEST(PlatsimBatch, DiagShowsEachLinesMessages) {
  TempDir dir;
  const auto r = Exec("--json --diag translate sys - < " +
                      dir.Write("list.txt", "0x723456789\n0x523456789\n"));
  ASSERT_EQ(r.exit, 0) << r.err;
  for (const auto& line : Lines(r.out)) {
    const Json j = Json::parse(line);
    ASSERT_TRUE(j["messages"].is_array()) << line;
    EXPECT_EQ(j["messages"][1], "calcNormAddr: csFabricId = 00000012");
  }
}

}  // namespace

namespace {

// The shipped example profiles: every DRAM address translates, with DRAM
// coordinates, and comes back. DRAM of both: [0, 3 GiB) and from 4 GiB up,
// 4 GiB per channel.
TEST(PlatsimExamples, EveryDramAddressOfTheExampleProfilesTranslates) {
  struct Example {
    const char* file;
    uint64_t dramAbove4G;  // bytes of DRAM above the hole
  };
  for (const Example& e : {Example{"raw-registers.json", (16ULL - 3) << 30},
                           Example{"one-socket-eight-channels.json", (32ULL - 3) << 30}}) {
    TempDir dir;
    std::mt19937_64 rng(7);
    std::ostringstream list;
    const uint64_t top = (4ULL << 30) + e.dramAbove4G;
    for (uint64_t a : {uint64_t{0}, uint64_t{(3ULL << 30) - 1}, uint64_t{4ULL << 30}, top - 1})
      list << a << "\n";
    for (int i = 0; i < 500; ++i) {
      const uint64_t a = rng() % ((3ULL << 30) + e.dramAbove4G);
      list << (a < (3ULL << 30) ? a : a + (1ULL << 30)) << "\n";
    }
    const std::string profile = platsim_test::Examples() + "/" + e.file;
    const auto r = Exec("--profile " + profile + " --json translate sys --input " +
                        dir.Write("list.txt", list.str()));
    EXPECT_EQ(r.exit, 0) << e.file << ": " << r.err;
    for (const auto& line : Lines(r.out)) {
      const Json j = Json::parse(line);
      ASSERT_EQ(j["ok"], true) << e.file << ": " << line;
      ASSERT_TRUE(j["dram"].is_object()) << e.file << ": " << line;
    }
    EXPECT_EQ(Exec("--profile " + profile + " translate sys " + std::to_string(top)).exit, 1);
  }
}

}  // namespace
