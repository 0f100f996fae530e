// The debugger back-end: availability through DR2, arming the breakpoint, the
// message buffer with its Enabled/Buffered switches, and the buffered write
// with its hand-off of a full area.
#include "backend_test_support.h"
#include "diag/backends/backends.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

using namespace backend_test;

constexpr uint32_t kCommand = 0xC0BF99CC;

// A heap record's data as an earlier boot phase leaves it, built from the
// documented byte offsets (not from the driver's structure).
class RecordBytes {
 public:
  RecordBytes(uint16_t capacity, uint16_t count, uint8_t enabled = 1, uint8_t buffered = 1,
              uint64_t levelMask = 0, uint32_t signature = 0xDB1099CC)
      : bytes_(513 + capacity + kGuard, 0x77) {
    Put(0, signature);
    Put(6, capacity);
    Put(8, count);
    bytes_[10] = enabled;
    bytes_[18] = buffered;
    Put(24, levelMask);
    for (size_t i = 0; i < capacity; ++i) bytes_[513 + i] = '.';
  }
  void* Data() { return bytes_.data(); }
  diag::DebugMessageBuffer* Buffer() { return static_cast<diag::DebugMessageBuffer*>(Data()); }
  uint16_t Count() const { return Get16(8); }
  std::string Area(size_t capacity) const {
    return std::string(bytes_.begin() + 513, bytes_.begin() + 513 + capacity);
  }
  const uint8_t* AreaPtr() const { return bytes_.data() + 513; }
  // Bytes outside the documented fields and after the area stay as they were.
  bool UntouchedOutsideFields(size_t capacity) const {
    for (size_t i = 0; i < bytes_.size(); ++i) {
      const bool field = i < 4 || (i >= 6 && i < 11) || i == 18 || (i >= 24 && i < 32) ||
                         (i >= 513 && i < 513 + capacity);
      if (!field && bytes_[i] != 0x77) return false;
    }
    return true;
  }

 private:
  static constexpr size_t kGuard = 16;
  template <typename T>
  void Put(size_t at, T v) {
    std::memcpy(bytes_.data() + at, &v, sizeof v);
  }
  uint16_t Get16(size_t at) const {
    uint16_t v;
    std::memcpy(&v, bytes_.data() + at, 2);
    return v;
  }
  std::vector<uint8_t> bytes_;
};

// What a debugger on port 0x99CC would find in the area at each hand-off.
struct AreaSnapshots : sim::IoDevice {
  const uint8_t* area = nullptr;
  size_t capacity = 0;
  std::vector<std::string> seen;
  uint32_t Read(uint16_t, uint8_t) override { return 0xFFFFFFFF; }
  void Write(uint16_t, uint8_t, uint32_t) override {
    seen.emplace_back(reinterpret_cast<const char*>(area), capacity);
  }
};

// ---- availability and arming ----

TEST(DebugPort, AvailableOnlyWhenDr2HoldsThePortWithTheSwitchOff) {
  for (uint64_t dr2 : {0x0ULL, 0x99CDULL, 0x1'0000'99CCULL, 0x99CCULL}) {
    sim::Platform p;
    p.CurrentCpu().dr2 = dr2;
    EXPECT_EQ(diag::DebugPortBackend.IsAvailable(), dr2 == 0x99CC ? TRUE : FALSE) << dr2;
  }
}

TEST(DebugPort, InitializeWhenUnavailableWritesNoRegister) {
  sim::Platform p;
  diag::DebugPortBackend.Initialize();
  EXPECT_TRUE(RegisterWrites(p.trace).empty());
}

TEST(DebugPort, InitializeWhenAlreadyArmedWritesNoRegister) {
  sim::Platform p;
  auto& cpu = p.CurrentCpu();
  cpu.dr2 = 0x99CC;
  cpu.dr7 = 0x02000420 | 0x3;  // other enables set too
  cpu.cr4 = 0x8 | 0x20;
  cpu.msrs[0xC001100A] = 0x1 | 0x100;
  EXPECT_TRUE(diag::DebugPortArmed());
  p.trace.Clear();
  diag::DebugPortBackend.Initialize();
  EXPECT_TRUE(RegisterWrites(p.trace).empty());
}

