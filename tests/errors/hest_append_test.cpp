// AddHestErrorSources / AddHestErrorSource: the reinstalled table's bytes,
// the call sequence around the uninstall and install, and the restore of the
// original table when the install fails.
#include "acpi_fixture.h"

namespace {

using namespace errors_test;

class HestAppend : public AcpiPlatform {
 protected:
  void Setup(uint32_t count, const Bytes& sources) {
    sim::acpi::InstallBert(P(), Block(0, 20, 0, 0, 3));
    oldKey = sim::acpi::InstallHest(P(), count, sources);
    P().calls.clear();
  }
  UINTN HestKey() {
    auto* t = sim::acpi::Store(P()).Find(kHestSignature);
    return t ? t->key : 0;
  }
  size_t HestCount() {
    size_t n = 0;
    for (auto& t : sim::acpi::Store(P()).tables)
      n += t->bytes.size() >= 4 && U32At(t->bytes, 0) == kHestSignature;
    return n;
  }
  UINTN oldKey = 0;
};

TEST_F(HestAppend, SingleSourceRaisesLengthAndCountAndReinstalls) {
  Setup(1, MachineCheckSource(0));
  const Bytes old = Hest();
  const Bytes source = MachineCheckSource(1);
  // Slot 4 ignores its third and fourth arguments: the count added is 1.
  ASSERT_EQ(atd::AddHestErrorSource(source.data(), 40, 7, 0xFFFFFFFFFFFFFFFFULL), EFI_SUCCESS);

  const Bytes hest = Hest();
  ASSERT_EQ(hest.size(), old.size() + 40);
  EXPECT_EQ(U32At(hest, 4), old.size() + 40);
  EXPECT_EQ(U32At(hest, 36), 2u);
  EXPECT_TRUE(ChecksumOk(hest));
  // Everything but length, checksum and count is the old table, then the source.
  Bytes want = Cat(old, source);
  std::memcpy(want.data() + 4, hest.data() + 4, 4);
  want[9] = hest[9];
  std::memcpy(want.data() + 36, hest.data() + 36, 4);
  EXPECT_EQ(hest, want);

  EXPECT_NE(HestKey(), oldKey);
  EXPECT_EQ(HestCount(), 1u);
  EXPECT_EQ(P().OutstandingBlocks(EfiACPIMemoryNVS), 1u);  // only the BERT region
  EXPECT_EQ(P().calls,
            (std::vector<std::string>{"LocateProtocol", "LocateProtocol", "GetAcpiTable",
                                      "GetAcpiTable", "AllocatePool", "CopyMem", "CopyMem",
                                      "UninstallAcpiTable", "InstallAcpiTable", "FreePool"}));
}

TEST_F(HestAppend, SeveralSourcesAtOnceAddTheGivenCount) {
  Setup(0, {});
  const Bytes sources = Cat(GenericHardwareSource(1, 0x1000), MachineCheckSource(2));
  ASSERT_EQ(atd::AddHestErrorSources(sources.data(), static_cast<uint32_t>(sources.size()), 3, 0),
            EFI_SUCCESS);
  const Bytes hest = Hest();
  EXPECT_EQ(hest.size(), 40 + sources.size());
  EXPECT_EQ(U32At(hest, 36), 3u);  // the caller's count, not a count of structures
  EXPECT_EQ(Bytes(hest.begin() + 40, hest.end()), sources);
  EXPECT_TRUE(ChecksumOk(hest));
}

TEST_F(HestAppend, RefusalsBeforeAnythingChanges) {
  Setup(0, {});
  const Bytes before = Hest();
  const Bytes source = MachineCheckSource(1);
  EXPECT_EQ(atd::AddHestErrorSources(source.data(), 40, 0, 0), EFI_UNSUPPORTED);
  EXPECT_TRUE(P().calls.empty());
  EXPECT_EQ(atd::AddHestErrorSources(nullptr, 40, 1, 0), EFI_INVALID_PARAMETER);
  EXPECT_EQ(atd::AddHestErrorSource(nullptr, 40, 0, 0), EFI_INVALID_PARAMETER);
  EXPECT_TRUE(P().calls.empty());

  P().Fail("AllocatePool", EFI_OUT_OF_RESOURCES);
  EXPECT_EQ(atd::AddHestErrorSource(source.data(), 40, 0, 0), EFI_OUT_OF_RESOURCES);
  EXPECT_EQ(Hest(), before);
  EXPECT_EQ(HestKey(), oldKey);
}

TEST_F(HestAppend, SizeThatWouldWrapTheLengthIsRefused) {
  Setup(0, {});
  auto* t = sim::acpi::Store(P()).Find(kHestSignature);
  const uint32_t huge = 0xFFFFFFF0;  // only the header is real
  std::memcpy(t->bytes.data() + 4, &huge, 4);
  const Bytes before = Hest();
  const Bytes source = MachineCheckSource(1);
  EXPECT_EQ(atd::AddHestErrorSource(source.data(), 40, 0, 0), EFI_INVALID_PARAMETER);
  EXPECT_EQ(Hest(), before);
  EXPECT_EQ(std::count(P().calls.begin(), P().calls.end(), "AllocatePool"), 0);
}

TEST_F(HestAppend, TableShorterThanItsCountFieldIsRefused) {
  sim::acpi::InstallBert(P(), Block(0, 20, 0, 0, 3));
  Bytes shortHest = sim::acpi::Header(kHestSignature, 36, 1);
  sim::acpi::SetChecksum(shortHest);
  sim::acpi::Store(P()).Add(shortHest);
  const Bytes source = MachineCheckSource(1);
  EXPECT_EQ(atd::AddHestErrorSource(source.data(), 40, 0, 0), EFI_VOLUME_CORRUPTED);
  EXPECT_EQ(Hest(), shortHest);
}

TEST_F(HestAppend, UninstallFailureIsNotReported) {
  Setup(0, {});
  P().Fail("UninstallAcpiTable", EFI_ACCESS_DENIED);
  const Bytes source = MachineCheckSource(1);
  EXPECT_EQ(atd::AddHestErrorSource(source.data(), 40, 0, 0), EFI_SUCCESS);
  EXPECT_EQ(HestCount(), 2u);  // the old one stayed; the new one is there as well
}

TEST_F(HestAppend, FailedInstallPutsTheOriginalTableBack) {
  Setup(2, Cat(MachineCheckSource(0), MachineCheckSource(1)));
  const Bytes original = Hest();
  P().Fail("InstallAcpiTable", EFI_OUT_OF_RESOURCES);
  const Bytes source = MachineCheckSource(2);
  EXPECT_EQ(atd::AddHestErrorSource(source.data(), 40, 0, 0), EFI_OUT_OF_RESOURCES);
  EXPECT_EQ(Hest(), original);
  EXPECT_TRUE(ChecksumOk(Hest()));
  EXPECT_NE(HestKey(), oldKey);
  EXPECT_EQ(HestCount(), 1u);
  EXPECT_EQ(P().OutstandingBlocks(EfiACPIMemoryNVS), 1u);  // the copy freed
  EXPECT_EQ(P().calls, (std::vector<std::string>{
                           "LocateProtocol", "LocateProtocol", "GetAcpiTable", "GetAcpiTable",
                           "AllocatePool", "CopyMem", "CopyMem", "UninstallAcpiTable",
                           "InstallAcpiTable", "InstallAcpiTable", "FreePool"}));
}

TEST_F(HestAppend, MissingProtocolsOrTable) {
  const Bytes source = MachineCheckSource(1);
  {
    sim::Platform q;
    diag::gBS = q.BootServices();
    sim::acpi::InstallProtocols(q, false, true);
    sim::acpi::InstallHest(q, 0, {});
    EXPECT_EQ(atd::AddHestErrorSource(source.data(), 40, 0, 0), EFI_NOT_FOUND);
    EXPECT_EQ(q.calls, std::vector<std::string>{"LocateProtocol"});
  }
  {
    sim::Platform q;
    diag::gBS = q.BootServices();
    sim::acpi::InstallProtocols(q);
    sim::acpi::InstallBert(q, Block(0, 20, 0, 0, 3));
    EXPECT_EQ(atd::AddHestErrorSource(source.data(), 40, 0, 0), EFI_NOT_FOUND);
    EXPECT_EQ(q.OutstandingBlocks(EfiACPIMemoryNVS), 1u);
  }
  diag::gBS = P().BootServices();
}

}  // namespace
