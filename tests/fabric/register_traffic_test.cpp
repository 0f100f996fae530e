// Which fabric registers each translation reads, on which node and instance,
// in which order: checked exactly through the simulator's trace.
#include "addr_translate/fabric/calc_norm_addr.h"
#include "addr_translate/fabric/calc_sys_addr.h"
#include "addr_translate/fabric/check_dram_hit.h"
#include "addr_translate/fabric/fabric_access.h"
#include "fabric_fixture.h"
#include "sim/topology/topology.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace {

using fabric_test::kBroadcast;
using fabric_test::RawFabric;
using fabric_test::ReadKeys;
using ::testing::ElementsAre;
using ::testing::ElementsAreArray;

TEST(ReadFabricRegister, OneStoreToTheAccessRegisterThenOneLoad) {
  RawFabric f;
  f.fabric.Set(1, 2, 0x90, 3, 0x2A);
  f.platform.trace.Clear();
  EXPECT_EQ(atd::readFabricRegister(1, 2, 0x90, 3), 0x2Au);
  EXPECT_THAT(f.platform.trace.Events(),
              ElementsAre(sim::MmioW(0xE00CC05C, 4, 0x00031091), sim::MmioR(0xE00CC098, 4, 0x2A)));
}

TEST(ReadFabricRegister, AllOnesInstanceIsABroadcastRead) {
  RawFabric f;
  f.fabric.Set(0, 0, 0x110, kBroadcast, 0x31);
  f.fabric.Set(0, 0, 0x110, 0xFE, 0x77);
  f.platform.trace.Clear();
  EXPECT_EQ(atd::readFabricRegister(0, 0, 0x110, 0xFFFFFFFF), 0x31u);
  EXPECT_EQ(f.platform.trace.Events()[0], sim::MmioW(0xE00C405C, 4, 0x00FF0110));
  // Nothing is cached: the next read goes to the hardware again.
  EXPECT_EQ(atd::readFabricRegister(0, 0, 0x110, 0xFFFFFFFF), 0x31u);
  EXPECT_EQ(f.platform.trace.Events().size(), 4u);
}

struct FourChannels : RawFabric {
  FourChannels() {
    CcmMap(0, 0x00000030, 0x0000F010);  // map 0 invalid: its limit is never read
    CcmMap(1, 0x00000031, 0x0000F010);
    for (uint16_t c = 0x10; c < 0x14; ++c) {
      CsFabricId(0, c, c);
      CsMap(0, c, 0, 0x00000031, 0x0000F010);
    }
  }
};

TEST(CheckDramHit, CombinedLayoutWithoutCcmReadsMapsByBroadcast) {
  FourChannels f;
  f.platform.trace.Clear();
  EXPECT_EQ(atd::checkDramHit(0x300), 0x13u);
  EXPECT_THAT(ReadKeys(f.platform), ElementsAre("n0 F1x208 bc", "n0 F0x040 bc", "n0 F0x110 bc",
                                                "n0 F0x118 bc", "n0 F0x11C bc", "n0 F1x208 bc"));
}

TEST(CheckDramHit, CcmIsTheFirstNonEmptyBlockOfTypeZero) {
  RawFabric f;
  f.fabric.Set(0, 0, 0x40, kBroadcast, 5);
  f.fabric.Set(0, 0, 0x44, 0, 0x4);   // a coherent slave
  f.fabric.Set(0, 0, 0x44, 1, 0x0);   // no block (type 0 but empty)
  f.fabric.Set(0, 0, 0x44, 2, 0x30);  // CCM
  f.fabric.Set(0, 0, 0x44, 3, 0x30);  // a second one is never looked at
  f.CcmMap(0, 0x00000001, 0x00000005, 2);
  f.platform.trace.Clear();
  EXPECT_EQ(atd::checkDramHit(0x1234), 0x5u);
  EXPECT_THAT(ReadKeys(f.platform),
              ElementsAre("n0 F1x208 bc", "n0 F0x040 bc", "n0 F0x044 i0", "n0 F0x044 i1",
                          "n0 F0x044 i2", "n0 F0x110 i2", "n0 F0x114 i2", "n0 F1x208 bc"));
  f.platform.trace.Clear();
  EXPECT_EQ(atd::checkDramHit(0x10000000), atd::kNoOwner);  // above the only map
  // 0x208, 0x40, three block reads, map 0 base and limit, fifteen invalid bases.
  EXPECT_EQ(ReadKeys(f.platform).size(), 2u + 3u + 2u + 15u);
}

