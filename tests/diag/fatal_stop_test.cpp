// FatalStop on the simulated platform: the two plain writes, the simulator
// claim, the scroll and its P-state-timed step delay.
#include "diag/fatal_stop.h"
#include "sim/platform/platform.h"

#include <gtest/gtest.h>

namespace {

using sim::Access;
using sim::IoW;
using sim::Platform;

constexpr uint32_t kPstateStatus = 0xC0010063;
constexpr uint32_t kPstateDef0 = 0xC0010064;

TEST(FatalStop, ClaimedStopReturnsFalseAfterExactlyTwoPortWrites) {
  Platform p;
  p.stopRequestAnswer = 0x5A;
  EXPECT_FALSE(diag::FatalStop(0x00070268));
  const auto& ev = p.trace.Events();
  ASSERT_EQ(ev.size(), 3u);
  EXPECT_EQ(ev[0], IoW(0xE0, 2, 0xDEAD));
  EXPECT_EQ(ev[1], IoW(0x80, 4, 0x00070268));
  EXPECT_EQ(ev[2].kind, Access::Cpuid);
  EXPECT_EQ(ev[2].address, 0xBACCD00Bu);
  EXPECT_EQ(ev[2].extra, 2u);  // EBX = 2
}

TEST(FatalStop, ScrollShowsDeadAndTheCodeWithAPeriodOfSixWrites) {
  Platform p;
  p.stopRequestAnswer = 0;
  p.fatalScrollWrites = 13;
  p.cpus[0].msrs[kPstateDef0] = 0x0801;  // fid 1, did 8: a short step
  try {
    diag::FatalStop(0x12345678);
    FAIL() << "an unclaimed fatal stop returned";
  } catch (const sim::FatalStopEnded& e) {
    EXPECT_EQ(e.code, 0x12345678u);
  }
  std::vector<uint64_t> writes;
  for (auto& e : p.trace.PortWrites(0x80)) writes.push_back(e.value);
  const std::vector<uint64_t> want = {0x12345678, 0x780000DE, 0x0000DEAD, 0x00DEAD12, 0xDEAD1234,
                                      0xAD123456, 0x12345678, 0x780000DE, 0x0000DEAD, 0x00DEAD12,
                                      0xDEAD1234, 0xAD123456, 0x12345678, 0x780000DE};
  EXPECT_EQ(writes, want);
  // 0xE0 first, and only once.
  EXPECT_EQ(p.trace.Events().front(), IoW(0xE0, 2, 0xDEAD));
  EXPECT_EQ(p.trace.PortWrites(0xE0).size(), 1u);
  for (auto& e : p.trace.PortWrites(0x80)) EXPECT_EQ(e.width, 4);
}

// One complete step: the write that ends the run comes before its delay, so
// two scroll writes leave exactly one delay behind. The counter advances by
// tscStep per read: one read for the start, then reads until it passes
// start + ticks.
TEST(FatalStop, StepDelayFollowsTheCurrentPstate) {
  struct Case {
    uint64_t status;  // MSR 0xC0010063
    uint64_t def;     // definition of that P-state
    uint64_t ticks;   // expected delay
    uint64_t step;    // counter advance per read
  };
  const Case cases[] = {
      {0, 0x0890, 9000000000ULL, 1000000},   // fid 0x90, did 8
      {2, 0x0890, 9000000000ULL, 999999},    // P-state 2, read from 0xC0010066
      {0, 0x0090, 72000000000ULL, 1000000},  // did 0 counts as 1
      {0, 0x0190, 72000000000ULL, 1000000},  // did 1
      {0xF8 | 1, 0xFFFFC0000000C390ULL, 24000000000ULL, 1000000},  // only 2:0, 7:0, 13:8 count
      {0, 0x3F01, 7936507ULL, 1000},                               // divisions truncate
  };
  for (const Case& c : cases) {
    Platform p;
    p.stopRequestAnswer = 0;
    p.fatalScrollWrites = 2;
    p.tscStep = c.step;
    const uint32_t n = static_cast<uint32_t>(c.status & 7);
    p.cpus[0].msrs[kPstateStatus] = c.status;
    p.cpus[0].msrs[kPstateDef0 + n] = c.def;
    EXPECT_THROW(diag::FatalStop(0xC0050739), sim::FatalStopEnded);
    const uint64_t reads = 1 + (c.ticks / p.tscStep + 1);
    EXPECT_EQ(p.tsc, reads * p.tscStep) << std::hex << c.def;
    const auto msrs = p.trace.Msrs();
    ASSERT_EQ(msrs.size(), 2u);
    EXPECT_EQ(msrs[0], sim::MsrR(kPstateStatus, c.status));
    EXPECT_EQ(msrs[1], sim::MsrR(kPstateDef0 + n, c.def));
  }
}

}  // namespace
