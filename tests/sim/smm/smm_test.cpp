// The simulated SMM services the driver's tests rely on.
#include "tests/mem_tune/fixture.h"

namespace mttest {
namespace {

TEST_F(MemTuneTest, SimVariableServiceFollowsGetVariableSizeRules) {
  auto* vars =
      static_cast<EFI_SMM_VARIABLE_PROTOCOL*>(sim::smm::SmmFind(p, kSmmVariableProtocolGuid));
  ASSERT_NE(vars, nullptr);
  CHAR16 name[] = {'T', 'i', 'v', 'S', 'e', 't', 'u', 'p', 0};
  EFI_GUID guid = mts::kTivSetupGuid;
  UINT32 attr = 0;
  UINTN size = 0x10;
  std::vector<uint8_t> buf(0x400);
  EXPECT_EQ(vars->SmmGetVariable(name, &guid, &attr, &size, buf.data()), EFI_BUFFER_TOO_SMALL);
  EXPECT_EQ(size, 0x200u);
  EXPECT_EQ(vars->SmmGetVariable(name, &guid, &attr, &size, buf.data()), EFI_SUCCESS);
  EXPECT_EQ(attr, 7u);
  EXPECT_EQ(buf[0xE7], 0x30);
  buf[0] = 0x42;
  EXPECT_EQ(vars->SmmSetVariable(name, &guid, 3, 4, buf.data()), EFI_SUCCESS);
  EXPECT_EQ(SetupData(), (std::vector<uint8_t>{0x42, 0, 0, 0}));
  EXPECT_EQ(vars->SmmSetVariable(name, &guid, 3, 0, nullptr), EFI_SUCCESS);  // deletes
  size = 0x400;
  EXPECT_EQ(vars->SmmGetVariable(name, &guid, &attr, &size, buf.data()), EFI_NOT_FOUND);
  p.Fail("SmmSetVariable", EFI_OUT_OF_RESOURCES, /*skip=*/2);  // two calls so far
  EXPECT_EQ(vars->SmmSetVariable(name, &guid, 3, 4, buf.data()), EFI_OUT_OF_RESOURCES);
}

TEST_F(MemTuneTest, SimSmramPoolsAreSeparateFromBootPools) {
  auto& smst = Smm().smst;
  void* a = nullptr;
  ASSERT_EQ(smst.SmmAllocatePool(EfiRuntimeServicesData, 100, &a), EFI_SUCCESS);
  EXPECT_TRUE(sim::smm::SmramBlockOf(p, a));
  EXPECT_EQ(p.OutstandingBlocks(EfiRuntimeServicesData), 0u);
  EXPECT_EQ(p.BootServices()->FreePool(a), EFI_INVALID_PARAMETER);
  void* b = nullptr;
  ASSERT_EQ(smst.SmmAllocatePool(EfiRuntimeServicesData, 100, &b), EFI_SUCCESS);
  EXPECT_GE(static_cast<uint8_t*>(b) - static_cast<uint8_t*>(a), 100);
  EXPECT_EQ(smst.SmmFreePool(a), EFI_SUCCESS);
  EXPECT_EQ(smst.SmmFreePool(a), EFI_INVALID_PARAMETER);
  EXPECT_EQ(sim::smm::SmramOutstandingBlocks(p), 1u);
  EXPECT_EQ(smst.SmmAllocatePool(EfiRuntimeServicesData, 0x200000, &a), EFI_OUT_OF_RESOURCES);
}

TEST_F(MemTuneTest, SimSmramMapNeedsABigEnoughBuffer) {
  auto* access = static_cast<EFI_SMM_ACCESS2_PROTOCOL*>(p.Find(kSmmAccess2ProtocolGuid));
  ASSERT_NE(access, nullptr);
  UINTN size = 0;
  EXPECT_EQ(access->GetCapabilities(access, &size, nullptr), EFI_BUFFER_TOO_SMALL);
  EXPECT_EQ(size, 64u);
  EFI_SMRAM_DESCRIPTOR map[2];
  EXPECT_EQ(access->GetCapabilities(access, &size, map), EFI_SUCCESS);
  EXPECT_EQ(map[0].CpuStart, reinterpret_cast<uint64_t>(sim::smm::SmramBase(p)));
  EXPECT_EQ(map[1].CpuStart, map[0].CpuStart + 0x100000);
}

TEST_F(MemTuneTest, SimSmiReachesOnlyTheHandlerOfItsValue) {
  ASSERT_EQ(Boot(), EFI_SUCCESS);
  p.trace.Clear();
  sim::smm::RaiseSwSmi(p, 0x9C);
  EXPECT_EQ(p.trace.Events(), std::vector<sim::TraceEvent>{sim::IoW(0xB2, 1, 0x9C)});
  EXPECT_TRUE(Smm().smiResults.empty());
  sim::smm::RaiseSwSmi(p, 0x9D);
  EXPECT_EQ(Smm().smiResults.size(), 1u);
  EXPECT_EQ(p.trace.Events()[1], sim::IoW(0xB2, 1, 0x9D));
  EXPECT_EQ(p.trace.Events()[2], sim::IoW(0x80, 1, 0xD1));
}

}  // namespace
}  // namespace mttest
