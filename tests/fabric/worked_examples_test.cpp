// The documented examples of the three translations and the edge cases that
// catch real faults, on hand-built register values.
#include "addr_translate/fabric/calc_norm_addr.h"
#include "addr_translate/fabric/calc_sys_addr.h"
#include "addr_translate/fabric/check_dram_hit.h"
#include "fabric_fixture.h"

#include <gtest/gtest.h>

namespace {

using fabric_test::kBroadcast;
using fabric_test::RawFabric;

// Four channels from bit 8, base 0, limit 0xFFFFFFFF, first channel 0x10.
struct FourChannels : RawFabric {
  FourChannels() {
    CcmMap(0, 0x00000031, 0x0000F010);
    for (uint16_t c = 0x10; c < 0x14; ++c) {
      CsFabricId(0, c, c);
      CsMap(0, c, 0, 0x00000031, 0x0000F010);
    }
  }
};

TEST(WorkedExample, CheckDramHitPicksChannelFromBits8And9) {
  FourChannels f;
  EXPECT_EQ(atd::checkDramHit(0x300), 0x13u);
  EXPECT_EQ(atd::checkDramHit(0x12345), 0x13u);
  EXPECT_EQ(atd::checkDramHit(0x100), 0x11u);
}

TEST(WorkedExample, CalcNormAddrDropsBits8And9) {
  FourChannels f;
  const NormalizedAddress n = atd::calcNormAddr(0x12345);
  EXPECT_EQ(n.normalizedAddr, 0x4845u);
  EXPECT_EQ(n.channelId, 0x13);
  EXPECT_EQ(n.socketId, 0);
  EXPECT_EQ(n.dieId, 0);
  EXPECT_EQ(n.reserved, 0);
}

TEST(WorkedExample, CalcSysAddrReinsertsTheChannel) {
  FourChannels f;
  EXPECT_EQ(atd::calcSysAddr(0x4845, 0, 0, 0x13), 0x12345u);
  EXPECT_EQ(atd::calcSysAddr(0, 0, 0, 0x13), 0x300u);
}

}  // namespace
