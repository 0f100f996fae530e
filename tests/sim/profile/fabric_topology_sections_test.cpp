// The "topology" and "fabric" profile sections: what they load, what a dump
// writes back, and the errors that name their JSON path.
#include "addr_translate/fabric/calc_norm_addr.h"
#include "addr_translate/fabric/calc_sys_addr.h"
#include "sim/fabric/data_fabric.h"
#include "sim/profile/profile.h"
#include "sim/topology/topology_profile.h"

#include <gtest/gtest.h>

namespace {

using sim::profile::Json;
using sim::profile::ProfileError;

std::string ErrorPath(const Json& profile) {
  sim::Platform p;
  try {
    sim::profile::Load(profile, p);
  } catch (const ProfileError& e) {
    return e.path;
  }
  return "(no error)";
}

TEST(FabricSection, RawRegistersDriveTheTranslations) {
  // The documented four-channel example, written as raw registers.
  const Json profile = Json::parse(R"({"fabric": [
      {"node": 0, "function": 1, "offset": "0x208", "instance": "broadcast", "value": 0},
      {"node": 0, "function": 0, "offset": "0x110", "instance": "broadcast", "value": "0x31"},
      {"node": 0, "function": 0, "offset": "0x114", "instance": "broadcast", "value": "0xF010"},
      {"node": 0, "function": 0, "offset": "0x50", "instance": 19, "value": "0x1300"},
      {"node": 0, "function": 0, "offset": "0x110", "instance": "0x13", "value": "0x31"},
      {"node": 0, "function": 0, "offset": "0x114", "instance": 19, "value": "0xF010"}]})");
  sim::Platform p;
  sim::profile::Load(profile, p);
  EXPECT_EQ(atd::calcNormAddr(0x12345).normalizedAddr, 0x4845u);
  EXPECT_EQ(atd::calcSysAddr(0x4845, 0, 0, 0x13), 0x12345u);
  EXPECT_EQ(sim::fabric::DataFabric::Of(p).Get({0, 0, 0x110, 19}), 0x31u);
}

TEST(FabricSection, WrongKeysAndValuesNameTheirPath) {
  struct Row {
    const char* json;
    const char* path;
  };
  const Row rows[] = {
      {R"({"fabric": {}})", "$.fabric"},
      {R"({"fabric": [{"node": 0, "function": 0, "offset": 0, "instance": 0, "value": 0, "x": 1}]})",
       "$.fabric[0].x"},
      {R"({"fabric": [{"node": 0, "function": 0, "offset": 0, "instance": 0}]})",
       "$.fabric[0].value"},
      {R"({"fabric": [{"node": 8, "function": 0, "offset": 0, "instance": 0, "value": 0}]})",
       "$.fabric[0].node"},
      {R"({"fabric": [{"node": 0, "function": 8, "offset": 0, "instance": 0, "value": 0}]})",
       "$.fabric[0].function"},
      {R"({"fabric": [{"node": 0, "function": 0, "offset": "0x112", "instance": 0, "value": 0}]})",
       "$.fabric[0].offset"},
      {R"({"fabric": [{"node": 0, "function": 0, "offset": "0x400", "instance": 0, "value": 0}]})",
       "$.fabric[0].offset"},
      {R"({"fabric": [{"node": 0, "function": 0, "offset": 0, "instance": 255, "value": 0}]})",
       "$.fabric[0].instance"},
      {R"({"fabric": [{"node": 0, "function": 0, "offset": 0, "instance": "all", "value": 0}]})",
       "$.fabric[0].instance"},
      {R"({"fabric": [{"node": 0, "function": 0, "offset": 0, "instance": 0, "value": "0x100000000"}]})",
       "$.fabric[0].value"},
      {R"({"fabric": [{"node": 0, "function": 0, "offset": 0, "instance": 0, "value": "12g"}]})",
       "$.fabric[0].value"},
      {R"({"fabrik": []})", "$.fabrik"},
  };
  for (const Row& r : rows) EXPECT_EQ(ErrorPath(Json::parse(r.json)), r.path) << r.json;
}