// Two sockets, one die each, two plain channels, a second map: the owning
// slave's registers come through its own node's window.
sim::topology::Topology TwoNodes() {
  sim::topology::Topology t;
  t.layout = atd::FabricIdLayout::Extended;
  t.sockets = 2;
  t.diesPerSocket = 1;
  t.channelsPerDie = 2;
  t.channels = 2;
  t.hashed = false;
  t.channelSize = 1ULL << 30;
  t.holeBase = 0;
  t.highChannelSize = 1ULL << 30;
  return t;
}

TEST(CalcNormAddr, ReadsTheOwnersMapsThroughItsNode) {
  sim::Platform p;
  const auto x = sim::topology::Apply(TwoNodes(), p);
  // Map layout: socket 0 [0, 2G), socket 1 [2G, 4G), then the second maps.
  const uint64_t a = x.regions[3].base + 0x100;  // socket 1, map 1, channel 1
  p.trace.Clear();
  const NormalizedAddress n = atd::calcNormAddr(a);
  EXPECT_EQ(n.socketId, 1);
  EXPECT_EQ(n.channelId, 1);
  EXPECT_EQ(n.normalizedAddr, (1ULL << 30) + 0x0);
  const auto keys = ReadKeys(p);
  const std::vector<std::string> expected = {
      // fabric-id description
      "n0 F1x208 bc", "n0 F1x20C bc", "n0 F0x3F8 bc",
      // checkDramHit: CCM at instance 4 (two slaves, two empty slots)
      "n0 F1x208 bc", "n0 F0x040 bc", "n0 F0x044 i0", "n0 F0x044 i1", "n0 F0x044 i2",
      "n0 F0x044 i3", "n0 F0x044 i4", "n0 F0x3F8 bc", "n0 F0x110 i4", "n0 F0x114 i4",
      "n0 F0x118 i4", "n0 F0x11C i4", "n0 F0x120 i4", "n0 F0x124 i4", "n0 F0x128 i4",
      "n0 F0x12C i4", "n0 F1x20C bc",
      // the owner: node 1, instance 1
      "n1 F0x118 i1", "n1 F0x118 i1", "n1 F0x11C i1", "n1 F0x104 i1", "n1 F0x1B4 i1"};
  EXPECT_THAT(keys, ElementsAreArray(expected));
}

TEST(CalcSysAddr, ReadsTheChannelsRegistersThenNothingAfterAnInvalidMap) {
  sim::Platform p;
  const auto x = sim::topology::Apply(TwoNodes(), p);
  p.trace.Clear();
  EXPECT_EQ(atd::calcSysAddr((1ULL << 30) + 0x40, 1, 0, 1), x.regions[3].base + 0x140);
  EXPECT_THAT(ReadKeys(p),
              ElementsAre("n0 F1x208 bc", "n0 F1x20C bc", "n0 F0x3F8 bc", "n1 F0x050 i1",
                          "n1 F0x1B4 i1", "n1 F0x118 i1", "n1 F0x11C i1", "n1 F0x104 i1"));
  // A channel without DRAM: its map 0 base is not valid.
  sim::fabric::DataFabric::Of(p).Set(1, 0, 0x1B4, 1, 0);
  sim::fabric::DataFabric::Of(p).Set(1, 0, 0x110, 1, 0x30);
  p.trace.Clear();
  EXPECT_EQ(atd::calcSysAddr(0x40, 1, 0, 1), kInvalidAddress);
  EXPECT_THAT(ReadKeys(p),
              ElementsAre("n0 F1x208 bc", "n0 F1x20C bc", "n0 F0x3F8 bc", "n1 F0x050 i1",
                          "n1 F0x1B4 i1", "n1 F0x110 i1", "n1 F0x114 i1"));
}

TEST(CalcSysAddr, SixChannelReadsSizeBitsThenTheLogicalMapOfItsSocket) {
  sim::Platform p;
  sim::topology::Topology t;
  t.layout = atd::FabricIdLayout::Extended;
  t.sockets = 2;
  t.diesPerSocket = 1;
  t.channelsPerDie = 8;
  t.channels = 6;
  t.hashed = false;
  t.channelSize = 1ULL << 30;
  t.holeBase = 0;
  t.logicalChannelMap = {7, 1, 2, 3, 4, 5};
  sim::topology::Apply(t, p);
  p.trace.Clear();
  EXPECT_NE(atd::calcSysAddr(0x1000, 1, 0, 7), kInvalidAddress);
  EXPECT_THAT(
      ReadKeys(p),
      ElementsAre("n0 F1x208 bc", "n0 F1x20C bc", "n0 F0x3F8 bc", "n1 F0x050 i7", "n1 F0x1B4 i7",
                  "n1 F0x110 i7", "n1 F0x114 i7", "n1 F0x104 i7", "n1 F2x090 i7", "n0 F0x068 bc"));
}

}  // namespace
