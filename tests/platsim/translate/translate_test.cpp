// platsim translate from the outside: output, --json, and what bad input does
// (message and exit code). Needs the platsim program of this build.
#include "tests/platsim/platsim_run.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <unistd.h>

namespace {

using Outcome = platsim_test::Run;
using platsim_test::ExecJoined;
using platsim_test::Platsim;

class PlatsimTranslate : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(access(Platsim().c_str(), X_OK), 0) << "platsim not built: " << Platsim();
  }
};

TEST_F(PlatsimTranslate, BothDirectionsOnTheDefaultPlatform) {
  const Outcome sys = ExecJoined("translate sys 0x723456789");
  EXPECT_EQ(sys.exit, 0) << sys.out;
  EXPECT_NE(sys.out.find("socket 0, die 1, channel 2"), std::string::npos) << sys.out;
  EXPECT_NE(sys.out.find("normalized address  0x00000000B8D15B89"), std::string::npos) << sys.out;
  const Outcome norm = ExecJoined("translate norm 0xB8D15B89 --socket 0 --die 1 --channel 2");
  EXPECT_EQ(norm.exit, 0) << norm.out;
  EXPECT_NE(norm.out.find("system address      0x0000000723456789"), std::string::npos) << norm.out;
}

// The text after `label` on its line.
std::string Field(const std::string& out, const std::string& label) {
  const size_t at = out.find(label);
  if (at == std::string::npos) return "";
  const size_t from = at + label.size();
  return out.substr(from, out.find('\n', from) - from);
}

size_t Count(const std::string& out, const std::string& what) {
  size_t n = 0;
  for (size_t at = out.find(what); at != std::string::npos; at = out.find(what, at + 1)) ++n;
  return n;
}

TEST_F(PlatsimTranslate, BothDirectionsShowTheSameDramCoordinates) {
  const Outcome sys = ExecJoined("translate sys 0x723456789");
  ASSERT_EQ(sys.exit, 0) << sys.out;
  const std::string dram = Field(sys.out, "DRAM                ");
  EXPECT_EQ(dram.rfind("chip select ", 0), 0u) << sys.out;
  EXPECT_NE(dram.find(", rank multiplier "), std::string::npos) << sys.out;
  EXPECT_EQ(sys.out.find("DRAM back"), std::string::npos) << sys.out;  // slot 1 agrees
  const Outcome norm = ExecJoined("translate norm 0xB8D15B89 --socket 0 --die 1 --channel 2");
  ASSERT_EQ(norm.exit, 0) << norm.out;
  EXPECT_EQ(Field(norm.out, "DRAM                "), dram) << norm.out;

  const Outcome js = ExecJoined("--json translate sys 0x723456789");
  ASSERT_EQ(js.exit, 0) << js.out;
  EXPECT_NE(js.out.find("\"dram\": {\n    \"chipSelect\": "), std::string::npos) << js.out;
  EXPECT_NE(js.out.find("\"dramBack\": {"), std::string::npos) << js.out;
  const Outcome jn = ExecJoined("--json translate norm 0xB8D15B89 --socket 0 --die 1 --channel 2");
  ASSERT_EQ(jn.exit, 0) << jn.out;
  const auto block = [](const std::string& out, const std::string& key) {
    const size_t at = out.find("\"" + key + "\": {");
    return at == std::string::npos ? std::string() : out.substr(at, out.find('}', at) - at);
  };
  EXPECT_FALSE(block(jn.out, "dram").empty()) << jn.out;
  EXPECT_EQ(block(jn.out, "dram"), block(js.out, "dram"));
}

TEST_F(PlatsimTranslate, ChannelWithoutATableSlotIsNamed) {
  // Socket 1 die 1 of the default platform: slot (1 + 1) * 8 + 0.
  const Outcome r = ExecJoined("translate norm 0x100 --socket 1 --die 1 --channel 0");
  EXPECT_EQ(r.exit, 0) << r.out;
  EXPECT_NE(r.out.find("channel slot 16 is beyond the 16 slots"), std::string::npos) << r.out;
  const Outcome in = ExecJoined("translate norm 0x100 --socket 0 --die 1 --channel 0");
  EXPECT_EQ(in.out.find("beyond the 16 slots"), std::string::npos) << in.out;
}

