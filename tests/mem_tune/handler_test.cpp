// MemTuneSmiHandler: the mailbox handshake, POST codes, every command of the
// dispatch and setup tables (tokens written, setup bytes changed), and the
// failure rows.
#include "fixture.h"
#include "interface_tables.h"

#include <algorithm>
#include <map>
#include <set>

namespace mttest {
namespace {

using sim::smm::TokenWrite;

const std::vector<uint8_t> kSetCodes = {0xD1, 0xD2, 0xE0, 0xF4, 0xF7, 0xF8};

class Handler : public MemTuneTest {
 protected:
  void SetUp() override {
    MemTuneTest::SetUp();
    ASSERT_EQ(Boot(), EFI_SUCCESS);
  }
  std::map<size_t, uint8_t> SetupChanges(const std::vector<uint8_t>& before) {
    std::map<size_t, uint8_t> out;
    const auto& after = SetupData();
    EXPECT_EQ(after.size(), before.size());
    for (size_t i = 0; i < after.size(); ++i)
      if (after[i] != before[i]) out[i] = after[i];
    return out;
  }
};

TEST_F(Handler, NoPendingRequestOnlyCompletes) {
  Box()->Request = 3;
  Box()->Command = 0x2;
  Box()->Busy = 0x55AA;
  Box()->Status = 0x12345678;
  Box()->Sequence = 0x0207;
  Box()->Reserved08 = 0xCAFEF00D;
  Box()->tCL = 0x33;
  RaiseSmi();
  EXPECT_EQ(PostCodes(), std::vector<uint8_t>{0xD1});
  EXPECT_EQ(Box()->Sequence, 0x0208);
  EXPECT_EQ(Box()->Busy, 0);
  EXPECT_EQ(uint32_t{Box()->Status}, 0u);
  EXPECT_EQ(Box()->Request, 0u);
  EXPECT_EQ(Box()->Command, 0u);
  EXPECT_EQ(Box()->Reserved08, 0xCAFEF00Du);
  EXPECT_EQ(Box()->tCL, 0x33);
  EXPECT_TRUE(Smm().tokenWrites.empty());
  EXPECT_EQ(CallCount("SmmGetVariable"), 0u);
  EXPECT_EQ(Smm().smiResults.back(), EFI_SUCCESS);
}

TEST_F(Handler, SequenceWrapsAfterAnAcceptedRequest) {
  Box()->Sequence = 0xFFFF;
  Send(0x12345);
  EXPECT_EQ(Box()->Sequence, 0x0100);
  Box()->Sequence = 0x1234;
  Send(0x2);
  EXPECT_EQ(Box()->Sequence, 0x1335);
}

TEST_F(Handler, MemClockThroughTheClockTable) {
  Box()->MemClock = 1600;
  Send(0x1);
  EXPECT_EQ(Smm().tokenWrites, (std::vector<TokenWrite>{{1, 3, 0xE0604CE9, 48, EFI_SUCCESS}}));
  EXPECT_EQ(PostCodes(), (std::vector<uint8_t>{0xD1, 0xD2, 0xD4, 0xE0, 0xF4, 0xF7, 0xF8}));
  EXPECT_EQ(uint32_t{Box()->Status}, 0u);
  EXPECT_EQ(SetupData()[0xE7], 48);
  // 1066 and 1067 are two rows; 933 sits after 1066.
  for (auto [mhz, code] : {std::pair{1066, 26}, {1067, 32}, {933, 28}, {333, 4}, {2200, 66}}) {
    Box()->MemClock = uint16_t(mhz);
    Send(0x1);
    ASSERT_EQ(Smm().tokenWrites.size(), 1u) << mhz;
    EXPECT_EQ(Smm().tokenWrites[0].value, uint32_t(code)) << mhz;
    EXPECT_EQ(SetupData()[0xE7], code) << mhz;
  }
}

TEST_F(Handler, MemClockNotInTheTableWritesNothingButTheMarker) {
  const auto before = SetupData();
  for (uint16_t mhz : {255, 0, 1601, 65535}) {
    Box()->MemClock = mhz;
    Send(0x1);
    EXPECT_TRUE(Smm().tokenWrites.empty()) << mhz;
    EXPECT_EQ(uint32_t{Box()->Status}, 0x0000000Eu) << mhz;
    EXPECT_EQ(PostCodes(), (std::vector<uint8_t>{0xD1, 0xD2, 0xE0, 0xF4, 0xF7, 0xF8})) << mhz;
    EXPECT_EQ(SetupChanges(before), (std::map<size_t, uint8_t>{{0xE6, 1}})) << mhz;
  }
}

TEST_F(Handler, MemClockTokenFailureSkipsD4AndIsReported) {
  p.Fail("ConfigTokenWrite", EFI_DEVICE_ERROR);
  Box()->MemClock = 1600;
  Send(0x1);
  EXPECT_EQ(PostCodes(), kSetCodes);
  EXPECT_EQ(uint32_t{Box()->Status}, 0x00000007u);
  EXPECT_EQ(SetupData()[0xE7], 48);  // recorded all the same
}

TEST_F(Handler, HoldAndReleaseCodesCompleteAtOnce) {
  const auto before = SetupData();
  Send(0x1000000);
  EXPECT_EQ(PostCodes(), (std::vector<uint8_t>{0xD1, 0xD2, 0xF1}));
  Send(0x2000000);
  EXPECT_EQ(PostCodes(), (std::vector<uint8_t>{0xD1, 0xD2, 0xF2}));
  EXPECT_EQ(uint32_t{Box()->Status}, 0u);
  EXPECT_TRUE(Smm().tokenWrites.empty());
  EXPECT_EQ(CallCount("SmmGetVariable"), 0u);
  EXPECT_EQ(SetupData(), before);
}

TEST_F(Handler, ReadCommandNeverTouchesTheSetupVariable) {
  Send(0x80000000);
  EXPECT_EQ(PostCodes(), (std::vector<uint8_t>{0xD1, 0xD2, 0xD3}));
  EXPECT_EQ(CallCount("SmmLocateProtocol"), 0u);
  EXPECT_EQ(CallCount("SmmGetVariable"), 0u);
  EXPECT_EQ(uint32_t{Box()->Status}, 0u);
  EXPECT_EQ(Box()->MemClock, 1600);
}

TEST_F(Handler, EnableWriteFailureIsNotReportedValueFailureIs) {
  PutField(0x23, 2, 0x1234);
  p.Fail("ConfigTokenWrite", EFI_DEVICE_ERROR);  // the enable write
  Send(0x4000);
  EXPECT_EQ(Smm().tokenWrites, (std::vector<TokenWrite>{{1, 3, 0x2BC2CA69, 1, EFI_DEVICE_ERROR},
                                                        {2, 3, 0x1A82F1F6, 0x1234, EFI_SUCCESS}}));
  EXPECT_EQ(uint32_t{Box()->Status}, 0u);
  // Calls are counted from the start: two so far, then enable, then value.
  p.Fail("ConfigTokenWrite", EFI_WRITE_PROTECTED, /*skip=*/3);
  Send(0x4000);
  EXPECT_EQ(uint32_t{Box()->Status}, uint32_t(EFI_WRITE_PROTECTED & 0xFFFFFFFF));
  EXPECT_EQ(PostCodes(), kSetCodes);  // the setup variable is updated all the same
  EXPECT_EQ(SetupData()[0xF8], 0x34);
}

TEST_F(Handler, CompletionClearsRequestAndCommandOnlyAndKeepsTheCallersBytes) {
  for (size_t i = 0x87; i < 0xC8; ++i) BoxBytes()[i] = uint8_t(i);
  Box()->Reserved08 = 0x01020304;
  Box()->Busy = 1;
  Box()->tCL = 0x10;
  Send(0x2);
  EXPECT_EQ(Box()->Busy, 0);
  EXPECT_EQ(Box()->Request, 0u);
  EXPECT_EQ(Box()->Command, 0u);
  EXPECT_EQ(Box()->Reserved08, 0x01020304u);
  for (size_t i = 0x87; i < 0xC8; ++i) EXPECT_EQ(BoxBytes()[i], uint8_t(i));
  EXPECT_EQ(Box()->tCL, 0x10);  // value fields are the caller's
}

// ---- every command -----------------------------------------------------------

uint32_t Pattern(uint8_t width) {
  return width == 1 ? 0xA7 : width == 2 ? 0x1234 : 0x89ABCDEF;
}

std::vector<uint32_t> AllCommands() {
  std::set<uint32_t> s;
  for (auto& d : DispatchCommands()) s.insert(d.command);
  for (auto& e : SetupCommands()) s.insert(e.command);
  s.erase(0x1);
  s.insert(0x500000);  // names nothing
  s.insert(0x12345);
  return {s.begin(), s.end()};
}

class EveryCommand : public Handler, public ::testing::WithParamInterface<uint32_t> {};

TEST_P(EveryCommand, WritesItsTokensAndItsSetupBytes) {
  const uint32_t command = GetParam();
  const auto& dispatch = DispatchCommands();
  const auto& setup = SetupCommands();
  auto d =
      std::find_if(dispatch.begin(), dispatch.end(), [&](auto& r) { return r.command == command; });
  auto s = std::find_if(setup.begin(), setup.end(), [&](auto& r) { return r.command == command; });
  if (d != dispatch.end())
    PutField(d->value.offset, d->value.width, Pattern(d->value.width));
  else if (s != setup.end() && s->source)
    PutField(s->source->offset, s->source->width, Pattern(s->source->width));

  std::vector<TokenWrite> tokens;
  uint32_t status = 0;
  if (d != dispatch.end()) {
    if (d->enableItem) {
      auto [token, width] = Tokens().at(*d->enableItem);
      tokens.push_back({width, 3, token, 1, EFI_SUCCESS});
    }
    auto it = Tokens().find(d->item);
    if (it == Tokens().end()) {
      status = 0x0000000E;  // an item the token table lacks
    } else {
      auto [token, width] = it->second;
      const uint32_t v = Pattern(d->value.width);
      const uint32_t cut = width == 1 ? (v & 0xFF) : width == 2 ? (v & 0xFFFF) : v;
      tokens.push_back({width, 3, token, cut, EFI_SUCCESS});
    }
  }
  std::map<size_t, uint8_t> changes{{0xE6, 1}};
  if (s != setup.end() && s->setup) {
    if (s->enableByte) changes[*s->enableByte] = 1;
    for (uint8_t i = 0; i < s->setup->width; ++i)
      changes[s->setup->offset + i] = BoxBytes()[s->source->offset + i];
  }

  const auto before = SetupData();
  Box()->Sequence = 0x0300;
  Send(command);
  EXPECT_EQ(Smm().tokenWrites, tokens);
  EXPECT_EQ(SetupChanges(before), changes);
  EXPECT_EQ(PostCodes(), kSetCodes);
  EXPECT_EQ(uint32_t{Box()->Status}, status);
  EXPECT_EQ(Box()->Sequence, 0x0401);
  EXPECT_EQ(Smm().variableWrites.size(), 1u);
  EXPECT_EQ(Smm().variableWrites[0].attributes, 7u);
}

INSTANTIATE_TEST_SUITE_P(MemTune, EveryCommand, ::testing::ValuesIn(AllCommands()),
                         [](const auto& info) {
                           char buf[16];
                           std::snprintf(buf, sizeof buf, "cmd_%X", info.param);
                           return std::string(buf);
                         });

}  // namespace
}  // namespace mttest
