// What the operations keep: the BERT append keeps its new region (ACPI NVS,
// the old one freed), the HEST append and the snapshot keep nothing;
// MemTuneSmm keeps its SMRAM range list from the start and the setup
// working copy from its first update on, and nothing else in any pool.
#include "pi/acpi_tables.h"
#include "sim/acpi/acpi_tables.h"
#include "sim/platform/pool_accounting.h"
#include "sim/smm/profile_smm.h"
#include "sim/smm/smm.h"
#include "mem_tune/driver_entry.h"
#include "mem_tune/driver_globals.h"
#include "mem_tune/setup_variable.h"
#include "tests/reliability/atd_world.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

using Bytes = std::vector<uint8_t>;

struct AcpiWorld : rel::AtdWorld {
  AcpiWorld() {
    sim::acpi::InstallProtocols(p);
    sim::acpi::InstallBert(p, sim::acpi::EmptyErrorStatusBlock());
    sim::acpi::InstallHest(p, 0, {});
    EXPECT_EQ(Boot(), EFI_SUCCESS);
  }
};

TEST(PoolAccounting, BertAppendKeepsOnlyTheNewRegion) {
  AcpiWorld w;
  const Bytes entry(72, 0x33);
  size_t regionSize = sizeof(GenericErrorStatusBlock);
  for (int i = 0; i < 4; ++i) {
    sim::PoolCheckpoint before(w.p);
    const auto report = sim::OutstandingPools(w.p);
    ASSERT_EQ(w.Protocol()->AppendBertRecord(entry.data(), 72, i % 2 ? 1 : 2, 2), EFI_SUCCESS);
    const auto obtained = before.Obtained();
    const auto released = before.Released();
    ASSERT_EQ(obtained.size(), 1u) << i;
    ASSERT_EQ(released.size(), 1u) << i;
    EXPECT_EQ(obtained[0].type, EfiACPIMemoryNVS);
    EXPECT_EQ(obtained[0].size, regionSize + 72);
    EXPECT_EQ(released[0].type, EfiACPIMemoryNVS);
    EXPECT_EQ(released[0].size, regionSize);
    // The BERT points at the block that stays.
    const Bytes bert = sim::acpi::TableBytes(w.p, kBertSignature);
    uint64_t region = 0;
    std::memcpy(&region, bert.data() + 40, 8);
    EXPECT_EQ(reinterpret_cast<uint64_t>(obtained[0].address), region);
    regionSize += 72;
    // Per type: one ACPI NVS block, 72 bytes more; nothing else moved.
    auto after = sim::OutstandingPools(w.p);
    EXPECT_EQ(after[EfiACPIMemoryNVS].blocks, report.at(EfiACPIMemoryNVS).blocks);
    EXPECT_EQ(after[EfiACPIMemoryNVS].bytes, report.at(EfiACPIMemoryNVS).bytes + 72);
    after.erase(EfiACPIMemoryNVS);
    auto was = report;
    was.erase(EfiACPIMemoryNVS);
    EXPECT_EQ(sim::Describe(after), sim::Describe(was));
  }
}

TEST(PoolAccounting, HestAppendsAndSnapshotsKeepNothing) {
  AcpiWorld w;
  const Bytes sources(120, 0x11);
  const std::string start = sim::Describe(sim::OutstandingPools(w.p));
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(w.Protocol()->AddHestErrorSources(sources.data(), 120, 3, 0), EFI_SUCCESS);
    EXPECT_EQ(w.Protocol()->AddHestErrorSource(sources.data(), 40, 0, 0), EFI_SUCCESS);
    // Refused calls keep nothing either.
    EXPECT_EQ(w.Protocol()->AddHestErrorSources(sources.data(), 120, 0, 0), EFI_UNSUPPORTED);
    EXPECT_EQ(w.Protocol()->AppendBertRecord(sources.data(), 8, 9, 0), EFI_UNSUPPORTED);
    McaBankSnapshot snapshot{};
    snapshot.processorNumber = 1;
    EXPECT_EQ(w.Protocol()->CaptureMcaBanks(&snapshot), EFI_SUCCESS);
    snapshot.processorNumber = 7;
    EXPECT_EQ(w.Protocol()->CaptureMcaBanks(&snapshot), EFI_INVALID_PARAMETER);
    EXPECT_EQ(sim::Describe(sim::OutstandingPools(w.p)), start) << i;
  }
  // The HEST grew by all of it.
  const Bytes hest = sim::acpi::TableBytes(w.p, kHestSignature);
  EXPECT_EQ(hest.size(), sizeof(AcpiHestHeader) + 3 * 160);
}

