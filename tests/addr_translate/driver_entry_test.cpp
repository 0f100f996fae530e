// Start-up of AddrTranslateDxe on the simulated platform: the constructors in
// their order, the driver entry's steps and every way it can fail. The ways it
// fails are one table: the cases written out here, on a platform without heap
// records, and every platform call of start-up made to fail in turn (the
// fault-injection sweep, with and without an earlier driver's heap list): the
// constructors' calls end in a claimed fatal stop or are shrugged off and
// start-up goes on; the driver entry's calls end the entry with the documented
// status and nothing installed.
#include "addr_translate/driver_entry.h"
#include "addr_translate/driver_globals.h"
#include "addr_translate/errors/error_slots.h"
#include "addr_translate/translation_slots.h"
#include "diag/boot_services_table.h"
#include "diag/heap_records.h"
#include "sim/platform/hob_builder.h"
#include "sim/platform/platform.h"
#include "sim/platform/pool_accounting.h"
#include "sim/topology/topology_double.h"
#include "tests/reliability/atd_world.h"
#include "tests/reliability/fault_sweep.h"
#include "translation_protocol.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace {

using sim::Platform;
using Calls = std::vector<std::string>;

// A HOB list carrying one heap record to carry into DXE: handle 0xA014, "BUF!".
std::vector<uint64_t> HobsWithDebugBufferRecord() {
  diag::HeapRecordHeader h{diag::HEAP_SIGNATURE, 0xA014, 4, 0, 1, {0, 0}};
  std::vector<uint8_t> data(sizeof h + 4);
  std::memcpy(data.data(), &h, sizeof h);
  std::memcpy(data.data() + sizeof h, "BUF!", 4);
  sim::HobListBuilder b;
  b.AddGuidHob(diag::gHeapHobGuid, data);
  return b.Build();
}

class DriverEntry : public ::testing::Test {
 protected:
  void SetUp() override {
    atd::ResetDriverGlobals();
    p.InstallMpServices();
    topology.processors = {{0, {1, 2, 3, 4, 5}, {}}, {1, {6, 7, 8, 9, 10}, {}}};
    topology.Install(p, channelTable.data());
    p.calls.clear();
  }
  void TearDown() override { atd::ResetDriverGlobals(); }

  EFI_STATUS Run() { return atd::ImageEntry(p.ImageHandle(), p.SystemTable()); }

  Platform p;
  sim::TopologyDouble topology;
  std::vector<uint8_t> channelTable = std::vector<uint8_t>(4096, 0);
};

TEST_F(DriverEntry, InstallsTheSixSlotsInTheirOrderOnANewHandle) {
  EXPECT_EQ(Run(), EFI_SUCCESS);

  ASSERT_EQ(p.CountInstalled(gTranslationProtocolGuid), 1u);
  auto* record = static_cast<TranslationProtocol*>(p.Find(gTranslationProtocolGuid));
  auto block = p.BlockOf(record);
  ASSERT_TRUE(block.has_value());
  EXPECT_EQ(block->type, EfiBootServicesData);
  EXPECT_EQ(block->size, 48u);
  EXPECT_EQ(record->NormalizedToSystem, &atd::NormalizedToSystem);
  EXPECT_EQ(record->SystemToNormalized, &atd::SystemToNormalized);
  EXPECT_EQ(record->AppendBertRecord, &atd::AppendBertRecord);
  EXPECT_EQ(record->AddHestErrorSource, &atd::AddHestErrorSource);
  EXPECT_EQ(record->CaptureMcaBanks, &atd::CaptureMcaBanks);
  EXPECT_EQ(record->AddHestErrorSources, &atd::AddHestErrorSources);

  // A handle of its own: neither the image's nor the topology's.
  const auto handles = p.HandlesWith(gTranslationProtocolGuid);
  EXPECT_NE(handles[0], p.ImageHandle());
  EXPECT_NE(handles[0], topology.handle);

  EXPECT_EQ(diag::gST, p.SystemTable());
  EXPECT_EQ(diag::gBS, p.BootServices());
  EXPECT_EQ(atd::gMpServices, p.MpServices());
  EXPECT_EQ(atd::gPlatformTopology, &topology.iface);
  EXPECT_EQ(static_cast<void*>(atd::gChannelConfigTable), channelTable.data());
}

