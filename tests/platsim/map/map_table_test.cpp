// platsim map as a table and as JSON: the default platform's maps and
// channels, the second map of a channel, and the consistency check on
// register profiles built to have one defect each.
#include "tests/platsim/map/map_test_support.h"

#include <nlohmann/json.hpp>

#include <unistd.h>

namespace {

using maptest::ExecJoined;
using Json = nlohmann::json;

constexpr uint64_t kMiB = 1ULL << 20, kGiB = 1ULL << 30;

std::string Hex(uint64_t v) {
  char buf[24];
  std::snprintf(buf, sizeof buf, "0x%llX", static_cast<unsigned long long>(v));
  return buf;
}

class PlatsimMap : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(access(maptest::Platsim().c_str(), X_OK), 0) << "platsim not built";
  }
};

TEST_F(PlatsimMap, DefaultPlatformMapsAndChannels) {
  const auto r = maptest::Shell(maptest::Platsim() + " --json map");
  ASSERT_EQ(r.exit, 0) << r.out;
  const Json j = Json::parse(r.out);
  // Two sockets of two dies, four channels of 4 GiB each: a 16 GiB map per
  // die in socket-major order; the first grows by the 1 GiB hole at 3 GiB.
  ASSERT_EQ(j["maps"].size(), 4u);
  for (unsigned i = 0; i < 4; ++i) {
    const Json& m = j["maps"][i];
    const uint64_t base = i == 0 ? 0 : (17 + 16 * (i - 1)) * kGiB;
    const uint64_t end = (17 + 16 * i) * kGiB;
    EXPECT_EQ(m["base"], Hex(base)) << i;
    EXPECT_EQ(m["limit"], Hex(end - 1)) << i;
    EXPECT_EQ(m["holeEn"], i == 0) << i;
    EXPECT_EQ(m["chanIntlvCode"], 13) << i;
    EXPECT_EQ(m["numChanInterleaved"], 4) << i;
    EXPECT_EQ(m["hashed"], true) << i;
    EXPECT_EQ(m["intLvAddrBit"], 8) << i;
    EXPECT_EQ(m["interleaveBits"], Json({8, 12})) << i;  // the split rule: bit 8, then bit 12
    ASSERT_EQ(m["targets"].size(), 4u) << i;
    for (const Json& t : m["targets"]) {
      bool found = false;
      for (const Json& c : j["channels"]) {
        if (c["csFabricId"] != t) continue;
        found = true;
        EXPECT_EQ(c["socket"], i / 2) << t;
        EXPECT_EQ(c["die"], i % 2) << t;
      }
      EXPECT_TRUE(found) << t;
    }
  }
  EXPECT_EQ(j["hole"]["base"], "0xC0000000");
  ASSERT_EQ(j["channels"].size(), 16u);
  for (const Json& c : j["channels"]) {
    const unsigned socket = c["socket"], die = c["die"];
    ASSERT_EQ(c["normalized"].size(), 1u);
    EXPECT_EQ(c["normalized"][0]["map"], socket * 2 + die);
    EXPECT_EQ(c["normalized"][0]["first"], "0x0");
    EXPECT_EQ(c["normalized"][0]["last"], Hex(4 * kGiB - 1));
    // The table's slot (socket + die) * 8 + channel exists below 16 only.
    if (socket + die < 2)
      EXPECT_EQ(c["dimms"]["capacity"], Hex(4 * kGiB)) << c;
    else
      EXPECT_TRUE(c["dimms"].is_null()) << c;
  }
  EXPECT_TRUE(j["findings"].empty());

  const auto text = ExecJoined("map");
  EXPECT_EQ(text.exit, 0) << text.out;
  EXPECT_NE(text.out.find("0x000440000000-0x00083FFFFFFF  16 GiB"), std::string::npos) << text.out;
  EXPECT_NE(text.out.find("consistency check: no overlaps, no gaps"), std::string::npos);
}

TEST_F(PlatsimMap, SecondMapOfEachChannelStartsAtItsOffset) {
  // One die, two channels of 1 GiB in map 0 and 512 MiB each in map 1, whose
  // normalized addresses start at hiAddrOffset = the map-0 share.
  const std::string profile = maptest::WriteFile(
      "second.json",
      R"({"topology": {"sockets": 1, "diesPerSocket": 1, "channelsPerDie": 2, "channels": 2,
          "hashed": false, "channelSize": "0x40000000", "holeBase": 0,
          "highChannelSize": "0x20000000"}})");
  const auto r = maptest::Shell(maptest::Platsim() + " --json --profile " + profile + " map");
  ASSERT_EQ(r.exit, 0) << r.out;
  const Json j = Json::parse(r.out);
  ASSERT_EQ(j["maps"].size(), 2u);
  EXPECT_EQ(j["maps"][1]["base"], Hex(2 * kGiB));
  EXPECT_EQ(j["maps"][1]["limit"], Hex(3 * kGiB - 1));
  for (const Json& c : j["channels"]) {
    EXPECT_EQ(c["hiAddrOffset"], Hex(kGiB));
    EXPECT_EQ(c["hiAddrOffsetEnabled"], true);
    ASSERT_EQ(c["normalized"].size(), 2u) << c;
    EXPECT_EQ(c["normalized"][1]["first"], Hex(kGiB)) << c;
    EXPECT_EQ(c["normalized"][1]["last"], Hex(kGiB + 512 * kMiB - 1)) << c;
    EXPECT_EQ(c["ownMaps"][1]["map"], 1) << c;
  }
}