struct ArmCase {
  const char* what;
  uint64_t msr, dr7, cr4;
};

class DebugPortArming : public ::testing::TestWithParam<ArmCase> {};

// Any missing piece of the armed state re-arms all of it, in this order:
// MSR bit 0 (read, OR, write), DR2, CR4.DE, then the whole of DR7 (its I/O
// condition is undefined while CR4.DE is clear).
TEST_P(DebugPortArming, ArmsEverythingInOrder) {
  sim::Platform p;
  const auto c = GetParam();
  auto& cpu = p.CurrentCpu();
  cpu.dr2 = 0x99CC;
  cpu.dr7 = c.dr7;
  cpu.cr4 = c.cr4;
  cpu.msrs[0xC001100A] = c.msr;
  EXPECT_FALSE(diag::DebugPortArmed());
  p.trace.Clear();
  diag::DebugPortBackend.Initialize();
  const std::vector<TraceEvent> writes = {sim::MsrW(0xC001100A, c.msr | 1), RegW(sim::kDr2, 0x99CC),
                                          RegW(sim::kCr4, c.cr4 | 8), RegW(sim::kDr7, 0x02000420)};
  EXPECT_EQ(RegisterWrites(p.trace), writes);
  // The MSR write is a read-OR-write of what was there.
  const auto msrs = p.trace.Msrs();
  ASSERT_GE(msrs.size(), 2u);
  EXPECT_EQ(msrs[msrs.size() - 2], sim::MsrR(0xC001100A, c.msr));
  EXPECT_TRUE(diag::DebugPortArmed());
}

INSTANTIATE_TEST_SUITE_P(Missing, DebugPortArming,
                         ::testing::Values(ArmCase{"msr", 0x100, 0x02000420, 0x8},
                                           ArmCase{"dr7 enable", 0x1, 0x02000400, 0x8},
                                           ArmCase{"dr7 condition", 0x1, 0x00000420, 0x8},
                                           ArmCase{"dr7 other breakpoints", 0x1, 0x0000040F, 0x8},
                                           ArmCase{"cr4", 0x1, 0x02000420, 0x620},
                                           ArmCase{"all", 0x0, 0x400, 0x0}),
                         [](const auto& info) {
                           std::string n = info.param.what;
                           for (char& ch : n)
                             if (ch == ' ') ch = '_';
                           return n;
                         });

// ---- finding the buffer ----

TEST(DebugPort, BufferNeedsTheSignatureAndRoomForOneCharacter) {
  RecordBytes good(4, 0), wrongSignature(4, 0, 1, 1, 0, 0xDB1099CD), noRoom(0, 0);
  EXPECT_EQ(diag::DebugMessageBufferAt(good.Data()), good.Buffer());
  EXPECT_EQ(diag::DebugMessageBufferAt(wrongSignature.Data()), nullptr);
  EXPECT_EQ(diag::DebugMessageBufferAt(noRoom.Data()), nullptr);
  EXPECT_EQ(diag::DebugMessageBufferAt(nullptr), nullptr);
}

TEST(DebugPort, Dr3ZeroOrNoHeapRecordMeansNoBuffer) {
  for (uint64_t dr3 : {0x0ULL, 0x7F000000ULL}) {
    sim::Platform p;
    p.CurrentCpu().dr3 = dr3;
    EXPECT_EQ(diag::FindDebugMessageBuffer(), nullptr);
  }
}

TEST(DebugPort, LevelMaskComesFromTheBufferWhenThereIsOne) {
  RecordBytes rec(4, 0, 1, 1, 0x0004000000000001ULL);
  uint64_t mask = 0x100401008A300408ULL;
  EXPECT_EQ(diag::DebugPortLevelMaskFrom(rec.Buffer(), &mask), TRUE);
  EXPECT_EQ(mask, 0x0004000000000001ULL);
  mask = 0x100401008A300408ULL;
  EXPECT_EQ(diag::DebugPortLevelMaskFrom(nullptr, &mask), TRUE);
  EXPECT_EQ(mask, 0x100401008A300408ULL);

  sim::Platform p;  // DR3 = 0: the operation itself keeps the mask and says TRUE
  EXPECT_EQ(diag::DebugPortBackend.GetLevelMask(&mask), TRUE);
  EXPECT_EQ(mask, 0x100401008A300408ULL);
}