TEST_F(DriverEntry, ConstructorsRunFirstThenTheDriverEntrySteps) {
  EXPECT_EQ(Run(), EFI_SUCCESS);
  const Calls want = {
      "LocateProtocol",            // heap list: not there yet
      "AllocatePool",              // its interface
      "InstallProtocolInterface",  // heap list installed by this driver
      "AllocatePool",              // the 48-byte record
      "LocateProtocol",            // MP services
      "LocateProtocol",            // PlatformTopologyProtocol
      "GetNumberOfProcessors",     //
      "InstallProtocolInterface",  // TranslationProtocol
  };
  EXPECT_EQ(p.calls, want);
  EXPECT_EQ(p.CountInstalled(diag::gHeapListProtocolGuid), 1u);
}

TEST_F(DriverEntry, HobListIsLookedUpBeforeTheHeapListIsBuilt) {
  auto hobs = HobsWithDebugBufferRecord();
  p.SetConfigurationTable(kHobListGuid, hobs.data());

  EXPECT_EQ(Run(), EFI_SUCCESS);
  diag::HeapBufferQuery q{0xA014, 0, nullptr};
  ASSERT_EQ(diag::FindHeapBuffer(&q), 0u);
  EXPECT_EQ(std::string(static_cast<char*>(q.Data), q.DataSize), "BUF!");
}

// Loaded before the platform's topology component, the entry fails; firmware
// then unloads the image and frees its pages. Nothing installed may point
// into them, and a later load of the driver shares the list the failed one
// published.
TEST(DriverEntryFailedStart, LeavesNoInstalledInterfaceInsideTheImage) {
  atd::ResetDriverGlobals();
  Platform q;
  q.InstallMpServices();
  auto hobs = HobsWithDebugBufferRecord();
  q.SetConfigurationTable(kHobListGuid, hobs.data());

  EXPECT_EQ(atd::ImageEntry(q.ImageHandle(), q.SystemTable()), EFI_NOT_FOUND);
  EXPECT_EQ(q.CountInstalled(gTranslationProtocolGuid), 0u);
  ASSERT_EQ(q.CountInstalled(diag::gHeapListProtocolGuid), 1u);
  for (const auto& e : q.InterfacesWithin(sim::DriverImageRange()))
    ADD_FAILURE() << "interface " << e.iface << " inside the image";
  const auto block = q.BlockOf(q.Find(diag::gHeapListProtocolGuid));
  ASSERT_TRUE(block.has_value());
  EXPECT_EQ(block->type, EfiBootServicesData);

  // Unloaded: the next load starts from a fresh image's globals.
  atd::ResetDriverGlobals();
  std::vector<uint8_t> table(64, 0);
  sim::TopologyDouble t;
  t.Install(q, table.data());
  q.calls.clear();
  EXPECT_EQ(atd::ImageEntry(q.ImageHandle(), q.SystemTable()), EFI_SUCCESS);
  EXPECT_EQ(q.calls, (Calls{"LocateProtocol", "AllocatePool", "LocateProtocol", "LocateProtocol",
                            "GetNumberOfProcessors", "InstallProtocolInterface"}));
  EXPECT_EQ(q.CountInstalled(diag::gHeapListProtocolGuid), 1u);
  diag::HeapBufferQuery query{0xA014, 0, nullptr};
  ASSERT_EQ(diag::FindHeapBuffer(&query), 0u);
  EXPECT_EQ(std::string(static_cast<char*>(query.Data), query.DataSize), "BUF!");
  EXPECT_TRUE(q.InterfacesWithin(sim::DriverImageRange()).empty());
  atd::ResetDriverGlobals();
}

TEST_F(DriverEntry, MpServicesAlreadyKnownAreNotLocatedAgain) {
  EFI_MP_SERVICES_PROTOCOL other = *p.MpServices();
  atd::gMpServices = &other;
  EXPECT_EQ(Run(), EFI_SUCCESS);
  const Calls want = {
      "LocateProtocol", "AllocatePool",          "InstallProtocolInterface", "AllocatePool",
      "LocateProtocol", "GetNumberOfProcessors", "InstallProtocolInterface"};
  EXPECT_EQ(p.calls, want);
  EXPECT_EQ(atd::gMpServices, &other);
}

