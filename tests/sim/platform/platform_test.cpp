// The simulated platform itself: what the drivers' tests rely on.
#include "sim/platform/hob_builder.h"
#include "sim/platform/platform.h"

#include <gtest/gtest.h>

namespace {

using sim::Platform;

TEST(Platform, EcamReachesAttachedFunctionAndTracesInOrder) {
  Platform p;
  auto regs = std::make_shared<sim::RegisterFile>();
  regs->Set(0x98, 0x12345678);
  p.AttachPci(0, 0x18, 4, regs);
  hw::MmioWrite32(0xE00C405C, 0x00FF0A08);
  EXPECT_EQ(hw::MmioRead32(0xE00C4098), 0x12345678u);
  EXPECT_EQ(regs->ConfigRead32(0x5C), 0x00FF0A08u);
  EXPECT_EQ(hw::MmioRead32(0xE00CC098), 0xFFFFFFFFu);  // no device 0x19
  ASSERT_EQ(p.trace.Events().size(), 3u);
  EXPECT_EQ(p.trace.Events()[0], sim::MmioW(0xE00C405C, 4, 0x00FF0A08));
  EXPECT_EQ(p.trace.Events()[1], sim::MmioR(0xE00C4098, 4, 0x12345678));
}

TEST(Platform, NarrowEcamAccessesSeeTheirBytes) {
  Platform p;
  auto regs = std::make_shared<sim::RegisterFile>();
  regs->Set(0x0, 0x14501022);
  p.AttachPci(0, 0x19, 0, regs);
  EXPECT_EQ(hw::MmioRead16(0xE0000000 + (0x19 << 15) + 2), 0x1450);
  hw::MmioWrite8(0xE0000000 + (0x19 << 15) + 1, 0xAB);
  EXPECT_EQ(regs->ConfigRead32(0), 0x1450AB22u);
}

TEST(Platform, MsrsArePerProcessorAndStartupThisApRunsOnTheNamedOne) {
  Platform p(3);
  p.cpus[2].msrs[0x179] = 0x17;
  p.InstallMpServices();
  struct Arg {
    uint64_t seen;
  } arg{0};
  auto proc = [](void* a) EFIAPI -> void { static_cast<Arg*>(a)->seen = hw::ReadMsr(0x179); };
  EFI_MP_SERVICES_PROTOCOL* mp = p.MpServices();
  EXPECT_EQ(mp->StartupThisAP(mp, proc, 2, nullptr, 0, &arg, nullptr), EFI_SUCCESS);
  EXPECT_EQ(arg.seen, 0x17u);
  EXPECT_EQ(p.currentCpu, 0u);
  EXPECT_EQ(p.trace.Msrs().back(), sim::MsrR(0x179, 0x17, 2));
  EXPECT_EQ(mp->StartupThisAP(mp, proc, 3, nullptr, 0, &arg, nullptr), EFI_NOT_FOUND);
  UINTN n = 0, e = 0;
  EXPECT_EQ(mp->GetNumberOfProcessors(mp, &n, &e), EFI_SUCCESS);
  EXPECT_EQ(n, 3u);
}

TEST(Platform, PoolsRememberTypeAndCountOutstanding) {
  Platform p;
  EFI_BOOT_SERVICES* bs = p.BootServices();
  void* a = nullptr;
  void* b = nullptr;
  ASSERT_EQ(bs->AllocatePool(EfiACPIMemoryNVS, 40, &a), EFI_SUCCESS);
  ASSERT_EQ(bs->AllocatePool(EfiBootServicesData, 8, &b), EFI_SUCCESS);
  EXPECT_EQ(p.OutstandingBlocks(EfiACPIMemoryNVS), 1u);
  EXPECT_EQ(p.OutstandingBytes(EfiACPIMemoryNVS), 40u);
  EXPECT_EQ(p.BlockOf(b)->type, EfiBootServicesData);
  EXPECT_EQ(bs->FreePool(a), EFI_SUCCESS);
  EXPECT_EQ(bs->FreePool(a), EFI_INVALID_PARAMETER);  // double free is refused
  EXPECT_EQ(p.OutstandingBlocks(EfiACPIMemoryNVS), 0u);
}

TEST(Platform, FailureInjectionSkipsThenFailsTheNamedCall) {
  Platform p;
  EFI_BOOT_SERVICES* bs = p.BootServices();
  p.Fail("AllocatePool", EFI_OUT_OF_RESOURCES, /*skip=*/1, /*times=*/1);
  void* a = nullptr;
  EXPECT_EQ(bs->AllocatePool(EfiBootServicesData, 8, &a), EFI_SUCCESS);
  EXPECT_EQ(bs->AllocatePool(EfiBootServicesData, 8, &a), EFI_OUT_OF_RESOURCES);
  EXPECT_EQ(bs->AllocatePool(EfiBootServicesData, 8, &a), EFI_SUCCESS);
}

TEST(Platform, ProtocolDatabaseLocatesFirstInstalled) {
  Platform p;
  EFI_BOOT_SERVICES* bs = p.BootServices();
  const EFI_GUID g = {1, 2, 3, {4, 5, 6, 7, 8, 9, 10, 11}};
  int x = 0, y = 0;
  void* found = &y;
  EXPECT_EQ(bs->LocateProtocol(uefi::GuidArg(g), nullptr, &found), EFI_NOT_FOUND);
  EXPECT_EQ(found, nullptr);
  EFI_HANDLE h = nullptr;
  ASSERT_EQ(bs->InstallProtocolInterface(&h, uefi::GuidArg(g), EFI_NATIVE_INTERFACE, &x),
            EFI_SUCCESS);
  EXPECT_NE(h, nullptr);
  EXPECT_EQ(bs->InstallProtocolInterface(&h, uefi::GuidArg(g), EFI_NATIVE_INTERFACE, &y),
            EFI_INVALID_PARAMETER);
  EXPECT_EQ(bs->LocateProtocol(uefi::GuidArg(g), nullptr, &found), EFI_SUCCESS);
  EXPECT_EQ(found, &x);
}

TEST(Platform, HobListBuilderProducesWalkableList) {
  Platform p;
  const EFI_GUID g = {9, 9, 9, {1, 1, 1, 1, 1, 1, 1, 1}};
  auto list = sim::HobListBuilder().AddOther(2, 48).AddGuidHob(g, {1, 2, 3}).Build();
  const auto* b = reinterpret_cast<const uint8_t*>(list.data());
  auto* h = reinterpret_cast<const EFI_HOB_GENERIC_HEADER*>(b);
  EXPECT_EQ(h->HobType, 2);
  h = reinterpret_cast<const EFI_HOB_GENERIC_HEADER*>(b + h->HobLength);
  EXPECT_EQ(h->HobType, kHobTypeGuidExtension);
  EXPECT_EQ(h->HobLength, 32);
  EXPECT_EQ(b[48 + 24 + 2], 3);
  h = reinterpret_cast<const EFI_HOB_GENERIC_HEADER*>(b + 48 + 32);
  EXPECT_EQ(h->HobType, kHobTypeEndOfHobList);
}

}  // namespace
