// The two UART back-ends against the UART model: polling bounds, bursts, the
// CR before LF, and memory-mapped bases.
#include "backend_test_support.h"
#include "diag/backends/backends.h"
#include "sim/uart/uart16550.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using namespace backend_test;
using sim::uart::LineStatus;

std::vector<TraceEvent> Repeat(const TraceEvent& e, size_t n) {
  return std::vector(n, e);
}
void Append(std::vector<TraceEvent>& v, const std::vector<TraceEvent>& more) {
  v.insert(v.end(), more.begin(), more.end());
}

// ---- FixedUartBackend ----

// Expected events of a fixed-UART write: per burst of up to 16, `busyReads`
// reads of `busy`, one read of 0x60, then the characters.
std::vector<TraceEvent> FixedBursts(const std::string& text, size_t busyReads, uint8_t busy) {
  std::vector<TraceEvent> v;
  for (size_t at = 0; at < text.size(); at += 16) {
    Append(v, Repeat(sim::IoR(0x3FD, 1, busy), busyReads));
    v.push_back(sim::IoR(0x3FD, 1, 0x60));
    for (size_t i = at; i < text.size() && i < at + 16; ++i)
      v.push_back(sim::IoW(0x3F8, 1, static_cast<uint8_t>(text[i])));
  }
  return v;
}

struct BurstCase {
  size_t length;
  size_t busyReads;  // after each burst (and at the start)
  uint8_t busy;      // LSR while busy
};

class FixedUartBursts : public ::testing::TestWithParam<BurstCase> {};

// 40 characters go out as 16, 16 and 8, each burst after its own wait for
// bit 0x40; a holding register that is empty (0x20) while the transmitter is
// not is no reason to send.
TEST_P(FixedUartBursts, WaitForTheTransmitterBeforeEachBurstOfSixteen) {
  sim::Platform p;
  const auto c = GetParam();
  auto uart = sim::uart::AttachIoUart(p, 0x3F8, LineStatus::ReadyAfter(c.busyReads, c.busy));
  std::string text;
  for (size_t i = 0; i < c.length; ++i) text.push_back(static_cast<char>('A' + i % 26));
  EXPECT_EQ(diag::FixedUartBackend.Write(text.data(), text.size()), c.length);
  EXPECT_EQ(DeviceEvents(p.trace), FixedBursts(text, c.busyReads, c.busy));
  EXPECT_EQ(uart->Transmitted(), text);
}

INSTANTIATE_TEST_SUITE_P(Lengths, FixedUartBursts,
                         ::testing::Values(BurstCase{40, 0, 0}, BurstCase{40, 2, 0x20},
                                           BurstCase{16, 1, 0x00}, BurstCase{17, 0, 0},
                                           BurstCase{1, 3, 0x20}, BurstCase{32, 0, 0}));

struct DrainCase {
  uint32_t busyReads;
  uint8_t busy;
};
class FixedUartDrain : public ::testing::TestWithParam<DrainCase> {};

// Length 0 only waits until LSR shows both 0x20 and 0x40.
TEST_P(FixedUartDrain, LengthZeroWaitsForBothEmptyBits) {
  sim::Platform p;
  const auto c = GetParam();
  auto uart = sim::uart::AttachIoUart(p, 0x3F8, LineStatus::ReadyAfter(c.busyReads, c.busy));
  EXPECT_EQ(diag::FixedUartBackend.Write("x", 0), 0u);
  std::vector<TraceEvent> expected = Repeat(sim::IoR(0x3FD, 1, c.busy), c.busyReads);
  expected.push_back(sim::IoR(0x3FD, 1, 0x60));
  EXPECT_EQ(DeviceEvents(p.trace), expected);
  EXPECT_EQ(uart->Transmitted(), "");
}

INSTANTIATE_TEST_SUITE_P(Status, FixedUartDrain,
                         ::testing::Values(DrainCase{0, 0}, DrainCase{3, 0x20}, DrainCase{3, 0x40},
                                           DrainCase{1, 0x00}));