TEST_F(DriverEntry, HeapListOfAnEarlierDriverIsReused) {
  diag::HeapListInterface earlier{1, {}};
  earlier.Head.Flink = earlier.Head.Blink = &earlier.Head;
  EFI_HANDLE h = nullptr;
  p.Install(&h, diag::gHeapListProtocolGuid, &earlier);
  // Records in the HOBs that must not be walked.
  diag::HeapRecordHeader r{diag::HEAP_SIGNATURE, 0xA014, 0, 0, 1, {0, 0}};
  std::vector<uint8_t> data(sizeof r);
  std::memcpy(data.data(), &r, sizeof r);
  sim::HobListBuilder b;
  b.AddGuidHob(diag::gHeapHobGuid, data);
  auto hobs = b.Build();
  p.SetConfigurationTable(kHobListGuid, hobs.data());

  EXPECT_EQ(Run(), EFI_SUCCESS);
  EXPECT_EQ(p.CountInstalled(diag::gHeapListProtocolGuid), 1u);
  EXPECT_EQ(diag::HeapListHead(), &earlier.Head);
  diag::HeapBufferQuery q{0xA014, 0, nullptr};
  EXPECT_EQ(diag::FindHeapBuffer(&q), 2u);
  const Calls want = {"LocateProtocol", "AllocatePool",          "LocateProtocol",
                      "LocateProtocol", "GetNumberOfProcessors", "InstallProtocolInterface"};
  EXPECT_EQ(p.calls, want);
}

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

// The platforms start-up fails on: Bare has MP services and the topology
// (its processor list given or not) and no HOB list, or only one of the two
// protocols; Fresh and Earlier are the sweep's (rel::AtdWorld: two heap
// records in the HOBs; Earlier: an earlier driver's heap list installed too).
enum class World { Bare, BareWithProcessors, OnlyTopology, OnlyMp, Fresh, Earlier };
constexpr EFI_STATUS kSwept = ~EFI_STATUS{0} - 1;  // each status the sweep injects

// One way start-up goes wrong. Either a platform call fails (its name, the
// occurrence among start-up's calls of that name, the status it returns), or
// `arrange` changes the platform. On Bare platforms the row is run as
// written; Fresh and Earlier rows are what the sweep expects when that call
// fails (roles of the calls with no earlier heap list: heap-list locate, the
// heap-list interface's allocation, one allocation per heap record, heap-list
// install, record allocation, MP locate, topology locate, processor count,
// protocol install).
struct StartUpFailure {
  const char* name;
  World world;
  const char* call;  // nullptr: arrange
  uint32_t occurrence;
  EFI_STATUS status;
  std::function<void(sim::Platform&, sim::TopologyDouble&)> arrange;
  EntryOutcome want;
  // Bare rows: the calls after the heap list's (locate, allocate, install),
  // and the 48-byte records left in the pool, when the row says.
  std::optional<Calls> callsAfterHeapList = std::nullopt;
  int records = -1;
};

StartUpFailure Fails(const char* name, World world, const char* call, uint32_t occurrence,
                     EFI_STATUS status, EntryOutcome want,
                     std::optional<Calls> callsAfterHeapList = std::nullopt, int records = -1) {
  return {name, world, call, occurrence, status, {}, want, std::move(callsAfterHeapList), records};
}
StartUpFailure Arranged(const char* name, World world,
                        std::function<void(sim::Platform&, sim::TopologyDouble&)> arrange,
                        EntryOutcome want, std::optional<Calls> callsAfterHeapList = std::nullopt,
                        int records = -1) {
  return {name,   world, nullptr, 0, 0, std::move(arrange), want, std::move(callsAfterHeapList),
          records};
}

// Outcomes: status, translation installed, heap lists installed, heap record
// not copied, first POST code (fatal stop), start-up completes, calls dropped.
const EntryOutcome kRefused{kInjected, false, 1, -1, 0, false};
const EntryOutcome kGoesOn{EFI_SUCCESS, true, 1, -1, 0, true};
const EntryOutcome kNotFound{EFI_NOT_FOUND, false, 1, -1, 0, false};
const EntryOutcome kProtocolError{EFI_PROTOCOL_ERROR, false, 1, -1, 0, false};
const EntryOutcome kHeapListStop{EFI_SUCCESS, true, 0, -1, 0x00070268u, true};
const Calls kUpToInstall = {"AllocatePool", "LocateProtocol", "LocateProtocol",
                            "GetNumberOfProcessors", "InstallProtocolInterface"};
Calls Then(Calls calls, const char* call) {
  calls.push_back(call);
  return calls;
}

