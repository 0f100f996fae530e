// Width-coded port and memory access: the width of the bus access, how many
// bytes of the caller's value are read or filled, and the fatal stop of each
// routine for a bad code.
#include "backend_test_support.h"
#include "diag/access_width.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

using namespace backend_test;

// Answers every read with the low bytes of 0x44332211.
struct FixedIo : sim::IoDevice {
  uint32_t Read(uint16_t, uint8_t w) override { return 0x44332211u & Mask(w); }
  void Write(uint16_t, uint8_t, uint32_t) override {}
  static uint32_t Mask(uint8_t w) { return w == 4 ? 0xFFFFFFFFu : (1u << (8 * w)) - 1; }
};
struct FixedMmio : sim::MmioDevice {
  uint32_t Read(uint64_t, uint8_t w) override { return 0x44332211u & FixedIo::Mask(w); }
  void Write(uint64_t, uint8_t, uint32_t) override {}
};

struct WidthCase {
  uint8_t code;
  uint8_t bytes;
};
const WidthCase kValidWidths[] = {{1, 1}, {2, 2}, {3, 4}, {0x81, 1}, {0x82, 2}, {0x83, 4}};

class ValidWidth : public ::testing::TestWithParam<WidthCase> {};

TEST_P(ValidWidth, IoWriteSendsTheLowBytesAndReturnsThem) {
  sim::Platform p;
  const auto [code, bytes] = GetParam();
  const uint8_t value[4] = {0xDD, 0xCC, 0xBB, 0xAA};
  const uint32_t expected = 0xAABBCCDDu & FixedIo::Mask(bytes);
  EXPECT_EQ(diag::IoWriteWidth(code, 0x2E8, value, 0), expected);
  EXPECT_EQ(DeviceEvents(p.trace), (std::vector<TraceEvent>{sim::IoW(0x2E8, bytes, expected)}));
}

TEST_P(ValidWidth, MemWriteStoresTheLowBytesAndReturnsThem) {
  sim::Platform p;
  const auto [code, bytes] = GetParam();
  const uint8_t value[4] = {0xDD, 0xCC, 0xBB, 0xAA};
  const uint32_t expected = 0xAABBCCDDu & FixedIo::Mask(bytes);
  EXPECT_EQ(diag::MemWriteWidth(code, 0xFED80010, value, 0), expected);
  EXPECT_EQ(DeviceEvents(p.trace),
            (std::vector<TraceEvent>{sim::MmioW(0xFED80010, bytes, expected)}));
}

// The value is filled with exactly the access's bytes: a wider store would
// overwrite whatever follows an 8-bit variable.
TEST_P(ValidWidth, IoReadFillsExactlyTheWidth) {
  sim::Platform p;
  p.AttachIo(0x2E8, 8, std::make_shared<FixedIo>());
  const auto [code, bytes] = GetParam();
  uint8_t value[5];
  std::memset(value, 0xEE, sizeof value);
  diag::IoReadWidth(code, 0x2ED, value, 0);
  const uint8_t all[4] = {0x11, 0x22, 0x33, 0x44};
  for (unsigned i = 0; i < sizeof value; ++i)
    EXPECT_EQ(value[i], i < bytes ? all[i] : 0xEE) << "byte " << i;
  EXPECT_EQ(DeviceEvents(p.trace),
            (std::vector<TraceEvent>{sim::IoR(0x2ED, bytes, 0x44332211u & FixedIo::Mask(bytes))}));
}

TEST_P(ValidWidth, MemReadFillsExactlyTheWidth) {
  sim::Platform p;
  p.AttachMmio(0xFED80000, 0x100, std::make_shared<FixedMmio>());
  const auto [code, bytes] = GetParam();
  uint8_t value[5];
  std::memset(value, 0xEE, sizeof value);
  diag::MemReadWidth(code, 0xFED80014, value, 0);
  const uint8_t all[4] = {0x11, 0x22, 0x33, 0x44};
  for (unsigned i = 0; i < sizeof value; ++i)
    EXPECT_EQ(value[i], i < bytes ? all[i] : 0xEE) << "byte " << i;
  EXPECT_EQ(
      DeviceEvents(p.trace),
      (std::vector<TraceEvent>{sim::MmioR(0xFED80014, bytes, 0x44332211u & FixedIo::Mask(bytes))}));
}

INSTANTIATE_TEST_SUITE_P(Codes, ValidWidth, ::testing::ValuesIn(kValidWidths));

// ---- bad codes ----

enum class Routine { IoRead, IoWrite, MemRead, MemWrite };
struct BadCase {
  Routine routine;
  uint32_t stopCode;
};
const BadCase kRoutines[] = {{Routine::IoRead, 0x00010133},
                             {Routine::IoWrite, 0x00010170},
                             {Routine::MemRead, 0x00010314},
                             {Routine::MemWrite, 0x00010355}};
const uint8_t kBadCodes[] = {0, 4, 0x7F, 0x80, 0x84, 0x41, 0xC1, 0xFF};

class BadWidth : public ::testing::TestWithParam<std::tuple<BadCase, uint8_t>> {};

TEST_P(BadWidth, StopsWithTheRoutinesCodeAndMakesNoAccess) {
  sim::Platform p;  // the simulator claims the stop, so the routine returns
  const auto [c, code] = GetParam();
  uint8_t value[4] = {0x5A, 0x5A, 0x5A, 0x5A};
  uint32_t result = 0xFFFFFFFF;
  switch (c.routine) {
    case Routine::IoRead:
      diag::IoReadWidth(code, 0x3FD, value, 0);
      break;
    case Routine::IoWrite:
      result = diag::IoWriteWidth(code, 0x3F8, value, 0);
      break;
    case Routine::MemRead:
      diag::MemReadWidth(code, 0xFED80014, value, 0);
      break;
    case Routine::MemWrite:
      result = diag::MemWriteWidth(code, 0xFED80000, value, 0);
      break;
  }
  EXPECT_EQ(p.trace.Events(), ClaimedStop(c.stopCode));
  for (uint8_t b : value) EXPECT_EQ(b, 0x5A);  // a read stored nothing
  if (c.routine == Routine::IoWrite || c.routine == Routine::MemWrite) {
    EXPECT_EQ(result, 0u);
  }
}

INSTANTIATE_TEST_SUITE_P(Codes, BadWidth,
                         ::testing::Combine(::testing::ValuesIn(kRoutines),
                                            ::testing::ValuesIn(kBadCodes)));

TEST(BadWidthUnclaimed, TheStopScrollsAndNeverReturns) {
  sim::Platform p;
  p.stopRequestAnswer = 0;
  const uint8_t value[4] = {};
  try {
    diag::IoWriteWidth(0x84, 0x80, value, 0);
    FAIL() << "IoWriteWidth returned from an unclaimed stop";
  } catch (const sim::FatalStopEnded& e) {
    EXPECT_EQ(e.code, 0x00010170u);
  }
}

}  // namespace
