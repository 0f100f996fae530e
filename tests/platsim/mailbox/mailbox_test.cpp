// platsim mailbox as a user runs it: output, JSON and errors.
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <array>
#include <cstdio>
#include <filesystem>
#include <string>

namespace {

struct CliRun {
  int status;
  std::string out;
};

CliRun Platsim(const std::string& args) {
  const std::string exe = std::string(TIV_BINARY_DIR) + "/tools/platsim/platsim";
  if (!std::filesystem::exists(exe)) return {-1, ""};
  FILE* f = popen((exe + " " + args + " 2>&1").c_str(), "r");
  std::string out;
  std::array<char, 4096> buf;
  while (size_t n = fread(buf.data(), 1, buf.size(), f)) out.append(buf.data(), n);
  const int rc = pclose(f);
  return {WIFEXITED(rc) ? WEXITSTATUS(rc) : -1, out};
}

#define REQUIRE_PLATSIM(r) ASSERT_NE((r).status, -1) << "platsim is not built"

TEST(PlatsimMailbox, SetShowsTokensSetupBytesPostCodesAndMailbox) {
  const CliRun r = Platsim("--json mailbox set tREFI 0x123");
  REQUIRE_PLATSIM(r);
  ASSERT_EQ(r.status, 0) << r.out;
  const auto j = nlohmann::json::parse(r.out);
  EXPECT_EQ(j["command"], "0x4000");
  EXPECT_EQ(j["status"], "EFI_SUCCESS");
  ASSERT_EQ(j["tokens"].size(), 2u);
  EXPECT_EQ(j["tokens"][0]["item"], 44);
  EXPECT_EQ(j["tokens"][1]["token"], "0x1A82F1F6");
  EXPECT_EQ(j["tokens"][1]["value"], "0x0123");
  const auto want = nlohmann::json::parse(R"([
    {"offset": "0x0E6", "before": "0x00", "after": "0x01"},
    {"offset": "0x0F7", "before": "0x00", "after": "0x01"},
    {"offset": "0x0F8", "before": "0x00", "after": "0x23"},
    {"offset": "0x0F9", "before": "0x00", "after": "0x01"}])");
  EXPECT_EQ(j["setupChanges"], want);
  EXPECT_EQ(j["postCodes"],
            nlohmann::json::parse(R"(["0xD1","0xD2","0xE0","0xF4","0xF7","0xF8"])"));
  EXPECT_EQ(j["mailbox"]["Sequence"], "0x0101");
  EXPECT_EQ(j["fields"]["tREFI"], 0x123);
}

TEST(PlatsimMailbox, ReadNamesEveryField) {
  const CliRun r = Platsim("mailbox read");
  REQUIRE_PLATSIM(r);
  ASSERT_EQ(r.status, 0) << r.out;
  EXPECT_NE(r.out.find("0x14  MemClock      1600 MHz"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("tRFC4         256 clocks"), std::string::npos);
  EXPECT_NE(r.out.find("POST codes: D1 D2 D3"), std::string::npos);
}

TEST(PlatsimMailbox, BadInputIsAClearError) {
  struct Case {
    const char* args;
    const char* message;
  };
  const Case cases[] = {
      {"mailbox set tcl 0x100",
       "platsim: error: value 0x100 does not fit the 1-byte field tCL (at most 0xFF)"},
      {"mailbox set nosuch 1", "platsim: error: unknown command 'nosuch'"},
      {"mailbox set 0x100000000 1", "platsim: error: command: above 0xFFFFFFFF"},
      {"mailbox set tcl x1", "platsim: error: value: not a number: 'x1'"},
  };
  for (const auto& c : cases) {
    const CliRun r = Platsim(c.args);
    REQUIRE_PLATSIM(r);
    EXPECT_EQ(r.status, 2) << c.args;
    EXPECT_EQ(r.out.rfind(c.message, 0), 0u) << r.out;
  }
}

}  // namespace