const StartUpFailure kStartUpFailures[] = {
    // Written out, on a platform without heap records.
    Fails("record allocation fails", World::Bare, "AllocatePool", 1, EFI_OUT_OF_RESOURCES, kRefused,
          Calls{"AllocatePool"}, 0),
    // Every later failure gives the record back: nothing holds it.
    Fails("MP services locate fails", World::Bare, "LocateProtocol", 1, EFI_ACCESS_DENIED, kRefused,
          Calls{"AllocatePool", "LocateProtocol", "FreePool"}, 0),
    Arranged(
        "MP services found with a null interface", World::Bare,
        [](sim::Platform& q, sim::TopologyDouble&) {
          q.Uninstall(q.HandlesWith(kMpServicesProtocolGuid)[0], kMpServicesProtocolGuid,
                      q.MpServices());
          EFI_HANDLE h = nullptr;
          q.Install(&h, kMpServicesProtocolGuid, nullptr);
        },
        kNotFound, Calls{"AllocatePool", "LocateProtocol", "FreePool"}, 0),
    Fails("topology locate fails", World::Bare, "LocateProtocol", 2, EFI_DEVICE_ERROR, kRefused,
          Calls{"AllocatePool", "LocateProtocol", "LocateProtocol", "FreePool"}, 0),
    Arranged(
        "topology found with a null interface", World::Bare,
        [](sim::Platform& q, sim::TopologyDouble& t) {
          q.Uninstall(t.handle, gPlatformTopologyProtocolGuid, &t.iface);
          EFI_HANDLE h = nullptr;
          q.Install(&h, gPlatformTopologyProtocolGuid, nullptr);
        },
        kNotFound, Calls{"AllocatePool", "LocateProtocol", "LocateProtocol", "FreePool"}, 0),
    Fails("install fails", World::Bare, "InstallProtocolInterface", 1, EFI_OUT_OF_RESOURCES,
          kProtocolError, Then(kUpToInstall, "FreePool"), 0),
    Fails("install fails with an odd status", World::Bare, "InstallProtocolInterface", 1,
          EFI_INVALID_PARAMETER, kProtocolError, Then(kUpToInstall, "FreePool"), 0),
    // The record is allocated, and kept, only where it was installed.
    Fails("install returns a warning: passed on as it is", World::Bare, "InstallProtocolInterface",
          1, EFI_WARN_UNKNOWN_GLYPH, {EFI_WARN_UNKNOWN_GLYPH, false, 1, -1, 0, false}, kUpToInstall,
          1),
    Arranged("MP services missing", World::OnlyTopology, {}, kNotFound),
    Arranged("topology missing", World::OnlyMp, {}, kNotFound),
    Fails("processor count fails: does not matter", World::BareWithProcessors,
          "GetNumberOfProcessors", 0, EFI_DEVICE_ERROR, kGoesOn),
    // The first install: the heap list. A fatal stop, claimed; start-up goes on.
    Fails("heap-list install fails", World::BareWithProcessors, "InstallProtocolInterface", 0,
          EFI_OUT_OF_RESOURCES, kHeapListStop),

    // Swept, fresh boot.
    Fails("no heap list there: build one", World::Fresh, "LocateProtocol", 0, kSwept, kGoesOn),
    Fails("no heap-list interface: the list stays private, unpublished", World::Fresh,
          "AllocatePool", 0, kSwept, kHeapListStop),
    // No block for a heap record: neither its header nor its data is copied.
    Fails("runtime-data heap record", World::Fresh, "AllocatePool", 1, kSwept,
          {EFI_SUCCESS, true, 1, 0, 0x00070177u, true, 2}),
    Fails("boot-data heap record", World::Fresh, "AllocatePool", 2, kSwept,
          {EFI_SUCCESS, true, 1, 1, 0x00070180u, true, 2}),
    Fails("heap-list install", World::Fresh, "InstallProtocolInterface", 0, kSwept, kHeapListStop),
    Fails("record allocation", World::Fresh, "AllocatePool", 3, kSwept, kRefused),
    Fails("MP services locate", World::Fresh, "LocateProtocol", 1, kSwept, kRefused),
    Fails("topology locate", World::Fresh, "LocateProtocol", 2, kSwept, kRefused),
    Fails("processor count", World::Fresh, "GetNumberOfProcessors", 0, kSwept, kGoesOn),
    Fails("protocol install", World::Fresh, "InstallProtocolInterface", 1, kSwept, kProtocolError),

    // Swept, with an earlier driver's heap list: its locate failing makes this
    // driver build and install its own; no HOB is walked otherwise.
    Fails("earlier heap list not found", World::Earlier, "LocateProtocol", 0, kSwept,
          {EFI_SUCCESS, true, 2, -1, 0, true}),
    Fails("record allocation", World::Earlier, "AllocatePool", 0, kSwept, kRefused),
    Fails("MP services locate", World::Earlier, "LocateProtocol", 1, kSwept, kRefused),
    Fails("topology locate", World::Earlier, "LocateProtocol", 2, kSwept, kRefused),
    Fails("processor count", World::Earlier, "GetNumberOfProcessors", 0, kSwept, kGoesOn),
    Fails("protocol install", World::Earlier, "InstallProtocolInterface", 0, kSwept,
          kProtocolError),
};