struct SmmWorld {
  sim::Platform p;
  SmmWorld() {
    using namespace sim::profile;
    LoadSmm(DefaultSmm(), "$.smm", p);
    LoadMemTuneProvider(DefaultMemTuneProvider(), "$.memTuneProvider", p);
    LoadVariables(DefaultVariables(), "$.variables", p);
    LoadMemoryController(DefaultMemoryController(), "$.memoryController", p);
  }
  void Send(uint32_t command) {
    sim::smm::Mailbox(p)->Command = command;
    sim::smm::Mailbox(p)->Request = kMailboxRequestPending;
    sim::smm::RaiseSwSmi(p, 0x9D);
  }
};

TEST(PoolAccounting, MemTuneSmmKeepsTheRangeListAndOneWorkingCopy) {
  SmmWorld w;
  const std::string bootPools = sim::Describe(sim::OutstandingPools(w.p));
  ASSERT_EQ(mts::ImageEntry(w.p.ImageHandle(), w.p.SystemTable()), EFI_SUCCESS);
  // After the entry: the range list only (two ranges of 32 bytes).
  sim::PoolReport want;
  want[EfiRuntimeServicesData] = {1, 64};
  EXPECT_EQ(sim::Describe(sim::OutstandingSmramPools(w.p)), sim::Describe(want));

  // Read requests keep nothing.
  for (int i = 0; i < 3; ++i) w.Send(kMailboxCommandReadCurrent);
  EXPECT_EQ(sim::Describe(sim::OutstandingSmramPools(w.p)), sim::Describe(want));

  // The first update makes the working copy, the size of the variable.
  w.Send(0x2);
  want[EfiRuntimeServicesData] = {2, 64 + 0x200};
  EXPECT_EQ(sim::Describe(sim::OutstandingSmramPools(w.p)), sim::Describe(want));
  for (uint32_t command : {0x4u, 0x4000u, 0x1u, 0x12345u}) w.Send(command);
  EXPECT_EQ(sim::Describe(sim::OutstandingSmramPools(w.p)), sim::Describe(want));

  // A larger variable: the copy is replaced by a larger one, the old one freed.
  auto* v = sim::smm::FindVariable(w.p, u"TivSetup", mts::kTivSetupGuid);
  v->data.resize(0x300, 0);
  w.Send(0x8);
  want[EfiRuntimeServicesData] = {2, 64 + 0x300};
  EXPECT_EQ(sim::Describe(sim::OutstandingSmramPools(w.p)), sim::Describe(want));
  // A smaller one later: the larger copy stays.
  v->data.resize(0x100);
  w.Send(0x8);
  EXPECT_EQ(sim::Describe(sim::OutstandingSmramPools(w.p)), sim::Describe(want));

  // Nothing of MemTuneSmm in the boot-services pools.
  EXPECT_EQ(sim::Describe(sim::OutstandingPools(w.p)), bootPools);
}

TEST(PoolAccounting, FailedMemTuneEntryKeepsNothing) {
  SmmWorld w;
  w.p.Fail("SwSmiRegister", EFI_OUT_OF_RESOURCES);
  EXPECT_EQ(mts::ImageEntry(w.p.ImageHandle(), w.p.SystemTable()), EFI_OUT_OF_RESOURCES);
  EXPECT_EQ(sim::Describe(sim::OutstandingSmramPools(w.p)), "none");
}

}  // namespace