TEST_F(PlatsimMap, BadRequestsAreUsageErrors) {
  const struct {
    const char* args;
    const char* message;
  } cases[] = {
      {"map --svg x.svg --strip-map 9", "--strip-map 9: no such valid map"},
      {"map --svg /nonexistent-dir/x.svg", "cannot write /nonexistent-dir/x.svg"},
  };
  for (const auto& c : cases) {
    const auto r = ExecJoined(c.args);
    EXPECT_EQ(r.exit, 2) << c.args << "\n" << r.out;
    EXPECT_NE(r.out.find(c.message), std::string::npos) << r.out;
  }
}

// ---- consistency check on raw registers ----

// A DRAM map of the Combined layout: base register bit 0 valid, bits 7:4 the
// channel interleave code, bits 31:12 address bits 47:28; limit register
// bits 7:0 dstFabricId, bits 31:12 address bits 47:28 of its last 256 MiB.
struct RawMap {
  uint64_t base, end;  // [base, end)
  unsigned code, dst;
  uint32_t BaseReg() const { return 1u | code << 4 | static_cast<uint32_t>(base >> 28) << 12; }
  uint32_t LimitReg() const { return dst | static_cast<uint32_t>((end - 1) >> 28) << 12; }
};

struct RawChannel {
  unsigned instance;  // fabric id = instance (socket and die masks are 0)
  int own;            // index of the map its own map 0 registers hold; -1: none
};

std::string Reg(unsigned function, unsigned offset, int instance, uint32_t value) {
  char buf[160];
  std::snprintf(buf, sizeof buf,
                R"({"node": 0, "function": %u, "offset": "0x%X", "instance": %s, "value": "0x%X"})",
                function, offset, instance < 0 ? "\"broadcast\"" : std::to_string(instance).c_str(),
                value);
  return buf;
}

// No CCM block: the maps answer broadcast reads. `ccmMaps` of `maps` are the
// fabric's; the others exist only in channels' own registers.
std::string RawProfile(const std::vector<RawMap>& maps, size_t ccmMaps,
                       const std::vector<RawChannel>& channels) {
  std::vector<std::string> regs{Reg(1, 0x208, -1, 0)};  // Combined layout, one node
  for (size_t m = 0; m < ccmMaps; ++m) {
    regs.push_back(Reg(0, 0x110 + 8 * m, -1, maps[m].BaseReg()));
    regs.push_back(Reg(0, 0x114 + 8 * m, -1, maps[m].LimitReg()));
  }
  for (const RawChannel& c : channels) {
    regs.push_back(Reg(0, 0x50, c.instance, c.instance << 8));
    if (c.own < 0) continue;
    regs.push_back(Reg(0, 0x110, c.instance, maps[c.own].BaseReg()));
    regs.push_back(Reg(0, 0x114, c.instance, maps[c.own].LimitReg()));
  }
  std::string out = "{\"fabric\": [\n";
  for (size_t i = 0; i < regs.size(); ++i) out += (i ? ",\n" : "") + regs[i];
  return out + "]}\n";
}

struct CheckCase {
  const char* name;
  std::vector<RawMap> maps;
  size_t ccmMaps;
  std::vector<RawChannel> channels;
  int status;
  const char* expect;  // text of the (one) finding, or the summary
};

TEST_F(PlatsimMap, ConsistencyCheckFindsEachDefect) {
  // Two maps of two channels each (code 1: two channels from bit 8).
  const RawMap lo{0, kGiB, 1, 0}, hi{kGiB, 2 * kGiB, 1, 2};
  const std::vector<RawChannel> four{{0, 0}, {1, 0}, {2, 1}, {3, 1}};
  const CheckCase cases[] = {
      {"consistent", {lo, hi}, 2, four, 0, "consistency check: no overlaps, no gaps"},
      {"overlap",
       {lo, {512 * kMiB, 2 * kGiB, 1, 2}},
       2,
       four,
       1,
       "overlap: maps 0 and 1 both cover [0x0000000020000000, 0x000000003FFFFFFF] (512 MiB)"},
      {"gap",
       {lo, {1280 * kMiB, 2 * kGiB, 1, 2}},
       2,
       four,
       1,
       "gap: [0x0000000040000000, 0x000000004FFFFFFF] (256 MiB) is in no DRAM map"},
      {"channel without a map",
       {lo, hi, {2 * kGiB, 3 * kGiB, 0, 4}},
       2,
       {{0, 0}, {1, 0}, {2, 1}, {3, 1}, {4, 2}},
       1,
       "channel without a map: socket 0 die 0 channel 4 (csFabricId 0x4): no DRAM map sends "
       "addresses to it"},
      {"map without channels",
       {lo, hi},
       2,
       {{0, 0}, {1, 0}},
       1,
       "map without channels: map 1 [0x0000000040000000, 0x000000007FFFFFFF] sends addresses to "
       "csFabricId 0x2, 0x3, but no channel has that fabric id"},
      {"unpopulated channel",
       {lo, hi},
       2,
       {{0, 0}, {1, 0}, {2, 1}, {3, 1}, {4, -1}},
       0,
       "1 channel has neither DIMMs nor map registers"},
  };
  for (const CheckCase& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string file =
        maptest::WriteFile(std::string("check-") + std::to_string(&c - cases) + ".json",
                           RawProfile(c.maps, c.ccmMaps, c.channels));
    const auto r = ExecJoined("--profile " + file + " map");
    EXPECT_EQ(r.exit, c.status) << r.out;
    EXPECT_NE(r.out.find(c.expect), std::string::npos) << r.out;
    if (c.status != 0) {
      EXPECT_NE(r.out.find("consistency check: 1 finding\n"), std::string::npos) << r.out;
    }
  }
}

}  // namespace