// The sweep's row for a failed call.
EntryOutcome Swept(World world, const FailedCall& c) {
  for (const StartUpFailure& f : kStartUpFailures)
    if (f.world == world && f.status == kSwept && c.name == f.call && c.occurrence == f.occurrence)
      return f.want;
  ADD_FAILURE() << "no expectation for " << c.Label();
  return {};
}

// A row on a Bare platform, run as written.
void RunBare(const StartUpFailure& f, std::vector<uint8_t>& channelTable) {
  SCOPED_TRACE(f.name);
  atd::ResetDriverGlobals();
  sim::Platform q;
  sim::TopologyDouble t;
  if (f.world != World::OnlyTopology) q.InstallMpServices();
  if (f.world == World::BareWithProcessors)
    t.processors = {{0, {1, 2, 3, 4, 5}, {}}, {1, {6, 7, 8, 9, 10}, {}}};
  if (f.world != World::OnlyMp) t.Install(q, channelTable.data());
  q.calls.clear();
  if (f.call != nullptr) q.Fail(f.call, f.status, f.occurrence);
  if (f.arrange) f.arrange(q, t);
  const EntryOutcome& want = f.want;
  EXPECT_EQ(atd::ImageEntry(q.ImageHandle(), q.SystemTable()),
            want.status == kInjected ? f.status : want.status);
  EXPECT_EQ(q.CountInstalled(gTranslationProtocolGuid), want.translationInstalled ? 1u : 0u);
  if (f.callsAfterHeapList) {
    // The constructors' work stays in place.
    EXPECT_EQ(q.CountInstalled(diag::gHeapListProtocolGuid), want.heapListsInstalled);
    Calls calls = {"LocateProtocol", "AllocatePool", "InstallProtocolInterface"};
    calls.insert(calls.end(), f.callsAfterHeapList->begin(), f.callsAfterHeapList->end());
    EXPECT_EQ(q.calls, calls);
  }
  if (f.records >= 0) {
    size_t records = 0;
    for (const auto& [at, block] : q.Pools())
      records += block.type == EfiBootServicesData && block.size == sizeof(TranslationProtocol);
    EXPECT_EQ(records, static_cast<size_t>(f.records));
  }
  if (want.stopCode != 0) {
    const auto writes = q.trace.PortWrites(0x80);
    ASSERT_FALSE(writes.empty());
    EXPECT_EQ(writes[0].value, want.stopCode);
    EXPECT_EQ(q.trace.Events().front(), sim::IoW(0xE0, 2, 0xDEAD));
  }
  atd::ResetDriverGlobals();
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
  std::vector<uint8_t> channelTable(4096, 0);
  for (const StartUpFailure& f : kStartUpFailures)
    if (f.world != World::Fresh && f.world != World::Earlier) RunBare(f, channelTable);

  size_t total = 0;
  for (bool earlier : {false, true}) {
    SCOPED_TRACE(earlier ? "earlier heap list" : "fresh boot");
    const World world = earlier ? World::Earlier : World::Fresh;
    total += rel::Sweep<AtdWorld>([earlier] { return std::make_unique<AtdWorld>(earlier); },
                                  [](AtdWorld& w) { w.Boot(); },
                                  [earlier, world](AtdWorld& w, const FailedCall& c) {
                                    CheckEntry(w, c, Swept(world, c), earlier);
                                  });
  }
  // Fresh boot: 10 calls that can fail, with an earlier list: 6; two statuses each.
  EXPECT_EQ(total, 2u * (10 + 6));
  ::testing::Test::RecordProperty("cases", static_cast<int>(total));
  std::printf("fault-injection cases (AddrTranslateDxe start-up): %zu\n", total);
}

}  // namespace