// ---- writing ----

TEST(DebugPort, WriteWithoutBufferHandsTheTextStraightOff) {
  sim::Platform p;
  p.CurrentCpu().dr2 = 0x99CC;  // available with the switch off
  const char text[] = "hello\r\n";
  EXPECT_EQ(diag::DebugPortBackend.Write(text, 7), 7u);
  EXPECT_EQ(DeviceEvents(p.trace), (std::vector<TraceEvent>{HandoffEv(kCommand, Low32(text), 7),
                                                            sim::IoW(0x99CC, 4, Low32(text))}));
}

TEST(DebugPort, WriteWhenUnavailableDoesNothing) {
  sim::Platform p;
  p.CurrentCpu().dr3 = 0x1000;
  EXPECT_EQ(diag::DebugPortBackend.Write("x", 1), 0u);
  EXPECT_TRUE(DeviceEvents(p.trace).empty());
  // Availability is decided before the buffer is looked for.
  EXPECT_TRUE(p.trace.Of(sim::Access::RegRead).size() == 1u &&
              p.trace.Of(sim::Access::RegRead)[0].address == sim::kDr2);
}

TEST(DebugPort, EnabledOtherThanOneWritesNothingAtAll) {
  for (uint8_t enabled : {0, 2, 0xFF}) {
    for (uint8_t buffered : {0, 1}) {
      sim::Platform p;
      RecordBytes rec(4, 3, enabled, buffered);
      EXPECT_EQ(diag::DebugPortWriteTo(rec.Buffer(), "abc", 3), 0u);
      EXPECT_TRUE(p.trace.Events().empty()) << int(enabled) << "/" << int(buffered);
      EXPECT_EQ(rec.Count(), 3u);
      EXPECT_EQ(rec.Area(4), "....");
    }
  }
}

TEST(DebugPort, BufferedOtherThanOneHandsOffDirectly) {
  for (uint8_t buffered : {0, 2}) {
    sim::Platform p;
    RecordBytes rec(4, 1, 1, buffered);
    const char text[] = "xyz";
    EXPECT_EQ(diag::DebugPortWriteTo(rec.Buffer(), text, 3), 3u);
    EXPECT_EQ(DeviceEvents(p.trace), (std::vector<TraceEvent>{HandoffEv(kCommand, Low32(text), 3),
                                                              sim::IoW(0x99CC, 4, Low32(text))}));
    EXPECT_EQ(rec.Count(), 1u);
    EXPECT_EQ(rec.Area(4), "....");
  }
}

// A buffer with no room is no buffer: the message goes straight to the
// debugger and nothing is stored (a store at area[0] would land past it).
TEST(DebugPort, CapacityZeroBufferIsTreatedAsNone) {
  sim::Platform p;
  RecordBytes rec(0, 0);
  const char text[] = "ab";
  diag::DebugPortWriteTo(diag::DebugMessageBufferAt(rec.Data()), text, 2);
  EXPECT_EQ(DeviceEvents(p.trace), (std::vector<TraceEvent>{HandoffEv(kCommand, Low32(text), 2),
                                                            sim::IoW(0x99CC, 4, Low32(text))}));
  EXPECT_EQ(rec.Count(), 0u);
  EXPECT_TRUE(rec.UntouchedOutsideFields(0));
  // Handed the buffer anyway, the buffered write leaves it alone too.
  p.trace.Clear();
  diag::DebugBufferedWrite(rec.Buffer(), text, 2);
  EXPECT_TRUE(p.trace.Events().empty());
  EXPECT_TRUE(rec.UntouchedOutsideFields(0));
}

struct BufferedCase {
  const char* name;
  uint16_t capacity, count;
  std::string text;
  std::vector<std::string> handedOff;  // area contents at each hand-off
  uint16_t finalCount;
  std::string finalArea;
};

class BufferedWrite : public ::testing::TestWithParam<BufferedCase> {};

