// AddHestErrorSources / AddHestErrorSource: the reinstalled table's bytes,
// the call sequence around the uninstall and install, and the restore of the
// original table when the install fails.
#include "acpi_fixture.h"

#include <algorithm>

namespace {

using namespace errors_test;

class HestAppend : public AcpiPlatform {
 protected:
  void InstallTable(uint32_t count, const Bytes& sources) {
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
  InstallTable(1, MachineCheckSource(0));
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
  InstallTable(0, {});
  const Bytes sources = Cat(GenericHardwareSource(1, 0x1000), MachineCheckSource(2));
  ASSERT_EQ(atd::AddHestErrorSources(sources.data(), static_cast<uint32_t>(sources.size()), 2, 0),
            EFI_SUCCESS);
  const Bytes hest = Hest();
  EXPECT_EQ(hest.size(), 40 + sources.size());
  EXPECT_EQ(U32At(hest, 36), 2u);
  EXPECT_EQ(Bytes(hest.begin() + 40, hest.end()), sources);
  EXPECT_TRUE(ChecksumOk(hest));
}

// The operating system walks Error Source Count structures, each as long as
// its type (and bank count) makes it: a count that disagrees with the bytes,
// or one that would wrap the table's count, is refused before anything is
// allocated. Where a type's length is not known, the caller's count stands.
TEST_F(HestAppend, CountMustAgreeWithTheStructuresGiven) {
  Bytes twoBanks = MachineCheckSource(3);
  twoBanks[32] = 2;  // two 28-byte bank structures follow
  twoBanks.resize(40 + 2 * 28, 0);
  Bytes unknownType(24, 0x11);
  unknownType[0] = 12, unknownType[1] = 0;
  const Bytes two = Cat(GenericHardwareSource(1, 0x1000), MachineCheckSource(2));
  struct Case {
    const char* name;
    uint32_t oldCount;
    Bytes data;
    uint32_t count;
    EFI_STATUS status;
  };
  const Case cases[] = {
      {"two structures, count 2", 0, two, 2, EFI_SUCCESS},
      {"two structures, count 3", 0, two, 3, EFI_INVALID_PARAMETER},
      {"two structures, count 1", 0, two, 1, EFI_INVALID_PARAMETER},
      {"no bytes, count 1", 0, {}, 1, EFI_INVALID_PARAMETER},
      {"a structure cut short", 0, Bytes(two.begin(), two.end() - 1), 2, EFI_INVALID_PARAMETER},
      {"banks counted in", 0, twoBanks, 1, EFI_SUCCESS},
      {"bank structures missing", 0, Bytes(twoBanks.begin(), twoBanks.begin() + 68), 1,
       EFI_INVALID_PARAMETER},
      {"a type of unknown length after a known one", 0, Cat(MachineCheckSource(4), unknownType), 5,
       EFI_SUCCESS},
      {"count reaching 2^32 - 1", 0xFFFFFFFE, MachineCheckSource(5), 1, EFI_SUCCESS},
      {"count wrapping past 2^32 - 1", 0xFFFFFFFF, MachineCheckSource(5), 1, EFI_INVALID_PARAMETER},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Reset();
    InstallTable(c.oldCount, {});
    const Bytes before = Hest();
    EXPECT_EQ(
        atd::AddHestErrorSources(c.data.data(), static_cast<uint32_t>(c.data.size()), c.count, 0),
        c.status);
    if (c.status == EFI_SUCCESS) {
      const Bytes hest = Hest();
      EXPECT_EQ(U32At(hest, 36), c.oldCount + c.count);
      EXPECT_EQ(Bytes(hest.begin() + 40, hest.end()), c.data);
    } else {
      EXPECT_EQ(Hest(), before);
      EXPECT_EQ(HestKey(), oldKey);
      EXPECT_EQ(std::count(P().calls.begin(), P().calls.end(), "AllocatePool"), 0);
    }
  }
}

TEST_F(HestAppend, RefusalsBeforeAnythingChanges) {
  InstallTable(0, {});
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
  InstallTable(0, {});
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

TEST_F(HestAppend, FailedUninstallKeepsTheOldTableAndInstallsNoSecond) {
  InstallTable(1, MachineCheckSource(0));
  const Bytes original = Hest();
  P().Fail("UninstallAcpiTable", EFI_ACCESS_DENIED);
  const Bytes source = MachineCheckSource(1);
  EXPECT_EQ(atd::AddHestErrorSource(source.data(), 40, 0, 0), EFI_ACCESS_DENIED);
  EXPECT_EQ(HestCount(), 1u);
  EXPECT_EQ(Hest(), original);
  EXPECT_EQ(HestKey(), oldKey);
  EXPECT_EQ(P().OutstandingBlocks(EfiACPIMemoryNVS), 1u);  // the copy freed
  EXPECT_EQ(P().calls, (std::vector<std::string>{"LocateProtocol", "LocateProtocol", "GetAcpiTable",
                                                 "GetAcpiTable", "AllocatePool", "CopyMem",
                                                 "CopyMem", "UninstallAcpiTable", "FreePool"}));
}

TEST_F(HestAppend, FailedInstallPutsTheOriginalTableBack) {
  InstallTable(2, Cat(MachineCheckSource(0), MachineCheckSource(1)));
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
