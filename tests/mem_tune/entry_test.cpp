// Image entry: constructors, signature check, protocol lookups, registration,
// and the destructor on failure.
#include "fixture.h"
#include "mem_tune/smi_handler.h"

#include <functional>
#include <string>

namespace mttest {
namespace {

using sim::smm::SmramOutstandingBlocks;

TEST_F(MemTuneTest, EntryRunsConstructorsThenLookupsInOrderAndRegistersFor9D) {
  ASSERT_EQ(Boot(), EFI_SUCCESS);
  // After the provider: the memory map, into a temporary SMM pool buffer.
  const std::vector<std::string> expected = {
      "LocateProtocol",    "GetSmstLocation", "LocateProtocol",    "GetCapabilities",
      "SmmAllocatePool",   "GetCapabilities", "SmmLocateProtocol", "LocateProtocol",
      "GetMemoryMap",      "SmmAllocatePool", "GetMemoryMap",      "SmmFreePool",
      "SmmLocateProtocol", "SwSmiRegister"};
  EXPECT_EQ(p.calls, expected);
  // The SMRAM map: two ranges of the default profile, in an SMRAM pool of
  // runtime data.
  ASSERT_NE(mts::gSmramRanges, nullptr);
  EXPECT_EQ(mts::gSmramRangeCount, 2u);
  auto block = sim::smm::SmramBlockOf(p, mts::gSmramRanges);
  ASSERT_TRUE(block);
  EXPECT_EQ(block->type, EfiRuntimeServicesData);
  EXPECT_EQ(block->size, 64u);
  EXPECT_EQ(mts::gSmramRanges[1].PhysicalSize, 0x80000u);
  EXPECT_EQ(mts::gEcamBase, 0xE0000000u);
  EXPECT_EQ(mts::gEcamSize, 0x10000000u);
  EXPECT_TRUE(mts::gEcamReady);
  ASSERT_EQ(Smm().registrations.size(), 1u);
  const auto& r = Smm().registrations[0];
  EXPECT_EQ(r.handler, &mts::MemTuneSmiHandler);
  EXPECT_EQ(r.context.SwSmiInputValue, 0x9Du);
  EXPECT_EQ(r.context.DispatchFlags, 0x80);
  EXPECT_EQ(mts::gMailbox, Box());
  EXPECT_EQ(mts::gSettingsRecord, Settings());
  EXPECT_EQ(mts::gTokenService, &Smm().tokens);
  EXPECT_TRUE(mts::gSharedMemoryMapped);
  EXPECT_EQ(SmramOutstandingBlocks(p), 1u);  // the map buffer went back
  // The signature is read once, before the lookups.
  ASSERT_EQ(p.trace.Of(sim::Access::Cpuid).size(), 1u);
  EXPECT_EQ(p.trace.Of(sim::Access::Cpuid)[0].address, 0x80000001u);
}

struct SignatureCase {
  uint32_t eax;
  bool served;
};
class Signature : public MemTuneTest, public ::testing::WithParamInterface<SignatureCase> {};

TEST_P(Signature, OnlyTheThreeFamiliesRegister) {
  sim::smm::SetProcessorSignature(p, GetParam().eax);
  EXPECT_EQ(Boot(), EFI_SUCCESS);
  EXPECT_EQ(Smm().registrations.size(), GetParam().served ? 1u : 0u);
  EXPECT_EQ(CallCount("SmmLocateProtocol"), GetParam().served ? 2u : 0u);
  EXPECT_EQ(CallCount("SwSmiRegister"), GetParam().served ? 1u : 0u);
  // Success keeps the SMRAM map.
  EXPECT_EQ(SmramOutstandingBlocks(p), 1u);
}

INSTANTIATE_TEST_SUITE_P(
    MemTune, Signature,
    ::testing::Values(SignatureCase{0x00870F00, true}, SignatureCase{0x00870FFF, true},
                      SignatureCase{0x00830F10, true}, SignatureCase{0x00A00F21, true},
                      SignatureCase{0xF0A00F00, true},  // bits 31:28 are not part of it
                      SignatureCase{0x00800F00, false}, SignatureCase{0x00800F12, false},
                      SignatureCase{0x00860F00, false}, SignatureCase{0x00870E00, false},
                      SignatureCase{0x00870000, false}, SignatureCase{0, false}));

TEST_F(MemTuneTest, MissingDispatchProtocolIsTheImageStatusAndFreesTheMapInSmram) {
  Smm().protocols.erase(Smm().protocols.begin());  // the dispatch protocol
  ASSERT_EQ(sim::smm::SmmFind(p, kSwSmiDispatchProtocolGuid), nullptr);
  EXPECT_EQ(Boot(), EFI_NOT_FOUND);
  EXPECT_EQ(SmramOutstandingBlocks(p), 0u);
  EXPECT_EQ(CallCount("SmmFreePool"), 1u);
  EXPECT_EQ(CallCount("FreePool"), 0u);
  EXPECT_EQ(mts::gSmramRanges, nullptr);
  // Nothing after the failed lookup.
  EXPECT_EQ(p.calls.back(), "SmmFreePool");
  EXPECT_EQ(CallCount("LocateProtocol"), 2u);
}

TEST_F(MemTuneTest, FailingRegisterIsTheImageStatusAndFreesTheMap) {
  p.Fail("SwSmiRegister", EFI_OUT_OF_RESOURCES);
  EXPECT_EQ(Boot(), EFI_OUT_OF_RESOURCES);
  EXPECT_EQ(SmramOutstandingBlocks(p), 0u);
  EXPECT_EQ(Smm().registrations.size(), 0u);
}

// The SMRAM range list always comes from SmmAllocatePool, so every failed
// image returns it there: also when the map it holds does not cover the list
// itself, or could not be read into it.
struct RangeListCase {
  const char* name;
  bool smramElsewhere;  // SMRAM reported away from where the SMM pool put the list
  std::function<void(sim::Platform&)> fail;
};
class RangeListRelease : public MemTuneTest, public ::testing::WithParamInterface<RangeListCase> {};

TEST_P(RangeListRelease, FailedImageFreesTheListThroughSmmFreePool) {
  std::vector<uint8_t> elsewhere(0x1000);
  const uint64_t at = reinterpret_cast<uint64_t>(elsewhere.data());
  if (GetParam().smramElsewhere)
    Smm().reportedRanges = std::vector<EFI_SMRAM_DESCRIPTOR>{{at, at, 0x1000, 0xE}};
  GetParam().fail(p);
  EXPECT_TRUE(EFI_ERROR(Boot()));
  EXPECT_EQ(SmramOutstandingBlocks(p), 0u);
  EXPECT_EQ(CallCount("FreePool"), 0u);
  EXPECT_EQ(mts::gSmramRanges, nullptr);
}

INSTANTIATE_TEST_SUITE_P(
    MemTune, RangeListRelease,
    ::testing::Values(
        RangeListCase{"SmramReportedElsewhere", true,
                      [](sim::Platform& p) { p.Fail("SwSmiRegister", EFI_DEVICE_ERROR); }},
        RangeListCase{"SecondGetCapabilitiesFails", false,
                      [](sim::Platform& p) {
                        p.Fail("GetCapabilities", EFI_DEVICE_ERROR, /*skip=*/1);
                        p.Fail("SwSmiRegister", EFI_DEVICE_ERROR);
                      }},
        RangeListCase{"DispatchLookupFails", false,
                      [](sim::Platform& p) { p.Fail("SmmLocateProtocol", EFI_NOT_FOUND); }}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(MemTuneTest, ProviderMissingStillRegistersAndSmiOnlyPostsEntry) {
  ASSERT_EQ(p.Uninstall(p.HandlesWith(mts::kMemTuneProviderGuid)[0], mts::kMemTuneProviderGuid,
                        &Smm().provider),
            EFI_SUCCESS);
  EXPECT_EQ(Boot(), EFI_SUCCESS);
  EXPECT_EQ(mts::gMailbox, nullptr);
  EXPECT_EQ(mts::gSettingsRecord, nullptr);
  ASSERT_EQ(Smm().registrations.size(), 1u);
  Box()->Request = 4;
  Box()->Command = 2;
  RaiseSmi();
  EXPECT_EQ(PostCodes(), std::vector<uint8_t>{0xD1});
  EXPECT_EQ(Smm().smiResults.back(), EFI_SUCCESS);
  EXPECT_TRUE(Smm().tokenWrites.empty());
  EXPECT_EQ(Box()->Request, 4u);
}

TEST_F(MemTuneTest, ProviderMissingWithFailingRegisterReturnsRegistersStatus) {
  ASSERT_EQ(p.Uninstall(p.HandlesWith(mts::kMemTuneProviderGuid)[0], mts::kMemTuneProviderGuid,
                        &Smm().provider),
            EFI_SUCCESS);
  p.Fail("SwSmiRegister", EFI_ACCESS_DENIED);
  EXPECT_EQ(Boot(), EFI_ACCESS_DENIED);
}

TEST_F(MemTuneTest, TokenServiceMissingRegistersAndSetsFailWithNotReady) {
  Smm().protocols.pop_back();  // installed after the dispatch and variable protocols
  ASSERT_EQ(sim::smm::SmmFind(p, mts::kConfigTokenServiceGuid), nullptr);
  ASSERT_EQ(Boot(), EFI_SUCCESS);
  EXPECT_EQ(mts::gTokenService, nullptr);
  Box()->tCL = 0x18;
  Send(0x2);
  EXPECT_TRUE(Smm().tokenWrites.empty());
  EXPECT_EQ(uint32_t{Box()->Status}, uint32_t(EFI_NOT_READY & 0xFFFFFFFF));
  // The setup variable is still updated.
  EXPECT_EQ(SetupData()[0xE8], 0x18);
  EXPECT_EQ(PostCodes(), (std::vector<uint8_t>{0xD1, 0xD2, 0xE0, 0xF4, 0xF7, 0xF8}));
}

TEST_F(MemTuneTest, NoSmmBaseMeansNoDriver) {
  ASSERT_EQ(
      p.Uninstall(p.HandlesWith(kSmmBase2ProtocolGuid)[0], kSmmBase2ProtocolGuid, &Smm().base2),
      EFI_SUCCESS);
  EXPECT_EQ(Boot(), EFI_NOT_FOUND);
  EXPECT_TRUE(Smm().registrations.empty());
}

TEST_F(MemTuneTest, FailedMapAllocationLeavesNoMapAndTheHandlerRefusesTheMailbox) {
  p.Fail("SmmAllocatePool", EFI_OUT_OF_RESOURCES);
  ASSERT_EQ(Boot(), EFI_SUCCESS);
  EXPECT_EQ(mts::gSmramRanges, nullptr);
  EXPECT_EQ(mts::gSmramRangeCount, 0u);
  EXPECT_EQ(CallCount("GetCapabilities"), 1u);  // nothing to read the map into
  Box()->Command = 2;
  Box()->Request = 4;
  std::vector<uint8_t> before(BoxBytes(), BoxBytes() + sizeof(MemTuneMailbox));
  RaiseSmi();
  EXPECT_EQ(PostCodes(), std::vector<uint8_t>{0xD1});
  EXPECT_EQ(std::vector<uint8_t>(BoxBytes(), BoxBytes() + sizeof(MemTuneMailbox)), before);
  EXPECT_EQ(Smm().smiResults.back(), EFI_ACCESS_DENIED);
}

TEST_F(MemTuneTest, FailedSecondMapReadTrustsNoRange) {
  p.Fail("GetCapabilities", EFI_DEVICE_ERROR, /*skip=*/1);
  ASSERT_EQ(Boot(), EFI_SUCCESS);
  EXPECT_EQ(mts::gSmramRangeCount, 0u);
}

}  // namespace
}  // namespace mttest
