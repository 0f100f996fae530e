// The simulator's UART model, the POST-frame capture and the console that
// platsim uses to show the drivers' messages.
#include "tests/backends/backend_test_support.h"
#include "diag/fatal_stop.h"
#include "hw/hw.h"
#include "sim/uart/console.h"
#include "sim/uart/post_frames.h"
#include "sim/uart/uart16550.h"

#include <gtest/gtest.h>

#include <sstream>

namespace {

using namespace backend_test;
using sim::uart::LineStatus;

TEST(UartModel, LineStatusBehaviours) {
  sim::Platform p;
  auto uart = sim::uart::AttachIoUart(p, 0x3F8, LineStatus::ReadyAfter(2, 0x20));
  EXPECT_EQ(hw::IoRead8(0x3FD), 0x20);
  EXPECT_EQ(hw::IoRead8(0x3FD), 0x20);
  EXPECT_EQ(hw::IoRead8(0x3FD), 0x60);
  EXPECT_EQ(hw::IoRead8(0x3FD), 0x60);
  hw::IoWrite8(0x3F8, 'x');  // busy again for two reads
  EXPECT_EQ(hw::IoRead8(0x3FD), 0x20);
  EXPECT_EQ(hw::IoRead8(0x3FD), 0x20);
  EXPECT_EQ(hw::IoRead8(0x3FD), 0x60);
  uart->SetLineStatus(LineStatus::NeverReady(0x01));
  for (int i = 0; i < 5; ++i) EXPECT_EQ(hw::IoRead8(0x3FD), 0x01);
  uart->SetLineStatus(LineStatus::AlwaysReady());
  EXPECT_EQ(hw::IoRead8(0x3FD), 0x60);
  EXPECT_EQ(uart->LsrReads(), 13u);
  EXPECT_EQ(uart->Transmitted(), "x");
}

TEST(UartModel, DivisorLatchHidesThrAndIer) {
  sim::Platform p;
  auto uart = sim::uart::AttachIoUart(p, 0x2F8);
  hw::IoWrite8(0x2FB, 0x83);  // DLAB, 8 data bits
  hw::IoWrite8(0x2F8, 0x01);
  hw::IoWrite8(0x2F9, 0x00);
  hw::IoWrite8(0x2FB, 0x03);
  hw::IoWrite8(0x2F8, 'k');
  EXPECT_EQ(uart->Divisor(), 1u);
  EXPECT_EQ(uart->Lcr(), 0x03);
  EXPECT_EQ(uart->Transmitted(), "k");
  EXPECT_EQ(hw::IoRead8(0x2FA), 0x01);  // IIR: nothing pending
}

TEST(UartModel, MemoryMappedRegistersAreFourBytesApart) {
  sim::Platform p;
  auto uart = sim::uart::AttachMmioUart(p, 0xFEDC9000, LineStatus::NeverReady(0x00));
  EXPECT_EQ(hw::MmioRead8(0xFEDC9014), 0x00);  // LSR
  EXPECT_EQ(hw::MmioRead8(0xFEDC9005), 0x00);  // not a register
  hw::MmioWrite8(0xFEDC9000, 'm');
  hw::MmioWrite8(0xFEDC9001, 'n');  // not a register
  EXPECT_EQ(uart->Transmitted(), "m");
  EXPECT_EQ(uart->LsrReads(), 1u);
}

struct FrameCase {
  const char* name;
  std::vector<std::pair<uint8_t, uint32_t>> writes;  // width, value
  std::vector<std::string> frames;
};

class PostFrames : public ::testing::TestWithParam<FrameCase> {};

TEST_P(PostFrames, ParsesCompleteFramesOnly) {
  sim::Platform p;
  const auto& c = GetParam();
  auto capture = sim::uart::AttachPostPortCapture(p);
  for (auto [w, v] : c.writes) {
    if (w == 1) hw::IoWrite8(0x80, static_cast<uint8_t>(v));
    if (w == 2) hw::IoWrite16(0x80, static_cast<uint16_t>(v));
    if (w == 4) hw::IoWrite32(0x80, v);
  }
  EXPECT_EQ(capture->parser.Frames(), c.frames);
  EXPECT_EQ(sim::uart::ParsePostFrames(p.trace.Events()), c.frames);
}

constexpr uint32_t S = 0x5F535452, E = 0x5F454E44;
INSTANTIATE_TEST_SUITE_P(
    Writes, PostFrames,
    ::testing::Values(
        FrameCase{"One", {{4, S}, {1, 'h'}, {1, 'i'}, {4, E}}, {"hi"}},
        FrameCase{"Empty", {{4, S}, {4, E}}, {""}},
        FrameCase{"PostCodesAround", {{1, 0x55}, {4, S}, {1, 'a'}, {4, E}, {1, 0xAA}}, {"a"}},
        FrameCase{"RestartDropsPartial", {{4, S}, {1, 'x'}, {4, S}, {1, 'y'}, {4, E}}, {"y"}},
        FrameCase{"OtherWriteAbandons", {{4, S}, {1, 'x'}, {2, 0x1234}, {1, 'y'}, {4, E}}, {}},
        FrameCase{"Unterminated", {{4, S}, {1, 'x'}}, {}},
        FrameCase{"EndWithoutStart", {{1, 'x'}, {4, E}}, {}}),
    [](const auto& info) { return std::string(info.param.name); });

// A stop the simulator claims does not scroll, so later frames on the POST
// port must not be taken for the scroll and end the run.
TEST(PostFrames, FramesAfterAClaimedStopDoNotEndTheRun) {
  sim::Platform p;
  auto capture = sim::uart::AttachPostPortCapture(p);
  EXPECT_FALSE(diag::FatalStop(0x00010170));
  for (int i = 0; i < 20; ++i) {
    hw::IoWrite32(0x80, S);
    hw::IoWrite8(0x80, 'a');
    hw::IoWrite32(0x80, E);
  }
  EXPECT_EQ(capture->parser.Frames().size(), 20u);
}

TEST(Console, NormalizesLineEnds) {
  EXPECT_EQ(sim::uart::NormalizeLineEnds("a\r\nb\r\r\nc\rd\r"), "a\nb\nc\rd\r");
  EXPECT_EQ(sim::uart::NormalizeLineEnds("\n\r\r\r\n"), "\n\n");
}

// Drives the ports as the four back-ends do for one message.
void Message(const std::string& text, bool uartTwice = true) {
  hw::IoWrite32(0x80, S);
  for (char c : text) hw::IoWrite8(0x80, static_cast<uint8_t>(c));
  hw::IoWrite32(0x80, E);
  for (char c : text) {
    if (c == '\n') hw::IoWrite8(0x3F8, '\r');
    hw::IoWrite8(0x3F8, static_cast<uint8_t>(c));
  }
  if (uartTwice)
    for (char c : text) hw::IoWrite8(0x3F8, static_cast<uint8_t>(c));
}

TEST(Console, ShowsEachMessageOnceAsItReachesTheUart) {
  sim::Platform p;
  std::ostringstream out;
  auto console = sim::uart::InstallConsole(p, out);
  Message("calcNormAddr: a\r\n");
  EXPECT_EQ(out.str(), "");  // printed once the next message starts, or at Flush
  Message("two\r\nlines\r\n");
  EXPECT_EQ(out.str(), "calcNormAddr: a\n");
  Message("once\r\n", /*uartTwice=*/false);
  console->Flush();
  EXPECT_EQ(out.str(), "calcNormAddr: a\ntwo\nlines\nonce\n");
  EXPECT_EQ(console->Frames().size(), 3u);
  EXPECT_EQ(console->Text().substr(0, 35), "calcNormAddr: a\r\r\ncalcNormAddr: a\r\n");
}

TEST(Console, PrintsWhatArrivedWhenItIsNotTheTwoCopies) {
  sim::Platform p;
  std::ostringstream out;
  auto console = sim::uart::InstallConsole(p, out);
  hw::IoWrite32(0x80, S);
  hw::IoWrite8(0x80, 'a');
  hw::IoWrite32(0x80, E);
  for (char c : std::string("ab")) hw::IoWrite8(0x3F8, static_cast<uint8_t>(c));
  console->Flush();
  EXPECT_EQ(out.str(), "ab\n");  // no frame text matches: shown as it came, line closed
  hw::IoWrite8(0x3F8, 'z');      // output with no frame at all
  console->Flush();
  EXPECT_EQ(out.str(), "ab\nz\n");
}

}  // namespace
