// UpdateSetupVariable: its POST codes and statuses for every failing step,
// the working copy, the marker byte, and variables of unexpected sizes.
#include "fixture.h"
#include "mem_tune/smi_handler.h"

#include <functional>

namespace mttest {
namespace {

class SetupVariable : public MemTuneTest {
 protected:
  void SetUp() override {
    MemTuneTest::SetUp();
    ASSERT_EQ(Boot(), EFI_SUCCESS);
    p.trace.Clear();
  }
  // Runs the update directly with a request for `command`.
  EFI_STATUS Update(uint32_t command) {
    MemTuneMailbox request{};
    std::memcpy(&request, Box(), sizeof request);
    request.Command = command;
    p.trace.Clear();
    Smm().variableWrites.clear();
    return mts::UpdateSetupVariable(request);
  }
};

void Resize(sim::Platform& p, size_t size) {
  sim::smm::SetVariable(p, kSetupName, mts::kTivSetupGuid, 7, std::vector<uint8_t>(size, 0));
}

struct FailureRow {
  const char* name;
  std::function<void(sim::Platform&)> arrange;
  EFI_STATUS status;
  std::vector<uint8_t> posts;
};

class SetupFailure : public SetupVariable, public ::testing::WithParamInterface<FailureRow> {};

TEST_P(SetupFailure, ReportsByPostCodeAndLeavesTheVariable) {
  GetParam().arrange(p);
  auto* v = sim::smm::FindVariable(p, kSetupName, mts::kTivSetupGuid);
  const std::vector<uint8_t> before = v ? v->data : std::vector<uint8_t>{};
  Box()->tCL = 0x1C;
  EXPECT_EQ(Update(0x2), GetParam().status);
  EXPECT_EQ(PostCodes(), GetParam().posts);
  EXPECT_TRUE(Smm().variableWrites.empty());
  v = sim::smm::FindVariable(p, kSetupName, mts::kTivSetupGuid);
  EXPECT_EQ(v ? v->data : std::vector<uint8_t>{}, before);
}

INSTANTIATE_TEST_SUITE_P(
    MemTune, SetupFailure,
    ::testing::Values(
        FailureRow{"NoVariableProtocol",
                   [](sim::Platform& p) {
                     auto& prot = sim::smm::Smm(p).protocols;
                     prot.erase(prot.begin() + 1);  // dispatch, variables, tokens
                   },
                   EFI_NOT_FOUND,
                   {0xE0, 0xF1}},
        FailureRow{
            "LocateFails",
            [](sim::Platform& p) { p.Fail("SmmLocateProtocol", EFI_ACCESS_DENIED, /*skip=*/2); },
            EFI_ACCESS_DENIED,
            {0xE0, 0xF1}},
        FailureRow{"VariableAbsent",
                   [](sim::Platform& p) { sim::smm::Smm(p).store.clear(); },
                   EFI_NOT_FOUND,
                   {0xE0, 0xF2}},
        FailureRow{"Variable1713Bytes",
                   [](sim::Platform& p) { Resize(p, 1713); },
                   EFI_BUFFER_TOO_SMALL,
                   {0xE0, 0xF2}},
        FailureRow{"GetVariableFails",
                   [](sim::Platform& p) { p.Fail("SmmGetVariable", EFI_DEVICE_ERROR); },
                   EFI_DEVICE_ERROR,
                   {0xE0, 0xF2}},
        FailureRow{
            "NoWorkingCopy",
            // After the SMRAM range list and the memory map of the entry.
            [](sim::Platform& p) { p.Fail("SmmAllocatePool", EFI_OUT_OF_RESOURCES, /*skip=*/2); },
            EFI_OUT_OF_RESOURCES,
            {0xE0, 0xF3}},
        FailureRow{"SetVariableFails",
                   [](sim::Platform& p) { p.Fail("SmmSetVariable", EFI_WRITE_PROTECTED); },
                   EFI_WRITE_PROTECTED,
                   {0xE0, 0xF4, 0xF7}},
        FailureRow{"TooSmallForTheMarker",
                   [](sim::Platform& p) { Resize(p, 0xE6); },
                   EFI_BAD_BUFFER_SIZE,
                   {0xE0, 0xF5}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(SetupVariable, SuccessWritesBackWithTheReadAttributesAndSize) {
  sim::smm::SetVariable(p, kSetupName, mts::kTivSetupGuid, 0x27, std::vector<uint8_t>(1712, 0x11));
  Box()->tCL = 0x1C;
  EXPECT_EQ(Update(0x2), EFI_SUCCESS);
  EXPECT_EQ(PostCodes(), (std::vector<uint8_t>{0xE0, 0xF4, 0xF7, 0xF8}));
  ASSERT_EQ(Smm().variableWrites.size(), 1u);
  const auto& w = Smm().variableWrites[0];
  EXPECT_EQ(w.attributes, 0x27u);
  std::vector<uint8_t> want(1712, 0x11);
  want[0xE6] = 1;
  want[0xE8] = 0x1C;
  EXPECT_EQ(w.data, want);
}

TEST_F(SetupVariable, TwoByteValueWithEnableAndLowByteOfAWideField) {
  PutField(0x23, 2, 0x1234);
  EXPECT_EQ(Update(0x4000), EFI_SUCCESS);
  EXPECT_EQ(SetupData()[0xF7], 0x01);
  EXPECT_EQ(SetupData()[0xF8], 0x34);
  EXPECT_EQ(SetupData()[0xF9], 0x12);
  EXPECT_EQ(SetupData()[0xE6], 0x01);
  PutField(0x21, 2, 0x0102);
  const auto before = SetupData();
  EXPECT_EQ(Update(0x3000), EFI_SUCCESS);
  auto want = before;
  want[0x112] = 0x02;
  EXPECT_EQ(SetupData(), want);
}

struct SizeCase {
  size_t size;
  uint32_t command;
  bool written;
};
class SetupSize : public SetupVariable, public ::testing::WithParamInterface<SizeCase> {};

// Options sit at fixed offsets: a variable that does not reach them is not
// written past its end but left alone.
TEST_P(SetupSize, NeverWritesBeyondTheData) {
  ResizeSetup(GetParam().size);
  for (size_t i = 0x14; i < 0x87; ++i) BoxBytes()[i] = 0x3C;
  Box()->MemClock = 1600;
  const auto before = SetupData();
  const EFI_STATUS s = Update(GetParam().command);
  if (GetParam().written) {
    EXPECT_EQ(s, EFI_SUCCESS);
    EXPECT_EQ(PostCodes(), (std::vector<uint8_t>{0xE0, 0xF4, 0xF7, 0xF8}));
    ASSERT_EQ(Smm().variableWrites.size(), 1u);
    EXPECT_EQ(Smm().variableWrites[0].data.size(), GetParam().size);
  } else {
    EXPECT_EQ(s, EFI_BAD_BUFFER_SIZE);
    EXPECT_EQ(PostCodes(), (std::vector<uint8_t>{0xE0, 0xF5}));
    EXPECT_TRUE(Smm().variableWrites.empty());
    EXPECT_EQ(SetupData(), before);
  }
}

INSTANTIATE_TEST_SUITE_P(
    MemTune, SetupSize,
    ::testing::Values(SizeCase{0, 0x12345, false}, SizeCase{0xE6, 0x12345, false},
                      SizeCase{0xE7, 0x12345, true}, SizeCase{0xE7, 0x1, false},
                      SizeCase{0xE8, 0x1, true}, SizeCase{0x100, 0x2, true},
                      SizeCase{0x100, 0x700000, false}, SizeCase{0x18D, 0x700000, false},
                      SizeCase{0x18E, 0x700000, true}, SizeCase{0x1B9, 0x10000B, false},
                      SizeCase{0x1BA, 0x10000B, true}, SizeCase{0x1B8, 0x10000A, true},
                      SizeCase{0xF8, 0x4000, false}, SizeCase{0xFA, 0x4000, true},
                      SizeCase{0xE7, 0x600000, true}, SizeCase{1712, 0x100013, true}));

TEST_F(SetupVariable, WorkingCopyIsSizedByTheFirstReadAndKept) {
  EXPECT_EQ(mts::gSetupWorkingCopy, nullptr);
  Box()->tCL = 0x20;
  EXPECT_EQ(Update(0x2), EFI_SUCCESS);
  ASSERT_NE(mts::gSetupWorkingCopy, nullptr);
  auto block = sim::smm::SmramBlockOf(p, mts::gSetupWorkingCopy);
  ASSERT_TRUE(block);
  EXPECT_EQ(block->type, EfiRuntimeServicesData);
  EXPECT_EQ(block->size, 0x200u);
  uint8_t* copy = mts::gSetupWorkingCopy;
  // Each update starts from the stored variable: nothing is carried over.
  SetupData()[0xE8] = 0x00;
  Box()->tRCDRD = 0x21;
  EXPECT_EQ(Update(0x4), EFI_SUCCESS);
  EXPECT_EQ(mts::gSetupWorkingCopy, copy);
  EXPECT_EQ(SetupData()[0xE8], 0x00);
  EXPECT_EQ(SetupData()[0xE9], 0x21);
  EXPECT_EQ(sim::smm::SmramOutstandingBlocks(p), 2u);  // the SMRAM map and the copy
}

TEST_F(SetupVariable, ALaterLargerVariableGrowsTheWorkingCopy) {
  EXPECT_EQ(Update(0x12345), EFI_SUCCESS);
  std::vector<uint8_t> bigger(0x300, 0);
  bigger[0x2FF] = 0x77;
  bigger[0x1FF] = 0x66;
  sim::smm::SetVariable(p, kSetupName, mts::kTivSetupGuid, 7, bigger);
  Box()->tCL = 0x19;
  EXPECT_EQ(Update(0x2), EFI_SUCCESS);
  EXPECT_EQ(mts::gSetupWorkingCopySize, 0x300u);
  EXPECT_EQ(sim::smm::SmramBlockOf(p, mts::gSetupWorkingCopy)->size, 0x300u);
  EXPECT_EQ(sim::smm::SmramOutstandingBlocks(p), 2u);  // the old copy was freed
  bigger[0xE6] = 1;
  bigger[0xE8] = 0x19;
  EXPECT_EQ(SetupData(), bigger);
  // A smaller one later is served from the same copy.
  sim::smm::SetVariable(p, kSetupName, mts::kTivSetupGuid, 7, std::vector<uint8_t>(0x100, 0));
  EXPECT_EQ(Update(0x2), EFI_SUCCESS);
  EXPECT_EQ(SetupData().size(), 0x100u);
  EXPECT_EQ(mts::gSetupWorkingCopySize, 0x300u);
}

TEST_F(SetupVariable, GrowthThatCannotBeAllocatedKeepsTheOldCopyAndRefuses) {
  EXPECT_EQ(Update(0x12345), EFI_SUCCESS);
  uint8_t* copy = mts::gSetupWorkingCopy;
  ResizeSetup(0x400);
  // After the range list, the entry's memory map and the first copy.
  p.Fail("SmmAllocatePool", EFI_OUT_OF_RESOURCES, /*skip=*/3);
  EXPECT_EQ(Update(0x2), EFI_OUT_OF_RESOURCES);
  EXPECT_EQ(PostCodes(), (std::vector<uint8_t>{0xE0, 0xF3}));
  EXPECT_EQ(mts::gSetupWorkingCopy, copy);
  EXPECT_EQ(mts::gSetupWorkingCopySize, 0x200u);
  EXPECT_TRUE(Smm().variableWrites.empty());
}

TEST_F(SetupVariable, HoldAccumulatesUntilRelease) {
  EXPECT_EQ(Update(0x1000000), EFI_SUCCESS);
  EXPECT_EQ(PostCodes(), (std::vector<uint8_t>{0xE0, 0xF4}));
  EXPECT_TRUE(Smm().variableWrites.empty());
  Box()->tCL = 0x0A;
  EXPECT_EQ(Update(0x2), EFI_SUCCESS);
  Box()->tRCDRD = 0x0B;
  EXPECT_EQ(Update(0x4), EFI_SUCCESS);
  EXPECT_TRUE(Smm().variableWrites.empty());
  Box()->MemClock = 7;
  EXPECT_EQ(Update(0x1), EFI_NOT_FOUND);  // held, so no write-back either
  EXPECT_EQ(Update(0x2000000), EFI_SUCCESS);
  EXPECT_EQ(PostCodes(), (std::vector<uint8_t>{0xE0, 0xF4, 0xF7, 0xF8}));
  EXPECT_EQ(SetupData()[0xE8], 0x0A);
  EXPECT_EQ(SetupData()[0xE9], 0x0B);
  EXPECT_EQ(mts::gSetupHoldFlag, FALSE);
}

}  // namespace
}  // namespace mttest
