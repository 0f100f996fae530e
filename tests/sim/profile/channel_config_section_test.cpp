// The profile section "channelConfig": fields by name and index, raw bytes,
// channel geometries, its dump, and errors that name their JSON path.
#include "tests/dram/dram_test_support.h"

#include "sim/dram/channel_config_profile.h"
#include "sim/dram/channel_config_store.h"
#include "sim/dram/channel_geometry.h"
#include "sim/dram/dimm_info.h"
#include "sim/profile/profile.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

using sim::profile::Json;

uint32_t Word(const atd::ChannelConfigTable& t, size_t offset) {
  uint32_t w;
  std::memcpy(&w, reinterpret_cast<const uint8_t*>(&t) + offset, 4);
  return w;
}

TEST(ChannelConfigProfile, FieldsLandAtTheirOffsetsAndEverythingElseIsZero) {
  sim::Platform p;
  sim::profile::Load(Json::parse(R"({"channelConfig": {"fields": {
      "csPresent[11]": 5,
      "bankHashCtl[2][5]": "0x1234",
      "csHashCtl[3][1]": "0x80000001",
      "rmHashCtl[15][2]": 7,
      "csBase[1][3]": "0x400000",
      "csBaseSec[2][0]": 1,
      "csMask[4][1]": 2,
      "csMaskSec[5][0]": 3,
      "addrCfg[6][1]": "0x3000051",
      "bankAddrSel[7][0]": 4,
      "rowAddrSel[8][1]": 5,
      "colAddrSelLo[9][0]": 6,
      "colAddrSelHi[10][1]": 7,
      "rmAddrSel[12][0]": 8,
      "rmAddrSelSec[13][1]": 9,
      "bankHashBits[4]": 1}}})"),
                     p);
  const atd::ChannelConfigTable& t = sim::dram::ChannelConfigOf(p);
  const auto* bytes = reinterpret_cast<const uint8_t*>(&t);
  const std::vector<std::pair<size_t, uint32_t>> words = {
      {0x020 + 0x80 + 5 * 4, 0x1234}, {0x1E0 + (3 * 2 + 1) * 4, 0x80000001},
      {0x260 + (15 * 3 + 2) * 4, 7},  {0x320 + (1 * 4 + 3) * 4, 0x400000},
      {0x420 + (2 * 4 + 0) * 4, 1},   {0x520 + (4 * 2 + 1) * 4, 2},
      {0x5A0 + (5 * 2 + 0) * 4, 3},   {0x620 + (6 * 4 + 1) * 4, 0x3000051},
      {0x720 + (7 * 2 + 0) * 4, 4},   {0x7A0 + (8 * 2 + 1) * 4, 5},
      {0x820 + (9 * 2 + 0) * 4, 6},   {0x8A0 + (10 * 2 + 1) * 4, 7},
      {0x920 + (12 * 2 + 0) * 4, 8},  {0x9A0 + (13 * 2 + 1) * 4, 9},
  };
  std::vector<bool> expected(sizeof t, false);
  for (const auto& [off, v] : words) {
    EXPECT_EQ(Word(t, off), v) << std::hex << off;
    for (size_t i = 0; i < 4; ++i) expected[off + i] = true;
  }
  EXPECT_EQ(bytes[0x010 + 11], 5);
  EXPECT_EQ(bytes[0xDE0 + 4], 1);
  expected[0x010 + 11] = expected[0xDE0 + 4] = true;
  for (size_t i = 0; i < sizeof t; ++i)
    if (!expected[i]) {
      ASSERT_EQ(bytes[i], 0) << std::hex << "offset 0x" << i;
    }
}

