// Edge cases of the three translations on hand-built registers.
#include "addr_translate/fabric/calc_norm_addr.h"
#include "addr_translate/fabric/calc_sys_addr.h"
#include "addr_translate/fabric/check_dram_hit.h"
#include "addr_translate/fabric/fabric_decode.h"
#include "fabric_fixture.h"

#include <gmock/gmock.h>
#include <cstring>
#include <gtest/gtest.h>

namespace {

using fabric_test::FatalStopCodes;
using fabric_test::kBroadcast;
using fabric_test::RawFabric;

// ---- checkDramHit -------------------------------------------------------------

TEST(CheckDramHitEdges, MapChoice) {
  struct Row {
    const char* what;
    uint32_t base0, limit0, base1, limit1;
    uint64_t address;
    uint32_t owner;
  };
  const Row rows[] = {
      {"the limit itself hits", 0x1, 0x1007, 0, 0, 0x1FFFFFFF, 0x7},
      {"one byte above misses", 0x1, 0x1007, 0, 0, 0x20000000, atd::kNoOwner},
      {"one byte above, a later map", 0x1, 0x1007, 0x2001, 0x3009, 0x20000000, 0x9},
      {"an invalid map is skipped", 0x0, 0x1007, 0x1, 0x1009, 0x100, 0x9},
      {"overlap: the lower map wins", 0x1, 0x1007, 0x1, 0x1009, 0x100, 0x7},
      {"base inclusive", 0x1001, 0x2007, 0, 0, 0x10000000, 0x7},
      {"below the base", 0x1001, 0x2007, 0, 0, 0x0FFFFFFF, atd::kNoOwner},
  };
  for (const Row& r : rows) {
    RawFabric f;
    f.CcmMap(0, r.base0, r.limit0);
    f.CcmMap(1, r.base1, r.limit1);
    EXPECT_EQ(atd::checkDramHit(r.address), r.owner) << r.what;
  }
}

TEST(CheckDramHitEdges, ChannelOffsetsOfEachCode) {
  // Combined layout, die at bit 5 (dieMask 0x20), socket at bit 6 (0x40).
  struct Row {
    const char* what;
    uint32_t base, limit;
    uint64_t address;
    uint32_t owner;
  };
  const Row rows[] = {
      {"code 7: one channel, die bit only", 0x71, 0x0410, 0x1E00, 0x10},
      {"code 7 with die interleave", 0x71, 0x0410, 0x0100, 0x30},
      {"code 8: one channel", 0x81, 0x0010, 0x0F00, 0x10},
      {"code 12, all hashes: 0x4000", 0xC1, 0x0010, 0x4000, 0x11},
      {"code 12, all hashes: 0x4100", 0xC1, 0x0010, 0x4100, 0x10},
      {"code 1 from bit 9", 0x111, 0x0010, 0x0200, 0x11},
      {"socket bit right above two channels", 0x31, 0x0110, 0x0700, 0x53},
      {"socket bit above channel and die bits", 0x31, 0x0510, 0x0B00, 0x53},
      {"reserved start bit 1", 0x531, 0x0010, 0x0006, 0x13},
  };
  for (const Row& r : rows) {
    RawFabric f;
    f.fabric.Set(0, 1, 0x208, kBroadcast, 0x65402000);  // socket 6/0x40, die 5/0x20
    f.CcmMap(0, r.base, r.limit);
    EXPECT_EQ(atd::checkDramHit(r.address), r.owner) << r.what;
  }
}

// One socket, one die, six channels of 1 GiB from bit 8 in the Extended
// layout; logical channel k is physical channel map[k].
struct SixChannels : RawFabric {
  static constexpr uint32_t kMap = 0xFF501234;  // 4 3 2 1 0 5
  SixChannels(uint32_t dst = 0, bool hole = false) {
    fabric.Set(0, 1, 0x208, kBroadcast, 0x00100001);  // Extended, nodeMask 0x10
    fabric.Set(0, 1, 0x20C, kBroadcast, 0x01000004);  // node shift 4, socket mask 1
    fabric.Set(0, 0, 0x3F8, kBroadcast, 0x00700000);  // all hashes
    fabric.Set(0, 0, 0x60, kBroadcast, kMap);
    // 6 GiB of DRAM (plus a 1 GiB hole at 3 GiB when asked for).
    const uint32_t base = 0x1 | (hole ? 0x2 : 0) | (6 << 2);
    const uint32_t limit = ((hole ? 0x1B : 0x17) << 12) | dst;
    CcmMap(0, base, limit);
    fabric.Set(0, 0, 0x104, kBroadcast, hole ? 0xC0000001 : 0);
    for (uint16_t c = 0; c < 8; ++c) {
      CsFabricId(0, c, c);
      CsMap(0, c, 0, base, limit);
      fabric.Set(0, 0, 0x104, c, hole ? 0xC0000001 : 0);
      fabric.Set(0, 2, 0x90, c, 17);  // 2^(17 + 13) = 1 GiB per channel
    }
  }
};

TEST(CheckDramHitEdges, SixChannelHoleAddressIsAFatalStopThenUnadjusted) {
  SixChannels f(0, true);
  const uint32_t owner = atd::checkDramHit(0xD0000000);
  EXPECT_THAT(FatalStopCodes(f.platform), ::testing::ElementsAre(0xC0051302u));
  // It went on without the hole adjustment: the same owner as the address itself.
  sim::Platform other;
  SixChannels g(0, false);
  EXPECT_EQ(owner, atd::checkDramHit(0xD0000000));
  EXPECT_TRUE(FatalStopCodes(g.platform).empty());
}

TEST(CheckDramHitEdges, SixChannelLogicalIdOfEightOrMoreHasNoOwner) {
  SixChannels f(0x8);  // dstFabricId 8: every logical id is 8 or more
  EXPECT_EQ(atd::checkDramHit(0x1000), atd::kNoOwner);
  EXPECT_THAT(FatalStopCodes(f.platform), ::testing::ElementsAre(0xC0050579u));
  const NormalizedAddress n = atd::calcNormAddr(0x1000);
  EXPECT_EQ(n.normalizedAddr, kInvalidAddress);
}

TEST(CheckDramHitEdges, SixChannelLogicalPatternsAreMappedToPhysicalChannels) {
  SixChannels f;
  const atd::HashEnables all{1, 1, 1};
  for (uint64_t a = 0; a < 0x4000; a += 0x100) {
    uint32_t logical = atd::sixChannelPattern(a, 8, all);
    if (logical >= 6) logical = 2 * ((a >> 11) % 3) + (logical & 1);
    EXPECT_EQ(atd::checkDramHit(a), (SixChannels::kMap >> (4 * logical)) & 0xF) << std::hex << a;
  }
}

// ---- calcNormAddr --------------------------------------------------------------

TEST(CalcNormAddrEdges, BitsRemovedPerCode) {
  struct Row {
    const char* what;
    uint32_t base;
    uint64_t address, norm;
  };
  const Row rows[] = {
      {"code 7 drops four bits", 0x71, 0xABCDEF, (0xABCDEFULL >> 12 << 8) | 0xEF},
      {"code 8 drops one bit", 0x81, 0xABCDEF, (0xABCDEFULL >> 9 << 8) | 0xEF},
      {"code 13 drops bits 8 and 12", 0xD1, 0xABCDEF,
       0xEF | (((0xABCDEFULL >> 9) & 7) << 8) | (0xABCDEFULL >> 13 << 11)},
      {"code 14 drops bits 8, 12 and 13", 0xE1, 0xABCDEF,
       0xEF | (((0xABCDEFULL >> 9) & 7) << 8) | (0xABCDEFULL >> 14 << 11)},
      {"code 12 drops bit 8 only", 0xC1, 0xABCDEF, (0xABCDEFULL >> 9 << 8) | 0xEF},
      {"no interleave", 0x01, 0xABCDEF, 0xABCDEF},
  };
  for (const Row& r : rows) {
    RawFabric f;
    f.CcmMap(0, r.base, 0xF000);
    for (uint16_t c = 0; c < 8; ++c) f.CsMap(0, c, 0, r.base, 0xF000);
    EXPECT_EQ(atd::calcNormAddr(r.address).normalizedAddr, r.norm) << r.what;
  }
}

TEST(CalcNormAddrEdges, FailedLookupLeavesTheIdsZero) {
  RawFabric f;
  NormalizedAddress n;
  std::memset(&n, 0xAB, sizeof n);
  n = atd::calcNormAddr(0x1234);
  EXPECT_EQ(n.normalizedAddr, kInvalidAddress);
  EXPECT_EQ(n.socketId, 0);
  EXPECT_EQ(n.dieId, 0);
  EXPECT_EQ(n.channelId, 0);
  EXPECT_EQ(n.reserved, 0);
}

TEST(CalcNormAddrEdges, HoleAndSecondMap) {
  RawFabric f;
  // Map 0: [0, 4 GiB + 1 GiB), hole at 3 GiB. Map 1: [5 GiB, 6 GiB).
  f.CcmMap(0, 0x00000003, 0x13000);
  f.CcmMap(1, 0x14001, 0x17000);
  f.CsMap(0, 0, 0, 0x00000003, 0x13000);
  f.CsMap(0, 0, 1, 0x14001, 0x17000);
  f.fabric.Set(0, 0, 0x104, 0, 0xC0000000);
  f.fabric.Set(0, 0, 0x1B4, 0, 0x00400000);  // offset 1 GiB, enable bit clear
  EXPECT_EQ(atd::calcNormAddr(0xBFFFFFFF).normalizedAddr, 0xBFFFFFFFu);
  EXPECT_EQ(atd::calcNormAddr(0xC0000000).normalizedAddr, 0x80000000u);  // in the hole: lowered
  EXPECT_EQ(atd::calcNormAddr(0x100000000).normalizedAddr, 0xC0000000u);
  EXPECT_EQ(atd::calcNormAddr(0x140000010).normalizedAddr, 0x40000010u);  // map 1 + offset
  EXPECT_EQ(atd::calcNormAddr(0x140000000).normalizedAddr, 0x40000000u);  // map 1's base
  EXPECT_EQ(atd::calcNormAddr(0x13FFFFFFF).normalizedAddr, 0xFFFFFFFFu);  // map 0's last
}

// Where p - n + 14 puts the SixWayMsb field (n = 3): bits 29:28 for p = 17,
// bit 63 alone for p = 52, nowhere for p = 53 (a shift by 64). F2x90 is
// written whole: p in bits 5:0 under set bits 31:6.
TEST(CalcNormAddrEdges, SixChannelMarkerAtEveryDefinedPosition) {
  SixChannels f;
  const atd::HashEnables all{1, 1, 1};
  uint64_t a = 0;
  while (atd::sixChannelPattern(a, 8, all) < 6) a += 0x100;  // logical pattern 6 or 7
  const uint64_t plain = (a & 0xFF) | (a >> 11 << 8);
  for (auto [reg90, marker] : {std::pair<uint32_t, uint64_t>{0xFFFFFFD1, 3ULL << 28},
                               {0xFFFFFFF4, 0x8000000000000000ULL},
                               {0xFFFFFFF5, 0}}) {
    for (uint16_t c = 0; c < 8; ++c) f.fabric.Set(0, 2, 0x90, c, reg90);
    EXPECT_EQ(atd::calcNormAddr(a).normalizedAddr, plain | marker) << std::hex << reg90;
  }
}

TEST(CalcNormAddrEdges, SixChannelPatternsSixAndSevenCarryTheMarker) {
  SixChannels f;
  const atd::HashEnables all{1, 1, 1};
  int marked = 0;
  for (uint64_t a = 0; a < 0x10000; a += 0x100) {
    const NormalizedAddress n = atd::calcNormAddr(a);
    const bool spread = atd::sixChannelPattern(a, 8, all) >= 6;
    // p - n + 14 = 17 - 3 + 14 = 28: the two bits 29:28 hold 3.
    EXPECT_EQ((n.normalizedAddr >> 28) & 3, spread ? 3u : 0u) << std::hex << a;
    EXPECT_EQ(n.normalizedAddr & ~(3ULL << 28), (a & 0xFF) | (a >> 11 << 8)) << std::hex << a;
    marked += spread;
  }
  EXPECT_GT(marked, 0);
}

// ---- calcSysAddr ---------------------------------------------------------------

TEST(CalcSysAddrEdges, HoleAndOffset) {
  struct Row {
    const char* what;
    uint32_t reg1B4;
    uint64_t norm, sys;
  };
  const Row rows[] = {
      {"below the hole", 0, 0xBFFFFFFF, 0xBFFFFFFF},
      {"at the hole base: above 4 GiB", 0, 0xC0000000, 0x100000000},
      {"offset enabled but above the address: map 0", 0x00400001, 0x3FFFFFFF, 0x3FFFFFFF},
      {"offset enabled: map 1, offset removed", 0x00400001, 0x40000010, 0x140000010},
      {"at the offset: map 1's first address", 0x00400001, 0x40000000, 0x140000000},
      {"map 0 share exhausted", 0, 0x100000000, kInvalidAddress},
  };
  for (const Row& r : rows) {
    RawFabric f;
    f.CsFabricId(0, 0, 0);
    f.CsMap(0, 0, 0, 0x00000003, 0x13000);
    f.CsMap(0, 0, 1, 0x14001, 0x17000);
    f.fabric.Set(0, 0, 0x104, 0, 0xC0000000);
    f.fabric.Set(0, 0, 0x1B4, 0, r.reg1B4);
    EXPECT_EQ(atd::calcSysAddr(r.norm, 0, 0, 0), r.sys) << r.what;
  }
}

TEST(CalcSysAddrEdges, HashedTwoChannelsPutTheHashIntoBitB) {
  RawFabric f;
  f.CcmMap(0, 0xC1, 0xF010);
  for (uint16_t c = 0x10; c < 0x12; ++c) {
    f.CsFabricId(0, c, c);
    f.CsMap(0, c, 0, 0xC1, 0xF010);
  }
  const atd::HashEnables all{1, 1, 1};
  for (uint64_t norm : {0x0ULL, 0x2000ULL, 0x123456ULL, 0x7FFFFFFULL}) {
    for (uint32_t ch : {0x10u, 0x11u}) {
      const uint64_t s = atd::calcSysAddr(norm, 0, 0, ch);
      EXPECT_EQ((s >> 8) & 1, atd::hashTerm14(s, all) ^ (ch & 1)) << std::hex << norm;
      EXPECT_EQ(atd::checkDramHit(s), ch) << std::hex << norm;
    }
  }
}

TEST(CalcSysAddrEdges, WrappedCsIdStillNamesTheRightAddress) {
  RawFabric f;
  // Four channels 0x11..0x14 from bit 8: the map's first channel is 0x11.
  f.CcmMap(0, 0x31, 0xF011);
  for (uint16_t c = 0x11; c <= 0x14; ++c) {
    f.CsFabricId(0, c, c);
    f.CsMap(0, c, 0, 0x31, 0xF011);
  }
  // 0x14 & 3 = 0 is below 0x11 & 3 = 1: the difference wraps; position 3.
  EXPECT_EQ(atd::calcSysAddr(0x45, 0, 0, 0x14), 0x345u);
  EXPECT_EQ(atd::checkDramHit(0x345), 0x14u);
  EXPECT_EQ(atd::calcNormAddr(0x345).normalizedAddr, 0x45u);
}

TEST(CalcSysAddrEdges, SixChannelStops) {
  {
    // Code 6 in the Combined layout: a fatal stop, then handled as six channels.
    RawFabric f;
    f.CsFabricId(0, 2, 2);
    f.CsMap(0, 2, 0, 0x61, 0x17000);
    f.fabric.Set(0, 2, 0x90, 2, 17);
    f.fabric.Set(0, 0, 0x60, kBroadcast, 0xFF543210);
    EXPECT_NE(atd::calcSysAddr(0x1000, 0, 0, 2), kInvalidAddress);
    EXPECT_THAT(FatalStopCodes(f.platform), ::testing::ElementsAre(0xC0052012u));
  }
  {
    SixChannels f;
    atd::calcSysAddr(0x1000, 0, 0, 9);  // no such slave: its map reads invalid
    EXPECT_TRUE(FatalStopCodes(f.platform).empty());
    f.CsFabricId(0, 9, 9);
    f.CsMap(0, 9, 0, 0x19, 0x17000);
    atd::calcSysAddr(0x1000, 0, 0, 9);
    EXPECT_THAT(FatalStopCodes(f.platform), ::testing::ElementsAre(0xC0050551u));
  }
}

TEST(CalcSysAddrEdges, SixChannelRoundTripsEveryPattern) {
  SixChannels f;
  for (uint64_t a = 0; a < 0x180000000ULL; a += 0x2A3B4C1) {
    const NormalizedAddress n = atd::calcNormAddr(a);
    ASSERT_NE(n.normalizedAddr, kInvalidAddress);
    EXPECT_EQ(atd::calcSysAddr(n.normalizedAddr, n.socketId, n.dieId, n.channelId), a)
        << std::hex << a;
  }
}

}  // namespace