TEST_P(BufferedWrite, StoresCharactersAndHandsOffOnlyAFullAreaThatNeedsRoom) {
  sim::Platform p;
  const auto& c = GetParam();
  RecordBytes rec(c.capacity, c.count);
  auto debugger = std::make_shared<AreaSnapshots>();
  debugger->area = rec.AreaPtr();
  debugger->capacity = c.capacity;
  p.AttachIo(0x99CC, 1, debugger);

  std::vector<char> text(c.text.begin(), c.text.end());
  text.resize(std::max<size_t>(text.size(), 2), '\0');  // two bytes are always readable
  EXPECT_EQ(diag::DebugPortWriteTo(rec.Buffer(), text.data(), c.text.size()), c.text.size());

  std::vector<TraceEvent> expected = {
      sim::IoW(0xFFED, 2, uint8_t(text[0]) | uint16_t(uint8_t(text[1])) << 8)};
  for (size_t i = 0; i < c.handedOff.size(); ++i) {
    expected.push_back(HandoffEv(kCommand, Low32(rec.AreaPtr()), c.capacity));
    expected.push_back(sim::IoW(0x99CC, 4, Low32(rec.AreaPtr())));
  }
  EXPECT_EQ(DeviceEvents(p.trace), expected);
  EXPECT_EQ(debugger->seen, c.handedOff);
  EXPECT_EQ(rec.Count(), c.finalCount);
  EXPECT_EQ(rec.Area(c.capacity), c.finalArea);
  EXPECT_TRUE(rec.UntouchedOutsideFields(c.capacity));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, BufferedWrite,
    ::testing::Values(
        // a fills index 3; b finds the area full, hands off 4, goes to 0; c to 1.
        BufferedCase{"AcrossFullArea", 4, 3, "abc", {"...a"}, 2, "bc.a"},
        // exactly full is not handed off until a further character arrives
        BufferedCase{"ExactlyFull", 3, 0, "abc", {}, 3, "abc"},
        BufferedCase{"FullAtStart", 3, 3, "d", {"..."}, 1, "d.."},
        BufferedCase{"TwoHandOffs", 2, 0, "abcde", {"ab", "cd"}, 1, "ed"},
        BufferedCase{"CountBeyondCapacity", 2, 9, "q", {".."}, 1, "q."},
        BufferedCase{"LengthZeroStillSignals", 4, 1, "", {}, 1, "...."},
        BufferedCase{"OneCharacter", 4, 0, "z", {}, 1, "z..."}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(DebugPort, BufferedWriteWithNullTextOrBufferDoesNothing) {
  sim::Platform p;
  RecordBytes rec(4, 0);
  diag::DebugBufferedWrite(rec.Buffer(), nullptr, 3);
  diag::DebugBufferedWrite(nullptr, "abc", 3);
  EXPECT_TRUE(p.trace.Events().empty());
  EXPECT_EQ(rec.Count(), 0u);
}

// ---- the table ----

TEST(BackendTable, FourBackEndsInOrderThenNull) {
  EXPECT_EQ(diag::DiagBackendTable[0], &diag::PostPortBackend);
  EXPECT_EQ(diag::DiagBackendTable[1], &diag::DebugPortBackend);
  EXPECT_EQ(diag::DiagBackendTable[2], &diag::UartBackend);
  EXPECT_EQ(diag::DiagBackendTable[3], &diag::FixedUartBackend);
  EXPECT_EQ(diag::DiagBackendTable[4], nullptr);
}

TEST(BackendTable, PlainBackEndsShareOneInitializeAndOneLevelMaskRoutine) {
  sim::Platform p;
  for (const diag::DiagBackend* b :
       {&diag::PostPortBackend, &diag::UartBackend, &diag::FixedUartBackend}) {
    EXPECT_EQ(b->Initialize, diag::PostPortBackend.Initialize);
    EXPECT_EQ(b->GetLevelMask, diag::PostPortBackend.GetLevelMask);
    uint64_t mask = 0x1234;
    EXPECT_EQ(b->GetLevelMask(&mask), FALSE);
    EXPECT_EQ(mask, 0x1234u);
    b->Initialize();
  }
  EXPECT_TRUE(p.trace.Events().empty());
  // With the switch off only the fixed UART is available.
  EXPECT_EQ(diag::PostPortBackend.IsAvailable(), FALSE);
  EXPECT_EQ(diag::UartBackend.IsAvailable(), FALSE);
  EXPECT_EQ(diag::FixedUartBackend.IsAvailable(), TRUE);
}

}  // namespace
