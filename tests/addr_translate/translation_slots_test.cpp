// The frame of the two translation operations: argument checks, which result
// decides the status, and what is written when. These hold whatever the
// translations behind them compute.
#include "addr_translate/driver_globals.h"
#include "addr_translate/translation_slots.h"
#include "sim/platform/platform.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace {

class TranslationSlots : public ::testing::Test {
 protected:
  void SetUp() override {
    atd::ResetDriverGlobals();
    // An all-zero channel table: no chip select is enabled anywhere.
    atd::gChannelConfigTable = reinterpret_cast<ChannelConfigTable*>(table.data());
  }
  void TearDown() override { atd::ResetDriverGlobals(); }

  sim::Platform p;
  std::vector<uint64_t> table = std::vector<uint64_t>(8192, 0);
};

DramAddress Filled(uint8_t byte) {
  DramAddress d;
  std::memset(&d, byte, sizeof d);
  return d;
}

TEST_F(TranslationSlots, NullPointersAreRefusedWithoutAnyWrite) {
  NormalizedAddress in{0x1000, 0, 0, 0, 0, {}};
  NormalizedAddress out;
  std::memset(&out, 0x5A, sizeof out);
  UINT64 sys = 0x1111;
  DramAddress dram = Filled(0x5A);
  const DramAddress dramBefore = dram;

  EXPECT_EQ(atd::NormalizedToSystem(nullptr, &sys, &dram), EFI_INVALID_PARAMETER);
  EXPECT_EQ(atd::NormalizedToSystem(&in, nullptr, &dram), EFI_INVALID_PARAMETER);
  EXPECT_EQ(atd::NormalizedToSystem(&in, &sys, nullptr), EFI_INVALID_PARAMETER);
  EXPECT_EQ(atd::SystemToNormalized(nullptr, &out, &dram), EFI_INVALID_PARAMETER);
  EXPECT_EQ(atd::SystemToNormalized(&sys, nullptr, &dram), EFI_INVALID_PARAMETER);
  EXPECT_EQ(atd::SystemToNormalized(&sys, &out, nullptr), EFI_INVALID_PARAMETER);

  EXPECT_EQ(sys, 0x1111u);
  EXPECT_EQ(std::memcmp(&dram, &dramBefore, sizeof dram), 0);
  for (unsigned i = 0; i < sizeof out; ++i) EXPECT_EQ(reinterpret_cast<uint8_t*>(&out)[i], 0x5A);
  EXPECT_TRUE(p.trace.Events().empty());
}

TEST_F(TranslationSlots, SystemAddressOutsideDramLeavesDramUntouched) {
  const UINT64 sys = 0xFFFFFFFFFFFFFFFFULL;  // beyond every DRAM map
  NormalizedAddress out;
  std::memset(&out, 0x5A, sizeof out);
  DramAddress dram = Filled(0x3C);
  EXPECT_EQ(atd::SystemToNormalized(&sys, &out, &dram), EFI_INVALID_PARAMETER);
  EXPECT_EQ(out.normalizedAddr, kInvalidAddress);
  EXPECT_EQ(out.socketId, 0);
  EXPECT_EQ(out.dieId, 0);
  EXPECT_EQ(out.channelId, 0);
  EXPECT_EQ(out.reserved, 0);
  const DramAddress before = Filled(0x3C);
  EXPECT_EQ(std::memcmp(&dram, &before, sizeof dram), 0);
}

TEST_F(TranslationSlots, NormalizedToSystemFillsDramAndStoresTheSystemAddressAlways) {
  const NormalizedAddress inputs[] = {
      {kInvalidAddress, 0, 0, 0, 0, {}},
      {0x0, 0, 0, 0, 0, {}},
      {0x12345640, 0, 0, 1, 0, {}},
  };
  for (const NormalizedAddress& in : inputs) {
    UINT64 sys = 0x5A5A5A5A5A5A5A5AULL;
    DramAddress dram = Filled(0xA5);
    const EFI_STATUS s = atd::NormalizedToSystem(&in, &sys, &dram);
    // The status follows the system address alone.
    EXPECT_EQ(s, sys == kInvalidAddress ? EFI_INVALID_PARAMETER : EFI_SUCCESS) << in.normalizedAddr;
    EXPECT_NE(sys, 0x5A5A5A5A5A5A5A5AULL);
    // DRAM fields are written whatever the result (chip select and rank
    // multiplier are small numbers, never the fill byte); the gaps are kept.
    EXPECT_NE(dram.chipSelect, 0xA5);
    EXPECT_NE(dram.rankMul, 0xA5);
    EXPECT_EQ(dram.gap0[0], 0xA5);
    EXPECT_EQ(dram.gap0[1], 0xA5);
    EXPECT_EQ(dram.gap1, 0xA5);
  }
}

}  // namespace