TEST(ChannelConfigProfile, RawBytesThenGeometryThenFieldsOverride) {
  sim::Platform p;
  std::string raw(2 * sizeof(atd::ChannelConfigTable), '0');
  raw[0] = 'A';              // byte 0 (not used by the translation) = 0xA0
  raw[2 * 0xDE0 + 1] = '1';  // bankHashBits[0] = 1
  Json j = Json::parse(R"({"channelConfig": {"channels": [
      {"socket": 0, "die": 0, "channel": 2, "capacity": "0x400000000"}],
      "fields": {"csPresent[2]": 1}}})");
  j["channelConfig"]["raw"] = raw;
  sim::profile::Load(j, p);
  const atd::ChannelConfigTable& t = sim::dram::ChannelConfigOf(p);
  EXPECT_EQ(t.notUsed0[0], 0xA0);
  EXPECT_EQ(t.bankHashBits[0], 1);
  auto want = dramtest::NewTable();
  want->notUsed0[0] = 0xA0;
  want->bankHashBits[0] = 1;
  sim::dram::BuildChannelGeometry(*want, sim::dram::DefaultGeometry(0, 0, 2, 16ULL << 30));
  want->csPresent[2] = 1;
  EXPECT_EQ(std::memcmp(&t, want.get(), sizeof t), 0);
}

TEST(ChannelConfigProfile, ShapedGeometryExpandsLikeTheBuilder) {
  sim::Platform p;
  sim::profile::Load(Json::parse(R"({"channelConfig": {"channels": [
      {"socket": 1, "die": 0, "channel": 3, "chipSelects": 4, "bankBits": 5, "rowBits": 14,
       "rowHiBits": 2, "colBits": 10, "rmBits": 1, "csSelectBits": [9, 12],
       "range": "both", "rowInversion": [1, 2], "csHash": true, "bankHash": true,
       "rmHash": true, "hashSeed": 77}]}})"),
                     p);
  sim::dram::ChannelGeometry g;
  g.socket = 1;
  g.channel = 3;
  g.chipSelects = 4;
  g.bankBits = 5;
  g.rowBits = 14;
  g.rowHiBits = 2;
  g.colBits = 10;
  g.rmBits = 1;
  g.csSelectBits = {9, 12};
  g.range = sim::dram::CsRange::Both;
  g.rowInvEven = 1;
  g.rowInvOdd = 2;
  g.csHash = g.bankHash = g.rmHash = true;
  g.hashSeed = 77;
  auto want = dramtest::NewTable();
  sim::dram::BuildChannelGeometry(*want, g);
  EXPECT_EQ(std::memcmp(&sim::dram::ChannelConfigOf(p), want.get(), sizeof *want), 0);
}

TEST(ChannelConfigProfile, DumpLoadsBackToTheSameBytes) {
  sim::Platform p;
  sim::profile::Load(Json::parse(R"({"channelConfig": {"channels": [
      {"socket": 0, "die": 0, "channel": 0, "capacity": "0x400000000", "bankHash": true},
      {"socket": 0, "die": 1, "channel": 1, "capacity": "0xC0000000"}],
      "fields": {"bankHashBits[1]": 1}}})"),
                     p);
  const Json dumped = sim::profile::Dump(p);
  ASSERT_TRUE(dumped.contains("channelConfig"));
  EXPECT_FALSE(dumped["channelConfig"].contains("raw"));
  EXPECT_EQ(dumped["channelConfig"]["fields"]["csPresent[9]"], "0x7");
  sim::Platform q;
  sim::profile::Load(dumped, q);
  EXPECT_EQ(std::memcmp(&sim::dram::ChannelConfigOf(p), &sim::dram::ChannelConfigOf(q),
                        sizeof(atd::ChannelConfigTable)),
            0);

  // Bytes outside the named fields survive only in the raw form.
  sim::dram::ChannelConfigOf(p).notUsed2[5] = 0x42;
  const Json withRaw = sim::profile::Dump(p);
  ASSERT_TRUE(withRaw["channelConfig"].contains("raw"));
  sim::Platform r;
  sim::profile::Load(withRaw, r);
  EXPECT_EQ(std::memcmp(&sim::dram::ChannelConfigOf(p), &sim::dram::ChannelConfigOf(r),
                        sizeof(atd::ChannelConfigTable)),
            0);
}