TEST(FixedUart, NeverReadyGivesUpAfter65535ReadsWithNothingSent) {
  for (uint64_t length : {0u, 5u}) {
    sim::Platform p;
    auto uart = sim::uart::AttachIoUart(p, 0x3F8, LineStatus::NeverReady(0x20));
    EXPECT_EQ(diag::FixedUartBackend.Write("hello", length), 0u);
    EXPECT_EQ(DeviceEvents(p.trace), Repeat(sim::IoR(0x3FD, 1, 0x20), 65535)) << length;
    EXPECT_EQ(uart->Transmitted(), "");
  }
}

// A UART that stops after the first burst: the rest of the message is lost
// and the result says so.
TEST(FixedUart, TimeoutAfterTheFirstBurstReportsZero) {
  sim::Platform p;
  auto uart = sim::uart::AttachIoUart(p, 0x3F8);
  uart->onTransmit = [&](char) {
    if (uart->Transmitted().size() == 16) uart->SetLineStatus(LineStatus::NeverReady());
  };
  const std::string text = "0123456789abcdefXYZ";
  EXPECT_EQ(diag::FixedUartBackend.Write(text.data(), text.size()), 0u);
  EXPECT_EQ(uart->Transmitted(), text.substr(0, 16));
  std::vector<TraceEvent> expected = FixedBursts(text.substr(0, 16), 0, 0);
  Append(expected, Repeat(sim::IoR(0x3FD, 1, 0x00), 65535));
  EXPECT_EQ(DeviceEvents(p.trace), expected);
}

TEST(FixedUart, NullTextTouchesNothing) {
  sim::Platform p;
  EXPECT_EQ(diag::FixedUartBackend.Write(nullptr, 0), 0u);
  EXPECT_EQ(diag::FixedUartBackend.Write(nullptr, 3), 0u);
  EXPECT_TRUE(p.trace.Events().empty());
}

// ---- UartBackend ----

TEST(Uart, PutsCarriageReturnBeforeEachLineFeedOneLsrReadPerCharacter) {
  sim::Platform p;
  auto uart = sim::uart::AttachIoUart(p, 0x3F8);
  diag::UartBackend.Write("a\r\nb", 4);
  std::vector<TraceEvent> expected;
  for (char c : std::string("a\r\r\nb")) {
    expected.push_back(sim::IoR(0x3FD, 1, 0x60));
    expected.push_back(sim::IoW(0x3F8, 1, static_cast<uint8_t>(c)));
  }
  EXPECT_EQ(DeviceEvents(p.trace), expected);
  EXPECT_EQ(uart->Transmitted(), "a\r\r\nb");
}

struct DropCase {
  uint32_t busyReads;  // before the UART first shows 0x20
  std::string sent;    // of "ab"
  size_t readsForA;    // LSR reads spent on 'a'
  size_t readsForB;
};

class UartPolling : public ::testing::TestWithParam<DropCase> {};

// Each character has a budget of 2000 LSR reads of its own; one that finds no
// room within them is dropped and the next one starts counting afresh.
TEST_P(UartPolling, EachCharacterGetsItsOwnTwoThousandReads) {
  sim::Platform p;
  const auto c = GetParam();
  auto uart = sim::uart::AttachIoUart(p, 0x3F8);
  // Busy only until the first character is sent (or the budget is gone).
  uart->SetLineStatus(LineStatus::ReadyAfter(c.busyReads));
  uart->onTransmit = [&](char) { uart->SetLineStatus(LineStatus::AlwaysReady()); };
  diag::UartWriteAt(0x3F8, "ab", 2);
  EXPECT_EQ(uart->Transmitted(), c.sent);
  std::vector<TraceEvent> expected;
  size_t busyLeft = c.busyReads;
  for (char ch : std::string("ab")) {
    const size_t reads = ch == 'a' ? c.readsForA : c.readsForB;
    for (size_t i = 0; i < reads; ++i) {
      const bool busy = busyLeft > 0;
      if (busy) --busyLeft;
      expected.push_back(sim::IoR(0x3FD, 1, busy ? 0x00 : 0x60));
    }
    if (c.sent.find(ch) != std::string::npos) {
      expected.push_back(sim::IoW(0x3F8, 1, static_cast<uint8_t>(ch)));
      busyLeft = 0;
    }
  }
  EXPECT_EQ(DeviceEvents(p.trace), expected);
}

