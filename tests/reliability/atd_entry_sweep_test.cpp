// Every platform call of AddrTranslateDxe's start-up made to fail in turn:
// the constructors' calls end in a claimed fatal stop or are shrugged off and
// start-up goes on; the driver entry's calls end the entry with the
// documented status and nothing installed.
#include "diag/heap_records.h"
#include "sim/platform/pool_accounting.h"
#include "tests/reliability/atd_world.h"
#include "tests/reliability/fault_sweep.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>

namespace {

using rel::AtdWorld;
using rel::FailedCall;

// What start-up should look like after one failed call.
struct EntryOutcome {
  EFI_STATUS status;          // image entry result (kInjected: the injected status)
  bool translationInstalled;  //
  size_t heapListsInstalled;  // HeapListProtocol instances in the database
  int missingRecord;          // heap record (index) not copied, -1: none
  uint32_t stopCode;          // first POST code, 0: no fatal stop
  bool completes;             // later calls are made as without failure...
  size_t dropped = 0;         // ...except this many right after the failed one
};
constexpr EFI_STATUS kInjected = ~EFI_STATUS{0};

// Roles of the calls of a start-up with no earlier heap list, by name and
// occurrence: heap-list locate, the heap-list interface's allocation, one
// allocation per heap record, heap-list install, record allocation, MP
// locate, topology locate, processor count, protocol install.
EntryOutcome ExpectedFresh(const FailedCall& c) {
  const size_t records = rel::AtdHeapRecords().size();
  if (c.name == "LocateProtocol" && c.occurrence == 0)  // no heap list there: build one
    return {EFI_SUCCESS, true, 1, -1, 0, true};
  if (c.name == "AllocatePool" && c.occurrence == 0)  // the list stays private, unpublished
    return {EFI_SUCCESS, true, 0, -1, 0x00070268u, true};
  if (c.name == "AllocatePool" && c.occurrence <= records) {
    const size_t record = c.occurrence - 1;
    const bool runtime = rel::AtdHeapRecords()[record].poolKind == 8;
    // No block: neither the header nor the data is copied.
    return {EFI_SUCCESS, true, 1, static_cast<int>(record), runtime ? 0x00070177u : 0x00070180u,
            true,        2};
  }
  if (c.name == "InstallProtocolInterface" && c.occurrence == 0)
    return {EFI_SUCCESS, true, 0, -1, 0x00070268u, true};
  if (c.name == "AllocatePool" && c.occurrence == records + 1)
    return {kInjected, false, 1, -1, 0, false};
  if (c.name == "LocateProtocol" && (c.occurrence == 1 || c.occurrence == 2))
    return {kInjected, false, 1, -1, 0, false};
  if (c.name == "GetNumberOfProcessors" && c.occurrence == 0)
    return {EFI_SUCCESS, true, 1, -1, 0, true};
  if (c.name == "InstallProtocolInterface" && c.occurrence == 1)
    return {EFI_PROTOCOL_ERROR, false, 1, -1, 0, false};
  ADD_FAILURE() << "no expectation for " << c.Label();
  return {};
}

// With an earlier driver's heap list: its locate failing makes this driver
// build and install its own; no HOB is walked otherwise.
EntryOutcome ExpectedWithEarlier(const FailedCall& c) {
  const size_t records = rel::AtdHeapRecords().size();
  if (c.name == "LocateProtocol" && c.occurrence == 0) return {EFI_SUCCESS, true, 2, -1, 0, true};
  if (c.name == "AllocatePool" && c.occurrence == 0) return {kInjected, false, 1, -1, 0, false};
  if (c.name == "LocateProtocol" && (c.occurrence == 1 || c.occurrence == 2))
    return {kInjected, false, 1, -1, 0, false};
  if (c.name == "GetNumberOfProcessors") return {EFI_SUCCESS, true, 1, -1, 0, true};
  if (c.name == "InstallProtocolInterface" && c.occurrence == 0)
    return {EFI_PROTOCOL_ERROR, false, 1, -1, 0, false};
  ADD_FAILURE() << "no expectation for " << c.Label() << " (records " << records << ")";
  return {};
}

void CheckEntry(AtdWorld& w, const FailedCall& c, const EntryOutcome& want, bool earlier) {
  // A driver-entry step that fails after the record's allocation gives the
  // record back: nothing was installed with it.
  const bool recordFreed = !want.completes && c.name != "AllocatePool";
  const EFI_STATUS status = want.status == kInjected ? c.status : want.status;
  EXPECT_EQ(w.status, status);
  EXPECT_EQ(w.p.CountInstalled(gTranslationProtocolGuid), want.translationInstalled ? 1u : 0u);
  EXPECT_EQ(w.p.CountInstalled(diag::gHeapListProtocolGuid), want.heapListsInstalled);
  if (want.completes && earlier && c.name == "LocateProtocol" && c.occurrence == 0) {
    // The earlier list was not found: the HOBs are walked as on a fresh boot.
    const rel::Calls fresh = {"LocateProtocol",
                              "AllocatePool",
                              "AllocatePool",
                              "CopyMem",
                              "CopyMem",
                              "AllocatePool",
                              "CopyMem",
                              "CopyMem",
                              "InstallProtocolInterface",
                              "AllocatePool",
                              "LocateProtocol",
                              "LocateProtocol",
                              "GetNumberOfProcessors",
                              "InstallProtocolInterface"};
    EXPECT_EQ(w.p.calls, fresh);
  } else if (!earlier && c.name == "AllocatePool" && c.occurrence == 0) {
    // No interface for the list: everything as without failure, less the
    // heap-list install.
    rel::Calls expected = *c.baseline;
    expected.erase(std::find(expected.begin(), expected.end(), "InstallProtocolInterface"));
    EXPECT_EQ(w.p.calls, expected);
  } else if (want.completes) {
    rel::Calls expected = *c.baseline;
    expected.erase(expected.begin() + c.index + 1, expected.begin() + c.index + 1 + want.dropped);
    EXPECT_EQ(w.p.calls, expected);
  } else if (recordFreed) {
    rel::Calls expected = c.UpToFailure();
    expected.push_back("FreePool");
    EXPECT_EQ(w.p.calls, expected) << "only the record given back after the failed step";
  } else {
    EXPECT_EQ(w.p.calls, c.UpToFailure()) << "no platform call after the failed step";
  }

  // The heap list: this driver's records, less the one whose block failed;
  // an earlier driver's list when that one was found.
  std::vector<uint32_t> wantHandles;
  const bool usesEarlier = earlier && !(c.name == "LocateProtocol" && c.occurrence == 0);
  if (!usesEarlier) {
    for (size_t i = 0; i < rel::AtdHeapRecords().size(); ++i)
      if (static_cast<int>(i) != want.missingRecord)
        wantHandles.push_back(rel::AtdHeapRecords()[i].handle);
  }
  EXPECT_EQ(rel::HeapListHandles(), wantHandles);

  // Fatal stops: claimed by the simulator, so they return; the code is the
  // first POST write. No POST write at all otherwise.
  const auto post = w.p.trace.PortWrites(0x80);
  if (want.stopCode != 0) {
    ASSERT_FALSE(post.empty());
    EXPECT_EQ(post.front().value, want.stopCode);
  } else {
    EXPECT_TRUE(post.empty());
  }

  // Pools: one block per copied record (runtime or boot-services data) and,
  // once obtained, the 48-byte record, unless a later step of the driver
  // entry failed.
  sim::PoolReport pools;
  for (size_t i = 0; i < wantHandles.size(); ++i) {
    for (const auto& r : rel::AtdHeapRecords()) {
      if (r.handle != wantHandles[i]) continue;
      auto& t = pools[r.poolKind == 8 ? EfiRuntimeServicesData : EfiBootServicesData];
      ++t.blocks;
      t.bytes += r.data.size() + sizeof(diag::HeapBuffer);
    }
  }
  // The heap-list interface, when this driver built its own list.
  const bool ownList = !usesEarlier && !(!earlier && c.name == "AllocatePool" && c.occurrence == 0);
  if (ownList) {
    auto& t = pools[EfiBootServicesData];
    ++t.blocks;
    t.bytes += sizeof(diag::HeapListInterface);
  }
  const size_t recordAllocation = earlier ? 0 : rel::AtdHeapRecords().size() + 1;
  const bool recordObtained = !(c.name == "AllocatePool" && c.occurrence == recordAllocation);
  if (recordObtained && !recordFreed) {
    auto& t = pools[EfiBootServicesData];
    ++t.blocks;
    t.bytes += sizeof(TranslationProtocol);
  }
  EXPECT_EQ(sim::Describe(sim::OutstandingPools(w.p)), sim::Describe(pools));
}

TEST(FaultSweep, AddrTranslateDxeStartUp) {
  size_t total = 0;
  for (bool earlier : {false, true}) {
    SCOPED_TRACE(earlier ? "earlier heap list" : "fresh boot");
    total += rel::Sweep<AtdWorld>(
        [earlier] { return std::make_unique<AtdWorld>(earlier); }, [](AtdWorld& w) { w.Boot(); },
        [earlier](AtdWorld& w, const FailedCall& c) {
          CheckEntry(w, c, earlier ? ExpectedWithEarlier(c) : ExpectedFresh(c), earlier);
        });
  }
  // Fresh boot: 10 calls that can fail, with an earlier list: 6; two statuses each.
  EXPECT_EQ(total, 2u * (10 + 6));
  ::testing::Test::RecordProperty("cases", static_cast<int>(total));
  std::printf("fault-injection cases (AddrTranslateDxe start-up): %zu\n", total);
}

}  // namespace