TEST(TopologySection, WrongKeysAndValuesNameTheirPath) {
  struct Row {
    const char* json;
    const char* path;
  };
  const Row rows[] = {
      {R"({"topology": {"socket": 2}})", "$.topology.socket"},
      {R"({"topology": {"layout": "mixed"}})", "$.topology.layout"},
      {R"({"topology": {"sockets": 3}})", "$.topology.sockets"},
      {R"({"topology": {"channels": 3}})", "$.topology.channels"},
      {R"({"topology": {"hashed": 1}})", "$.topology.hashed"},
      {R"({"topology": {"hashEnables": {"2M": "yes"}}})", "$.topology.hashEnables.2M"},
      {R"({"topology": {"hashEnables": {"4K": true}}})", "$.topology.hashEnables.4K"},
      {R"({"topology": {"sockets": 1, "socketInterleave": true}})", "$.topology.socketInterleave"},
      {R"({"topology": {"channelSize": "0x1000"}})", "$.topology.channelSize"},
      {R"({"topology": {"holeBase": "0x100000000"}})", "$.topology.holeBase"},
      {R"({"topology": {"intLvAddrSel": 4}})", "$.topology.intLvAddrSel"},
      {R"({"topology": {"channels": 6, "hashed": false, "diesPerSocket": 1, "channelsPerDie": 8,
           "channelSize": "0x40000000", "logicalChannelMap": [0, 1, 2, 3, 4, 9]}})",
       "$.topology.logicalChannelMap"},
      {R"({"topology": {"logicalChannelMap": [0, 1]}})", "$.topology.logicalChannelMap"},
      {R"({"topology": []})", "$.topology"},
  };
  for (const Row& r : rows) EXPECT_EQ(ErrorPath(Json::parse(r.json)), r.path) << r.json;
}

TEST(TopologySection, LeftOutKeysTakeTheDefaultPlatformsValues) {
  sim::Platform a, b;
  sim::profile::Load(Json::parse(R"({"topology": {"sockets": 1}})"), a);
  sim::topology::Topology t = sim::topology::Topology::Default();
  t.sockets = 1;
  sim::topology::Apply(t, b);
  EXPECT_EQ(sim::fabric::DataFabric::Of(a).Registers(), sim::fabric::DataFabric::Of(b).Registers());
}

TEST(ProfileDump, TheExpandedDefaultReloadsToTheSameRegisters) {
  sim::Platform first;
  sim::profile::Load(sim::profile::Default(), first);
  const Json dumped = sim::profile::Dump(first);
  ASSERT_TRUE(dumped.contains("topology"));
  ASSERT_TRUE(dumped.contains("fabric"));
  EXPECT_EQ(dumped["fabric"].size(), sim::fabric::DataFabric::Of(first).Registers().size());

  // Raw registers alone give the same platform.
  Json rawOnly = Json::object();
  rawOnly["fabric"] = dumped["fabric"];
  sim::Platform second;
  sim::profile::Load(rawOnly, second);
  EXPECT_EQ(sim::fabric::DataFabric::Of(second).Registers(),
            sim::fabric::DataFabric::Of(first).Registers());
  EXPECT_EQ(sim::profile::Dump(second)["fabric"], dumped["fabric"]);
}

TEST(ProfileDump, RawRegistersOverrideTheTopology) {
  sim::Platform p;
  sim::profile::Load(Json::parse(R"({"topology": {},
      "fabric": [{"node": 0, "function": 0, "offset": "0x104", "instance": 6, "value": "0xD0000001"}]})"),
                     p);
  EXPECT_EQ(sim::fabric::DataFabric::Of(p).Get({0, 0, 0x104, 6}), 0xD0000001u);
}

}  // namespace