TEST(ChannelConfigProfile, AppliesOnTopOfSlotsTheTopologyBuilderFilled) {
  sim::Platform p;
  sim::dram::BuildChannelConfig(sim::dram::ChannelConfigOf(p), {{0, 0, 4, 8ULL << 30}});
  auto want = dramtest::NewTable();
  std::memcpy(want.get(), &sim::dram::ChannelConfigOf(p), sizeof *want);
  sim::profile::Load(Json::parse(R"({"channelConfig": {"fields": {"csHashCtl[4][0]": "0x11"}}})"),
                     p);
  want->csHashCtl[4][0] = 0x11;
  EXPECT_EQ(std::memcmp(&sim::dram::ChannelConfigOf(p), want.get(), sizeof *want), 0);
}

TEST(ChannelConfigProfile, BankGroupBitsAndDimmLabelsLoadAndDumpBack) {
  sim::Platform p;
  sim::profile::Load(Json::parse(R"({"channelConfig": {"channels": [
      {"socket": 0, "die": 1, "channel": 2, "capacity": "0x400000000", "bankGroupBits": 1}]},
      "dimms": [{"socket": 0, "die": 1, "channel": 2, "dimm": 1, "label": "B2", "part": "P"},
                {"socket": 0, "die": 1, "channel": 2, "chipSelect": 3, "label": "B2-r1"}]})"),
                     p);
  for (sim::Platform* q : {&p, static_cast<sim::Platform*>(nullptr)}) {
    sim::Platform back;
    if (!q) {
      sim::profile::Load(sim::profile::Dump(p), back);
      q = &back;
    }
    const sim::dram::DimmInfo& info = sim::dram::DimmInfoOf(*q);
    // Slot (0 + 1) * 8 + 2 = 10 has 1 group bit; other slots bankBits - 2.
    EXPECT_EQ(sim::dram::BankGroupBits(info, 10, 4), 1u);
    EXPECT_EQ(sim::dram::BankGroupBits(info, 0, 4), 2u);
    EXPECT_EQ(sim::dram::BankGroupBits(info, 0, 5), 3u);
    // Chip select 3's own entry wins over its DIMM's (chip selects 2, 3).
    const auto* cs2 = sim::dram::FindDimmLabel(info, 0, 1, 2, 2);
    const auto* cs3 = sim::dram::FindDimmLabel(info, 0, 1, 2, 3);
    ASSERT_TRUE(cs2 && cs3);
    EXPECT_EQ(cs2->label, "B2");
    EXPECT_EQ(cs2->part, "P");
    EXPECT_EQ(cs3->label, "B2-r1");
    EXPECT_EQ(sim::dram::FindDimmLabel(info, 0, 1, 2, 1), nullptr);
  }
  for (const char* bad :
       {R"({"dimms": [{"socket": 0, "die": 0, "channel": 0, "label": "x"}]})",
        R"({"dimms": [{"socket": 0, "die": 0, "channel": 0, "dimm": 0}]})", R"({"dimms": {}})"}) {
    sim::Platform q;
    EXPECT_THROW(sim::profile::Load(Json::parse(bad), q), sim::profile::ProfileError) << bad;
  }
}

TEST(ChannelConfigProfile, EmptyTableIsNotDumped) {
  sim::Platform p;
  EXPECT_FALSE(sim::profile::Dump(p).contains("channelConfig"));
}

struct BadProfile {
  const char* name;
  const char* json;
  const char* path;
  const char* says;
};

