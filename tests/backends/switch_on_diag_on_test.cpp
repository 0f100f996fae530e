// The back-ends with the diagnostic switch on (the build platsim runs), and a
// message's whole way from DiagPrint to the ports, the UART and the debugger.
#include "diag/backends/backends.h"
#include "diag/diag_print.h"
#include "sim/platform/platform.h"
#include "sim/uart/console.h"
#include "sim/uart/post_frames.h"
#include "sim/uart/uart16550.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

namespace {

using sim::Access;
using sim::TraceEvent;

std::vector<TraceEvent> DeviceEvents(const sim::Trace& t) {
  std::vector<TraceEvent> out;
  for (const auto& e : t.Events())
    if (e.kind == Access::IoRead || e.kind == Access::IoWrite || e.kind == Access::Handoff)
      out.push_back(e);
  return out;
}

TEST(SwitchOn, EveryBackEndIsAvailableWithoutLookingAtDr2) {
  sim::Platform p;
  for (size_t i = 0; diag::DiagBackendTable[i] != nullptr; ++i)
    EXPECT_EQ(diag::DiagBackendTable[i]->IsAvailable(), TRUE) << i;
  EXPECT_TRUE(p.trace.Events().empty());
}

TEST(SwitchOn, DebugPortInitializeArmsTheBreakpoint) {
  sim::Platform p;
  diag::DebugPortBackend.Initialize();
  std::vector<TraceEvent> writes;
  for (const auto& e : p.trace.Events())
    if (e.kind == Access::MsrWrite || e.kind == Access::RegWrite) writes.push_back(e);
  const std::vector<TraceEvent> expected = {sim::MsrW(0xC001100A, 1),
                                            {Access::RegWrite, 8, sim::kDr2, 0x99CC, 0},
                                            {Access::RegWrite, 8, sim::kCr4, 0x8, 0},
                                            {Access::RegWrite, 8, sim::kDr7, 0x02000420, 0}};
  EXPECT_EQ(writes, expected);
  EXPECT_TRUE(diag::DebugPortArmed());
}

// With the switch on, DiagPrint must reach the back-ends at all; a dispatcher
// that offers nothing would leave the checks below with nothing to look at.
bool DispatcherReachesBackEnds() {
  sim::Platform probe;
  diag::DiagPrint(diag::DiagLevelTranslation, "probe\n");
  return !probe.trace.Events().empty();
}

#define SKIP_UNLESS_DISPATCHING() \
  if (!DispatcherReachesBackEnds()) FAIL() << "DiagPrint reached no back-end with the switch on"

// "ab\n" is formatted as a, b, CR, LF and offered to the four back-ends in
// table order: the POST-port frame, the debugger hand-off (no message buffer
// with DR3 at 0), the UART back-end (CR before LF, one LSR read per
// character), the fixed UART (one wait, one burst).
TEST(SwitchOn, MessageReachesEveryBackEndInTableOrder) {
  SKIP_UNLESS_DISPATCHING();
  sim::Platform p;
  auto uart = sim::uart::AttachIoUart(p);
  diag::DiagPrint(diag::DiagLevelTranslation, "a%x\n", 0xbu);
  const auto events = DeviceEvents(p.trace);

  std::vector<TraceEvent> expected;
  expected.push_back(sim::IoW(0x80, 4, 0x5F535452));
  for (uint8_t c : {'a', 'b', '\r', '\n'}) expected.push_back(sim::IoW(0x80, 1, c));
  expected.push_back(sim::IoW(0x80, 4, 0x5F454E44));
  // The formatting buffer's address is the dispatcher's business; the
  // hand-off carries it in EAX and the OUT writes the same value.
  const size_t handoffAt = expected.size();
  ASSERT_GT(events.size(), handoffAt);
  const uint32_t textAddress = static_cast<uint32_t>(events[handoffAt].value);
  expected.push_back({Access::Handoff, 4, 0xC0BF99CC, textAddress, 0, 4});
  expected.push_back(sim::IoW(0x99CC, 4, textAddress));
  for (uint8_t c : {'a', 'b', '\r', '\r', '\n'}) {
    expected.push_back(sim::IoR(0x3FD, 1, 0x60));
    expected.push_back(sim::IoW(0x3F8, 1, c));
  }
  expected.push_back(sim::IoR(0x3FD, 1, 0x60));
  for (uint8_t c : {'a', 'b', '\r', '\n'}) expected.push_back(sim::IoW(0x3F8, 1, c));
  EXPECT_EQ(events, expected);

  EXPECT_EQ(uart->Transmitted(), "ab\r\r\nab\r\n");
  EXPECT_EQ(sim::uart::ParsePostFrames(p.trace.Events()), std::vector<std::string>{"ab\r\n"});
}

// A message level that shares no bit with the default mask reaches none of
// the back-ends (none of them has a mask of its own here).
TEST(SwitchOn, LevelOutsideTheDefaultMaskReachesNothing) {
  SKIP_UNLESS_DISPATCHING();
  sim::Platform p;
  auto uart = sim::uart::AttachIoUart(p);
  diag::DiagPrint(0x1, "hidden\n");
  EXPECT_TRUE(DeviceEvents(p.trace).empty());
  EXPECT_EQ(uart->Transmitted(), "");
}

TEST(SwitchOn, ConsoleShowsEachMessageOnce) {
  SKIP_UNLESS_DISPATCHING();
  sim::Platform p;
  std::ostringstream out;
  auto console = sim::uart::InstallConsole(p, out);
  diag::DiagPrint(diag::DiagLevelTranslation, "calcNormAddr: normAddr=%016lX\n",
                  static_cast<unsigned long>(0x12345678ULL));
  diag::DiagPrint(diag::DiagLevelTranslation, "checkDramHit: %d\n", 3);
  console->Flush();
  EXPECT_EQ(out.str(), "calcNormAddr: normAddr=0000000012345678\ncheckDramHit: 3\n");
  EXPECT_EQ(console->Frames().size(), 2u);
}

// A UART that never becomes ready: the UART back-end drops every character
// after its reads and the fixed UART gives up; the POST frame still carries
// the message and the console has nothing to show.
TEST(SwitchOn, StuckUartLosesTheMessageButNotThePostFrame) {
  SKIP_UNLESS_DISPATCHING();
  sim::Platform p;
  std::ostringstream out;
  auto console = sim::uart::InstallConsole(p, out);
  console->Uart().SetLineStatus(sim::uart::LineStatus::NeverReady());
  diag::DiagPrint(diag::DiagLevelTranslation, "x\n");
  console->Flush();
  EXPECT_EQ(out.str(), "");
  EXPECT_EQ(console->Frames(), std::vector<std::string>{"x\r\n"});
  EXPECT_EQ(console->Uart().LsrReads(), 4u * 2000 + 65535);
}

}  // namespace
