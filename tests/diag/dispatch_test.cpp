// The dispatcher over test back-ends: master switch, one formatting, the
// availability pass, then per back-end the mask reset and the level test.
#include "diag/diag_print.h"
#include "sim/platform/platform.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

struct BackendState {
  bool available = true;
  bool replaceMask = false;
  uint64_t ownMask = 0;
  std::vector<uint64_t> masksSeen;
  std::vector<std::string> written;
};

BackendState gState[3];
std::vector<std::string> gLog;

template <int I>
BOOLEAN Available() {
  gLog.push_back("IsAvailable" + std::to_string(I));
  return gState[I].available;
}
template <int I>
void Initialize() {
  gLog.push_back("Initialize" + std::to_string(I));
}
template <int I>
BOOLEAN LevelMask(uint64_t* mask) {
  gLog.push_back("GetLevelMask" + std::to_string(I));
  gState[I].masksSeen.push_back(*mask);
  if (gState[I].replaceMask) *mask = gState[I].ownMask;
  return gState[I].replaceMask;
}
template <int I>
uint64_t Write(const char* text, uint64_t length) {
  gLog.push_back("Write" + std::to_string(I));
  gState[I].written.emplace_back(text, length);
  return length;
}

constexpr diag::DiagBackend kB0{Available<0>, Initialize<0>, LevelMask<0>, Write<0>};
constexpr diag::DiagBackend kB1{Available<1>, Initialize<1>, LevelMask<1>, Write<1>};
constexpr diag::DiagBackend kB2{Available<2>, Initialize<2>, LevelMask<2>, Write<2>};
const diag::DiagBackend* const kTable[] = {&kB0, &kB1, &kB2, nullptr};

constexpr uint64_t kLevel = diag::DiagLevelTranslation;

void Print(uint8_t enabled, uint64_t level, const char* format, ...) {
  va_list args;
  va_start(args, format);
  diag::DiagVPrintTo(kTable, enabled, level, format, args);
  va_end(args);
}

class Dispatch : public ::testing::Test {
 protected:
  void SetUp() override {
    for (auto& s : gState) s = BackendState{};
    gLog.clear();
  }
};

TEST_F(Dispatch, SwitchOffCallsNoBackEndAtAll) {
  Print(0, ~0ULL, "x=%d\n", 5);
  EXPECT_TRUE(gLog.empty());
}

TEST_F(Dispatch, AvailabilityPassThenPerBackEndDispatchInTableOrder) {
  gState[1].available = false;
  Print(1, kLevel, "m");
  const std::vector<std::string> want = {
      "IsAvailable0", "IsAvailable1", "IsAvailable2", "IsAvailable0",  "GetLevelMask0",
      "Write0",       "IsAvailable1", "IsAvailable2", "GetLevelMask2", "Write2"};
  EXPECT_EQ(gLog, want);
}

TEST_F(Dispatch, LevelIsFilteredPerBackEnd) {
  struct Case {
    uint64_t level;
    bool replace0;
    uint64_t mask0;
    bool to0, to1, to2;
  };
  const Case cases[] = {
      {kLevel, false, 0, true, true, true},
      {kLevel, true, 1ULL << 3, false, true, true},  // back-end 0 wants bit 3 only
      {1ULL << 3, true, 1ULL << 3, true, true, true},
      {1ULL << 1, false, 0, false, false, false},  // bit 1 is not in the default mask
      {1ULL << 1, true, 1ULL << 1, true, false, false},
  };
  for (const Case& c : cases) {
    SetUp();
    gState[0].replaceMask = c.replace0;
    gState[0].ownMask = c.mask0;
    Print(1, c.level, "hello");
    EXPECT_EQ(gState[0].written.size(), c.to0 ? 1u : 0u) << c.level;
    EXPECT_EQ(gState[1].written.size(), c.to1 ? 1u : 0u) << c.level;
    EXPECT_EQ(gState[2].written.size(), c.to2 ? 1u : 0u) << c.level;
  }
}

TEST_F(Dispatch, MaskIsResetToTheDefaultForEveryBackEnd) {
  gState[0].replaceMask = true;
  gState[0].ownMask = 0;
  gState[1].replaceMask = true;
  gState[1].ownMask = ~0ULL;
  Print(1, kLevel, "x");
  EXPECT_TRUE(gState[0].written.empty());
  ASSERT_EQ(gState[1].masksSeen.size(), 1u);
  EXPECT_EQ(gState[1].masksSeen[0], diag::DiagDefaultLevelMask);
  EXPECT_EQ(gState[2].masksSeen.at(0), diag::DiagDefaultLevelMask);
  EXPECT_EQ(gState[1].written.size(), 1u);
  EXPECT_EQ(gState[2].written.size(), 1u);
}

TEST_F(Dispatch, EveryBackEndGetsTheSameFormattedTextWithCrLf) {
  Print(1, kLevel, "a\nb");
  for (auto& s : gState) {
    ASSERT_EQ(s.written.size(), 1u);
    EXPECT_EQ(s.written[0], std::string("a\r\nb"));
  }
  SetUp();
  Print(1, kLevel, "calcNormAddr: %016lX %08x\n", 0xFEDCBA9876543210ULL, 0xABCu);
  EXPECT_EQ(gState[2].written.at(0), "calcNormAddr: FEDCBA9876543210 00000abc\r\n");
}

TEST_F(Dispatch, LongMessagesAreCutTo511Characters) {
  const std::string longText(700, 'z');
  Print(1, kLevel, "%s%d", "", 0);  // unknown %s: empty message, still written
  EXPECT_EQ(gState[0].written.at(0), "");
  SetUp();
  Print(1, kLevel, longText.c_str());
  EXPECT_EQ(gState[0].written.at(0), std::string(511, 'z'));
  EXPECT_EQ(gState[2].written.at(0).size(), 511u);
}

TEST_F(Dispatch, NoAvailableBackEndMeansNoMaskOrWriteCall) {
  for (auto& s : gState) s.available = false;
  Print(1, kLevel, "x=%d", 1);
  const std::vector<std::string> want = {"IsAvailable0", "IsAvailable1", "IsAvailable2"};
  EXPECT_EQ(gLog, want);
}

TEST_F(Dispatch, InitialisationCallsInitializeOfAvailableBackEndsInOrder) {
  gState[1].available = false;
  EXPECT_EQ(diag::DiagInitializeBackendsOf(kTable), EFI_SUCCESS);
  const std::vector<std::string> want = {"IsAvailable0", "IsAvailable1", "IsAvailable2",
                                         "IsAvailable0", "Initialize0",  "IsAvailable1",
                                         "IsAvailable2", "Initialize2"};
  EXPECT_EQ(gLog, want);

  SetUp();
  for (auto& s : gState) s.available = false;
  EXPECT_EQ(diag::DiagInitializeBackendsOf(kTable), EFI_SUCCESS);
  EXPECT_EQ(gLog.size(), 3u);
}

TEST(DiagPrintDelivered, SwitchedOffBuildTouchesNoHardware) {
  static_assert(diag::DiagPrintEnabled == 0);
  sim::Platform p;
  diag::DiagPrint(~0ULL, "checkDramHit: %08x\n", 1u);
  EXPECT_TRUE(p.trace.Events().empty());
}

}  // namespace