const BadProfile kBad[] = {
    {"UnknownKey", R"({"geometry": []})", "$.channelConfig.geometry", "unknown key"},
    {"UnknownField", R"({"fields": {"csBass[0][0]": 1}})", "$.channelConfig.fields.csBass[0][0]",
     "unknown table field"},
    {"MissingIndex", R"({"fields": {"csBase[0]": 1}})", "$.channelConfig.fields.csBase[0]",
     "takes 2 indexes"},
    {"SlotIndexTooLarge", R"({"fields": {"csBase[16][0]": 1}})",
     "$.channelConfig.fields.csBase[16][0]", "index 16 beyond 15"},
    {"ChipSelectIndexTooLarge", R"({"fields": {"csMask[0][2]": 1}})",
     "$.channelConfig.fields.csMask[0][2]", "index 2 beyond 1"},
    {"ByteFieldTooLarge", R"({"fields": {"csPresent[0]": 256}})",
     "$.channelConfig.fields.csPresent[0]", "above the maximum"},
    {"WordTooLarge", R"({"fields": {"addrCfg[0][0]": "0x100000000"}})",
     "$.channelConfig.fields.addrCfg[0][0]", "above the maximum"},
    {"MalformedIndex", R"({"fields": {"csBase[a][0]": 1}})", "$.channelConfig.fields.csBase[a][0]",
     "malformed index"},
    {"RawTooShort", R"({"raw": "00"})", "$.channelConfig.raw", "found 2 hex digits"},
    {"RawNotHex", R"({"raw": "0G"})", "$.channelConfig.raw", "not a hex digit"},
    {"ChannelsNotArray", R"({"channels": {}})", "$.channelConfig.channels", "expected an array"},
    {"ChannelWithoutSocket", R"({"channels": [{"die": 0, "channel": 0, "capacity": 1073741824}]})",
     "$.channelConfig.channels[0].socket", "missing"},
    {"ChannelWithoutCapacityOrShape", R"({"channels": [{"socket": 0, "die": 0, "channel": 0}]})",
     "$.channelConfig.channels[0].capacity", "missing"},
    {"CapacityNotBuildable",
     R"({"channels": [{"socket": 0, "die": 0, "channel": 0, "capacity": "0x50000000"}]})",
     "$.channelConfig.channels[0]", "neither a power of two"},
    {"CapacityDisagreesWithShape",
     R"({"channels": [{"socket": 0, "die": 0, "channel": 0, "capacity": 4096, "rowBits": 12}]})",
     "$.channelConfig.channels[0].capacity", "the geometry covers"},
    {"ShapeRefused",
     R"({"channels": [{"socket": 0, "die": 0, "channel": 0, "chipSelects": 3, "csHash": true}]})",
     "$.channelConfig.channels[0]", "needs 2 or 4 chip selects"},
    {"SlotTakenTwice",
     R"({"channels": [{"socket": 1, "die": 0, "channel": 0, "capacity": 1073741824},
                      {"socket": 0, "die": 1, "channel": 0, "capacity": 1073741824}]})",
     "$.channelConfig.channels[1]", "uses channel slot 8 like $.channelConfig.channels[0]"},
    {"BadRange",
     R"({"channels": [{"socket": 0, "die": 0, "channel": 0, "capacity": 1073741824, "range": "third"}]})",
     "$.channelConfig.channels[0].range", "expected \"primary\""},
    {"BadInversion",
     R"({"channels": [{"socket": 0, "die": 0, "channel": 0, "capacity": 1073741824, "rowInversion": [4, 0]}]})",
     "$.channelConfig.channels[0].rowInversion[0]", "above the maximum"},
    {"BankGroupBitsAboveBankBits",
     R"({"channels": [{"socket": 0, "die": 0, "channel": 0, "capacity": 1073741824, "bankGroupBits": 5}]})",
     "$.channelConfig.channels[0].bankGroupBits", "above the maximum"},
    {"BankGroupSlotBeyondTable", R"({"bankGroupBits": {"16": 2}})",
     "$.channelConfig.bankGroupBits.16", "above the maximum"},
    {"BadFlag",
     R"({"channels": [{"socket": 0, "die": 0, "channel": 0, "capacity": 1073741824, "csHash": 1}]})",
     "$.channelConfig.channels[0].csHash", "expected true or false"},
};

void PrintTo(const BadProfile& b, std::ostream* os) {
  *os << b.name;
}

class ChannelConfigProfileError : public ::testing::TestWithParam<BadProfile> {};

TEST_P(ChannelConfigProfileError, NamesThePath) {
  sim::Platform p;
  Json j = Json::object();
  j["channelConfig"] = Json::parse(GetParam().json);
  try {
    sim::profile::Load(j, p);
    FAIL() << "accepted";
  } catch (const sim::profile::ProfileError& e) {
    EXPECT_EQ(e.path, GetParam().path) << e.what();
    EXPECT_NE(std::string(e.what()).find(GetParam().says), std::string::npos) << e.what();
  }
}

INSTANTIATE_TEST_SUITE_P(Dram, ChannelConfigProfileError, ::testing::ValuesIn(kBad),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