TEST_F(PlatsimTranslate, DiagShowsEachDriverMessageOnceAsItReachesTheUart) {
  const Outcome r = ExecJoined("--diag translate sys 0x723456789");
  ASSERT_EQ(r.exit, 0) << r.out;
  const size_t heading = r.out.find("driver messages at the UART (0x3F8):\n");
  const size_t result = r.out.find("system address      ");
  ASSERT_NE(heading, std::string::npos) << r.out;
  EXPECT_LT(heading, result) << r.out;  // shown while translating, before the result
  // Slot 2 (fabric, then DRAM) and slot 1 (DRAM, then fabric), each line once.
  EXPECT_EQ(Count(r.out, "\ncalcNormAddr: csFabricId = 00000012\n"), 1u) << r.out;
  EXPECT_EQ(Count(r.out, "\ncalcSysAddr: deIntLvAddr = 0x0000000723456789\n"), 1u) << r.out;
  EXPECT_EQ(Count(r.out, "\ntranslate_norm_to_dram_addr: "), 4u) << r.out;
  EXPECT_EQ(r.out.find('\r'), std::string::npos);

  const Outcome js = ExecJoined("--json --diag translate sys 0x723456789");
  ASSERT_EQ(js.exit, 0) << js.out;
  EXPECT_EQ(js.out.rfind("{", 0), 0u) << js.out;  // nothing printed around the JSON
  EXPECT_NE(js.out.find("\"messages\": [\n    \"checkDramHit: ccmInstanceId = "), std::string::npos)
      << js.out;
  EXPECT_EQ(Count(js.out, "\"calcNormAddr: csFabricId = 00000012\""), 1u) << js.out;

  // Without --diag or --trace the messages stay out of the output.
  const Outcome quiet = ExecJoined("translate sys 0x723456789");
  EXPECT_EQ(quiet.out.find("calcNormAddr"), std::string::npos) << quiet.out;
}

TEST_F(PlatsimTranslate, JsonAndTrace) {
  const Outcome r = ExecJoined("--json translate sys 0x1000 --trace");
  EXPECT_EQ(r.exit, 0) << r.out;
  EXPECT_NE(r.out.find("\"normalizedAddress\": \"0x0000000000000000\""), std::string::npos)
      << r.out;
  EXPECT_NE(r.out.find("\"channel\": 2"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("\"register\": \"SystemFabricIdMask0\""), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("\"messages\""), std::string::npos) << r.out;
}

// Exit code 2: the request is not usable; 1: the firmware refused, or its
// answer does not hold (checked against the channel's size and the way back).
TEST_F(PlatsimTranslate, BadInputAndWrongAnswersEndWithAMessageAndTheirExitCode) {
  struct Row {
    const char* args;
    int exit;
    const char* message;
  };
  const Row rows[] = {
      {"translate sys zz", 2, "not a number"},
      {"translate sys 0x1 --bogus", 2, "--bogus"},
      {"translate sys 0x1000000000000", 1, "is not DRAM"},
      {"translate sys 0xC0000000", 1, "MMIO hole"},
      {"translate norm 0x100 --channel 4", 2, "no channel 4"},
      {"translate norm 0x100 --socket 2 --channel 0", 2, "no socket 2"},
      {"translate norm 0x100 --die 7 --channel 0", 2, "no die 7"},
      {"translate norm 0x100", 2, "--channel is required"},
      {"translate norm 0x100 --channel 99999999999999999999", 2, "out of range"},
      // 4 GiB per channel: normalized addresses 0 to 0xFFFFFFFF.
      {"translate norm 0x1000000000 --channel 1", 1,
       "is beyond the channel's DRAM: its normalized addresses are "
       "0x0000000000000000-0x00000000FFFFFFFF (4 GiB)"},
      {"translate norm 0xFFFFFFFFFFFFFFFF --channel 0", 1, "is beyond the channel's DRAM"},
      {"translate norm 0x8000000000000000 --channel 0", 1, "is beyond the channel's DRAM"},
      {"translate norm 0x100000000 --channel 0", 1, "is beyond the channel's DRAM"},
  };
  for (const Row& r : rows) {
    const Outcome run = ExecJoined(r.args);
    EXPECT_EQ(run.exit, r.exit) << r.args << "\n" << run.out;
    EXPECT_NE(run.out.find(r.message), std::string::npos) << r.args << "\n" << run.out;
  }
  // The last normalized address of a channel is still answered.
  EXPECT_EQ(ExecJoined("translate norm 0xFFFFFFFF --channel 0").exit, 0);
}

}  // namespace
