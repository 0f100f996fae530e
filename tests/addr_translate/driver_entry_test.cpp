// Start-up of AddrTranslateDxe on the simulated platform: the constructors in
// their order, the driver entry's steps and every way it can fail.
#include "addr_translate/driver_entry.h"
#include "addr_translate/driver_globals.h"
#include "addr_translate/errors/error_slots.h"
#include "addr_translate/translation_slots.h"
#include "diag/boot_services_table.h"
#include "diag/heap_records.h"
#include "sim/platform/hob_builder.h"
#include "sim/platform/platform.h"
#include "sim/topology/topology_double.h"
#include "translation_protocol.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
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

TEST_F(DriverEntry, EveryFailureOfTheDriverEntryIsReturnedAndNothingIsInstalled) {
  struct Case {
    const char* name;
    std::function<void(Platform&, sim::TopologyDouble&)> arrange;
    EFI_STATUS want;
    Calls callsAfterHeapList;
  };
  const Case cases[] = {
      {"record allocation fails",
       [](Platform& q, sim::TopologyDouble&) {
         q.Fail("AllocatePool", EFI_OUT_OF_RESOURCES, /*skip=*/1);
       },
       EFI_OUT_OF_RESOURCES,
       {"AllocatePool"}},
      // Every later failure gives the record back: nothing holds it.
      {"MP services locate fails",
       [](Platform& q, sim::TopologyDouble&) {
         q.Fail("LocateProtocol", EFI_ACCESS_DENIED, /*skip=*/1);
       },
       EFI_ACCESS_DENIED,
       {"AllocatePool", "LocateProtocol", "FreePool"}},
      {"MP services found with a null interface",
       [](Platform& q, sim::TopologyDouble&) {
         q.Uninstall(q.HandlesWith(kMpServicesProtocolGuid)[0], kMpServicesProtocolGuid,
                     q.MpServices());
         EFI_HANDLE h = nullptr;
         q.Install(&h, kMpServicesProtocolGuid, nullptr);
       },
       EFI_NOT_FOUND,
       {"AllocatePool", "LocateProtocol", "FreePool"}},
      {"topology locate fails",
       [](Platform& q, sim::TopologyDouble&) { q.Fail("LocateProtocol", EFI_DEVICE_ERROR, 2); },
       EFI_DEVICE_ERROR,
       {"AllocatePool", "LocateProtocol", "LocateProtocol", "FreePool"}},
      {"topology found with a null interface",
       [](Platform& q, sim::TopologyDouble& t) {
         q.Uninstall(t.handle, gPlatformTopologyProtocolGuid, &t.iface);
         EFI_HANDLE h = nullptr;
         q.Install(&h, gPlatformTopologyProtocolGuid, nullptr);
       },
       EFI_NOT_FOUND,
       {"AllocatePool", "LocateProtocol", "LocateProtocol", "FreePool"}},
      {"install fails",
       [](Platform& q, sim::TopologyDouble&) {
         q.Fail("InstallProtocolInterface", EFI_OUT_OF_RESOURCES, /*skip=*/1);
       },
       EFI_PROTOCOL_ERROR,
       {"AllocatePool", "LocateProtocol", "LocateProtocol", "GetNumberOfProcessors",
        "InstallProtocolInterface", "FreePool"}},
      {"install fails with an odd status",
       [](Platform& q, sim::TopologyDouble&) {
         q.Fail("InstallProtocolInterface", EFI_INVALID_PARAMETER, 1);
       },
       EFI_PROTOCOL_ERROR,
       {"AllocatePool", "LocateProtocol", "LocateProtocol", "GetNumberOfProcessors",
        "InstallProtocolInterface", "FreePool"}},
      {"install returns a warning: passed on as it is",
       [](Platform& q, sim::TopologyDouble&) {
         q.Fail("InstallProtocolInterface", EFI_WARN_UNKNOWN_GLYPH, 1);
       },
       EFI_WARN_UNKNOWN_GLYPH,
       {"AllocatePool", "LocateProtocol", "LocateProtocol", "GetNumberOfProcessors",
        "InstallProtocolInterface"}},
  };
  for (const Case& c : cases) {
    atd::ResetDriverGlobals();
    Platform q;
    q.InstallMpServices();
    sim::TopologyDouble t;
    t.Install(q, channelTable.data());
    q.calls.clear();
    c.arrange(q, t);
    EXPECT_EQ(atd::ImageEntry(q.ImageHandle(), q.SystemTable()), c.want) << c.name;
    EXPECT_EQ(q.CountInstalled(gTranslationProtocolGuid), 0u) << c.name;
    // The constructors' work stays in place.
    EXPECT_EQ(q.CountInstalled(diag::gHeapListProtocolGuid), 1u) << c.name;
    Calls want = {"LocateProtocol", "AllocatePool", "InstallProtocolInterface"};
    want.insert(want.end(), c.callsAfterHeapList.begin(), c.callsAfterHeapList.end());
    EXPECT_EQ(q.calls, want) << c.name;
    // The record is allocated, and kept, only where it was installed (a warning).
    size_t records = 0;
    for (const auto& [at, block] : q.Pools())
      records += block.type == EfiBootServicesData && block.size == sizeof(TranslationProtocol);
    EXPECT_EQ(records, c.want == EFI_WARN_UNKNOWN_GLYPH ? 1u : 0u) << c.name;
  }
}

TEST(DriverEntryMissing, MissingProtocolsEndTheEntryWithNotFound) {
  std::vector<uint8_t> table(64, 0);
  for (bool withMp : {false, true}) {
    atd::ResetDriverGlobals();
    Platform q;
    if (withMp) q.InstallMpServices();
    sim::TopologyDouble t;
    if (!withMp) t.Install(q, table.data());  // only one of the two present
    EXPECT_EQ(atd::ImageEntry(q.ImageHandle(), q.SystemTable()), EFI_NOT_FOUND) << withMp;
    EXPECT_EQ(q.CountInstalled(gTranslationProtocolGuid), 0u);
  }
  atd::ResetDriverGlobals();
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

TEST_F(DriverEntry, GetNumberOfProcessorsFailingDoesNotMatter) {
  p.Fail("GetNumberOfProcessors", EFI_DEVICE_ERROR);
  EXPECT_EQ(Run(), EFI_SUCCESS);
  EXPECT_EQ(p.CountInstalled(gTranslationProtocolGuid), 1u);
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

TEST_F(DriverEntry, FailedHeapListInstallIsAFatalStopAndStartUpGoesOn) {
  p.Fail("InstallProtocolInterface", EFI_OUT_OF_RESOURCES);  // the first: the heap list
  EXPECT_EQ(Run(), EFI_SUCCESS);
  const auto writes = p.trace.PortWrites(0x80);
  ASSERT_FALSE(writes.empty());
  EXPECT_EQ(writes[0].value, 0x00070268u);
  EXPECT_EQ(p.trace.Events().front(), sim::IoW(0xE0, 2, 0xDEAD));
  EXPECT_EQ(p.CountInstalled(gTranslationProtocolGuid), 1u);
}

}  // namespace