INSTANTIATE_TEST_SUITE_P(
    Budgets, UartPolling,
    ::testing::Values(DropCase{0, "ab", 1, 1},           // ready at once
                      DropCase{1998, "ab", 1999, 1},     // room on the 1999th read
                      DropCase{1999, "b", 2000, 1},      // the 2000th read ends the budget
                      DropCase{2000, "b", 2000, 1},      // 'a' dropped, 'b' finds room at once
                      DropCase{2500, "b", 2000, 501},    // 'b' counts from its own start
                      DropCase{4000, "", 2000, 2000}));  // both dropped

TEST(Uart, NeverReadyWritesNothingAfterExactly2000ReadsPerCharacter) {
  sim::Platform p;
  auto uart = sim::uart::AttachIoUart(p, 0x3F8, LineStatus::NeverReady(0x40));
  diag::UartBackend.Write("\n", 1);  // CR and LF: two characters, both dropped
  EXPECT_EQ(DeviceEvents(p.trace), Repeat(sim::IoR(0x3FD, 1, 0x40), 4000));
  EXPECT_EQ(uart->Transmitted(), "");
}

struct BaseCase {
  uint64_t base;
  bool mmio;
  uint64_t lsr;
};

class UartBase : public ::testing::TestWithParam<BaseCase> {};

// Bases above 0xFFFF are memory-mapped with a 4-byte register stride: LSR at
// base + 20, THR at base; nothing then goes to an I/O port.
TEST_P(UartBase, ReachesTheUartInItsAddressSpace) {
  sim::Platform p;
  const auto c = GetParam();
  std::shared_ptr<sim::uart::Uart16550> uart =
      c.mmio ? sim::uart::AttachMmioUart(p, c.base)
             : sim::uart::AttachIoUart(p, static_cast<uint16_t>(c.base));
  diag::UartWriteAt(c.base, "k\n", 2);
  std::vector<TraceEvent> expected;
  for (uint8_t ch : {'k', '\r', '\n'}) {
    if (c.mmio) {
      expected.push_back(sim::MmioR(c.lsr, 1, 0x60));
      expected.push_back(sim::MmioW(c.base, 1, ch));
    } else {
      expected.push_back(sim::IoR(static_cast<uint16_t>(c.lsr), 1, 0x60));
      expected.push_back(sim::IoW(static_cast<uint16_t>(c.base), 1, ch));
    }
  }
  EXPECT_EQ(DeviceEvents(p.trace), expected);
  EXPECT_EQ(uart->Transmitted(), "k\r\n");
}

INSTANTIATE_TEST_SUITE_P(Bases, UartBase,
                         ::testing::Values(BaseCase{0x2F8, false, 0x2FD},
                                           BaseCase{0xFFF0, false, 0xFFF5},
                                           BaseCase{0x10000, true, 0x10014},
                                           BaseCase{0xFEDC9000, true, 0xFEDC9014},
                                           BaseCase{0x1'0000'0000ULL, true, 0x1'0000'0014ULL}));

TEST(Uart, MmioUartNeverReadyDropsAfter2000Reads) {
  sim::Platform p;
  auto uart = sim::uart::AttachMmioUart(p, 0xFEDC9000, LineStatus::NeverReady());
  EXPECT_EQ(diag::UartPutCharAt(0xFEDC9000, 'z'), FALSE);
  EXPECT_EQ(DeviceEvents(p.trace), Repeat(sim::MmioR(0xFEDC9014, 1, 0x00), 2000));
}

}  // namespace
