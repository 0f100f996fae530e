// Heap records carried from the HOB list into pool blocks, the shared list
// published through HeapListProtocol, and the lookup by handle.
#include "addr_translate/driver_globals.h"
#include "diag/boot_services_table.h"
#include "diag/heap_records.h"
#include "diag/hob_list.h"
#include "sim/platform/hob_builder.h"
#include "sim/platform/platform.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

using diag::HeapRecordHeader;
using sim::Platform;

std::vector<uint8_t> Record(uint32_t handle, const std::string& data, uint8_t poolKind = 0,
                            uint8_t state = 1, uint32_t signature = diag::HEAP_SIGNATURE,
                            int64_t dataSize = -1) {
  HeapRecordHeader h{};
  h.Signature = signature;
  h.Handle = handle;
  h.DataSize = dataSize < 0 ? static_cast<uint32_t>(data.size()) : static_cast<uint32_t>(dataSize);
  h.PoolKind = poolKind;
  h.State = state;
  h.Reserved[0] = 0xC1;
  h.Reserved[1] = 0xC2;
  std::vector<uint8_t> out(sizeof h + data.size());
  std::memcpy(out.data(), &h, sizeof h);
  std::memcpy(out.data() + sizeof h, data.data(), data.size());
  return out;
}

struct Found {
  uint32_t status;
  uint32_t size;
  void* data;
  std::string text() const { return data ? std::string(static_cast<char*>(data), size) : ""; }
};

Found Find(uint32_t handle) {
  diag::HeapBufferQuery q{handle, 0xFFFF, reinterpret_cast<void*>(1)};
  const uint32_t s = diag::FindHeapBuffer(&q);
  return {s, q.DataSize, q.Data};
}

class HeapRecords : public ::testing::Test {
 protected:
  void SetUp() override {
    atd::ResetDriverGlobals();
    diag::gST = p.SystemTable();
    diag::gBS = p.BootServices();
  }
  void TearDown() override { atd::ResetDriverGlobals(); }

  // Puts the list in the configuration table and runs the two constructors.
  void Boot(const sim::HobListBuilder& b) {
    hobs = b.Build();
    p.SetConfigurationTable(kHobListGuid, hobs.data());
    diag::HobListConstructor();
    diag::HeapListConstructor();
  }

  Platform p;
  std::vector<uint64_t> hobs;
};

TEST_F(HeapRecords, CarriedRecordsAreCopiedInHobOrderAndFoundByHandle) {
  const EFI_GUID other = {0x1, 0x2, 0x3, {4, 5, 6, 7, 8, 9, 10, 11}};
  sim::HobListBuilder b;
  b.AddOther(3, 32)
      .AddGuidHob(diag::gHeapHobGuid, Record(0xA014, "runtime bytes", 8))
      .AddGuidHob(other, Record(0x77, "not a heap hob"))
      .AddGuidHob(diag::gHeapHobGuid, Record(0x10, "boot", 0))
      .AddGuidHob(diag::gHeapHobGuid, Record(0x11, "kind four", 4))
      .AddGuidHob(diag::gHeapHobGuid, Record(0x12, "no signature", 0, 1, 0x50414549))
      .AddGuidHob(diag::gHeapHobGuid, Record(0x13, "state 2", 0, 2))
      .AddGuidHob(diag::gHeapHobGuid, Record(0x10, "second with handle 0x10", 0))
      .AddGuidHob(diag::gHeapHobGuid, Record(0x14, "", 0));
  Boot(b);

  struct Want {
    uint32_t handle;
    uint32_t status;
    std::string text;
    EFI_MEMORY_TYPE type;
  };
  const Want wants[] = {
      {0xA014, 0, "runtime bytes", EfiRuntimeServicesData},
      {0x10, 0, "boot", EfiBootServicesData},  // the earlier HOB wins
      {0x11, 0, "kind four", EfiBootServicesData},
      {0x12, 2, "", EfiBootServicesData},
      {0x13, 2, "", EfiBootServicesData},
      {0x77, 2, "", EfiBootServicesData},
      {0x14, 0, "", EfiBootServicesData},
      {0x999, 2, "", EfiBootServicesData},
  };
  for (const Want& w : wants) {
    const Found f = Find(w.handle);
    EXPECT_EQ(f.status, w.status) << w.handle;
    EXPECT_EQ(f.text(), w.text) << w.handle;
    if (w.status != 0) {
      EXPECT_EQ(f.data, nullptr);
      EXPECT_EQ(f.size, 0u);
      continue;
    }
    // Data sits 32 bytes into a pool block of DataSize + 32 of the right type.
    auto* block = static_cast<uint8_t*>(f.data) - 32;
    auto info = p.BlockOf(block);
    ASSERT_TRUE(info.has_value()) << w.handle;
    EXPECT_EQ(info->type, w.type) << w.handle;
    EXPECT_EQ(info->size, w.text.size() + 32) << w.handle;
    // The header is copied whole, reserved bytes included.
    const auto* header = reinterpret_cast<const HeapRecordHeader*>(block + 16);
    EXPECT_EQ(header->Handle, w.handle);
    EXPECT_EQ(header->Reserved[0], 0xC1);
    EXPECT_EQ(header->Reserved[1], 0xC2);
  }

  // Five nodes, linked both ways in HOB order.
  LIST_ENTRY* head = diag::HeapListHead();
  std::vector<uint32_t> forward, backward;
  for (LIST_ENTRY* l = head->Flink; l != head; l = l->Flink)
    forward.push_back(reinterpret_cast<diag::HeapBuffer*>(l)->Header.Handle);
  for (LIST_ENTRY* l = head->Blink; l != head; l = l->Blink)
    backward.insert(backward.begin(), reinterpret_cast<diag::HeapBuffer*>(l)->Header.Handle);
  EXPECT_EQ(forward, (std::vector<uint32_t>{0xA014, 0x10, 0x11, 0x10, 0x14}));
  EXPECT_EQ(backward, forward);

  // Published: the driver's own interface, word 1, heading the list, in a
  // boot-services pool block of its own (it must outlive the image).
  ASSERT_EQ(p.CountInstalled(diag::gHeapListProtocolGuid), 1u);
  auto* iface = static_cast<diag::HeapListInterface*>(p.Find(diag::gHeapListProtocolGuid));
  EXPECT_EQ(iface, diag::OwnHeapListInterface());
  EXPECT_EQ(iface->Word, 1u);
  EXPECT_EQ(&iface->Head, head);
  const auto block = p.BlockOf(iface);
  ASSERT_TRUE(block.has_value());
  EXPECT_EQ(block->type, EfiBootServicesData);
  EXPECT_EQ(block->size, 24u);
}

TEST_F(HeapRecords, RecordsCollectedBeforeTheProtocolIsInstalled) {
  sim::HobListBuilder b;
  b.AddGuidHob(diag::gHeapHobGuid, Record(1, "abc"));
  Boot(b);
  const std::vector<std::string> want = {"LocateProtocol", "AllocatePool",
                                         "AllocatePool",   "CopyMem",
                                         "CopyMem",        "InstallProtocolInterface"};
  EXPECT_EQ(p.calls, want);
}

TEST_F(HeapRecords, RecordsReachingPastTheirHobAreNotCopied) {
  sim::HobListBuilder b;
  // HOB data is padded to 8: 16 header bytes + 8 data bytes fit, 9 do not.
  b.AddGuidHob(diag::gHeapHobGuid, Record(1, "12345678", 0, 1, diag::HEAP_SIGNATURE, 9))
      .AddGuidHob(diag::gHeapHobGuid, Record(2, "12345678", 0, 1, diag::HEAP_SIGNATURE, 8))
      .AddGuidHob(diag::gHeapHobGuid,
                  Record(3, "x", 0, 1, diag::HEAP_SIGNATURE, 0xFFFFFFF0))     // would wrap + 32
      .AddGuidHob(diag::gHeapHobGuid, {0x48, 0x45, 0x41, 0x50, 4, 0, 0, 0});  // header cut short
  Boot(b);
  EXPECT_EQ(Find(1).status, 2u);
  EXPECT_EQ(Find(2).text(), "12345678");
  EXPECT_EQ(Find(3).status, 2u);
  EXPECT_EQ(Find(4).status, 2u);
  EXPECT_EQ(p.OutstandingBlocks(EfiBootServicesData), 2u);  // record 2 and the interface
}

TEST_F(HeapRecords, AllocateHeapBufferRefusesASizeThatWouldWrap) {
  diag::HeapListConstructor();  // no HOB list: empty own list
  HeapRecordHeader h{diag::HEAP_SIGNATURE, 5, 0xFFFFFFE1, 0, 1, {0, 0}};
  diag::HeapBuffer* out = reinterpret_cast<diag::HeapBuffer*>(0x1234);
  p.calls.clear();
  EXPECT_EQ(diag::AllocateHeapBuffer(&h, &out), EFI_INVALID_PARAMETER);
  EXPECT_EQ(out, reinterpret_cast<diag::HeapBuffer*>(0x1234));
  EXPECT_TRUE(p.calls.empty());
  EXPECT_EQ(diag::HeapListHead()->Flink, diag::HeapListHead());
}

TEST_F(HeapRecords, NoHobListIsAnEmptyListAndTheProtocolIsStillInstalled) {
  EXPECT_EQ(diag::HobListConstructor(), EFI_NOT_FOUND);
  EXPECT_EQ(diag::GetHobList(), nullptr);
  EXPECT_EQ(diag::HeapListConstructor(), EFI_SUCCESS);
  EXPECT_EQ(Find(0xA014).status, 2u);
  EXPECT_EQ(p.CountInstalled(diag::gHeapListProtocolGuid), 1u);
  LIST_ENTRY* head = diag::HeapListHead();
  EXPECT_EQ(head->Flink, head);
  EXPECT_EQ(head->Blink, head);
}

TEST_F(HeapRecords, ListOfAnEarlierDriverIsUsedAndTheHobsAreNotWalked) {
  // The earlier driver's interface with one node.
  struct {
    diag::HeapBuffer node;
    char data[4];
  } earlierNode{};
  diag::HeapListInterface earlier{0xBADF00D, {}};
  earlier.Head.Flink = earlier.Head.Blink = &earlierNode.node.Link;
  earlierNode.node.Link.Flink = earlierNode.node.Link.Blink = &earlier.Head;
  earlierNode.node.Header = {diag::HEAP_SIGNATURE, 0xA014, 4, 0, 1, {0, 0}};
  std::memcpy(earlierNode.data, "old!", 4);
  EFI_HANDLE h = nullptr;
  p.Install(&h, diag::gHeapListProtocolGuid, &earlier);

  sim::HobListBuilder b;
  b.AddGuidHob(diag::gHeapHobGuid, Record(0xA014, "new"))
      .AddGuidHob(diag::gHeapHobGuid, Record(0x20, "hob only"));
  Boot(b);

  EXPECT_EQ(p.calls, std::vector<std::string>{"LocateProtocol"});
  EXPECT_EQ(p.CountInstalled(diag::gHeapListProtocolGuid), 1u);
  EXPECT_EQ(diag::HeapListHead(), &earlier.Head);
  EXPECT_EQ(Find(0xA014).text(), "old!");
  EXPECT_EQ(Find(0x20).status, 2u);
}

TEST_F(HeapRecords, ListThatCannotBePublishedIsAFatalStop) {
  // The install failing, or no pool for the interface (then the list stays
  // this driver's own and nothing is installed): the same stop either way.
  struct Case {
    const char* call;
    std::vector<std::string> calls;
    size_t installed;
  };
  const Case cases[] = {
      {"InstallProtocolInterface",
       {"LocateProtocol", "AllocatePool", "AllocatePool", "CopyMem", "CopyMem",
        "InstallProtocolInterface"},
       0},
      {"AllocatePool", {"LocateProtocol", "AllocatePool", "AllocatePool", "CopyMem", "CopyMem"}, 0},
  };
  for (const Case& c : cases) {
    Platform q;
    atd::ResetDriverGlobals();
    diag::gST = q.SystemTable();
    diag::gBS = q.BootServices();
    sim::HobListBuilder b;
    b.AddGuidHob(diag::gHeapHobGuid, Record(7, "kept"));
    auto list = b.Build();
    q.SetConfigurationTable(kHobListGuid, list.data());
    diag::HobListConstructor();
    q.Fail(c.call, EFI_OUT_OF_RESOURCES);
    EXPECT_NE(diag::HeapListConstructor(), EFI_SUCCESS) << c.call;
    const auto& ev = q.trace.Events();
    ASSERT_GE(ev.size(), 2u) << c.call;
    EXPECT_EQ(ev[0], sim::IoW(0xE0, 2, 0xDEAD)) << c.call;
    EXPECT_EQ(ev[1], sim::IoW(0x80, 4, 0x00070268)) << c.call;
    EXPECT_EQ(q.calls, c.calls) << c.call;
    EXPECT_EQ(q.CountInstalled(diag::gHeapListProtocolGuid), c.installed) << c.call;
    EXPECT_EQ(Find(7).text(), "kept") << c.call;  // the list still serves this driver
  }
}

TEST_F(HeapRecords, FailedPoolAllocationStopsWithThePoolsCode) {
  struct Case {
    uint8_t poolKind;
    uint32_t code;
  };
  for (const Case c : {Case{8, 0x00070177}, Case{0, 0x00070180}, Case{4, 0x00070180}}) {
    // Claimed stop: the record is skipped, the next one is still copied.
    {
      Platform q;
      atd::ResetDriverGlobals();
      diag::gST = q.SystemTable();
      diag::gBS = q.BootServices();
      q.Fail("AllocatePool", EFI_OUT_OF_RESOURCES, /*skip=*/1);  // after the interface
      sim::HobListBuilder b;
      b.AddGuidHob(diag::gHeapHobGuid, Record(1, "first", c.poolKind))
          .AddGuidHob(diag::gHeapHobGuid, Record(2, "second", c.poolKind));
      auto list = b.Build();
      q.SetConfigurationTable(kHobListGuid, list.data());
      diag::HobListConstructor();
      diag::HeapListConstructor();
      EXPECT_EQ(q.trace.PortWrites(0x80).at(0).value, c.code);
      EXPECT_EQ(Find(1).status, 2u);
      EXPECT_EQ(Find(2).text(), "second");
    }
    // Unclaimed: the stop never returns.
    {
      Platform q;
      q.stopRequestAnswer = 0;
      atd::ResetDriverGlobals();
      diag::gST = q.SystemTable();
      diag::gBS = q.BootServices();
      diag::HeapListConstructor();
      q.Fail("AllocatePool", EFI_OUT_OF_RESOURCES, /*skip=*/1);  // the interface's went through
      HeapRecordHeader h{diag::HEAP_SIGNATURE, 1, 4, c.poolKind, 1, {0, 0}};
      diag::HeapBuffer* out = nullptr;
      try {
        diag::AllocateHeapBuffer(&h, &out);
        ADD_FAILURE() << "returned";
      } catch (const sim::FatalStopEnded& e) {
        EXPECT_EQ(e.code, c.code);
      }
    }
  }
}

TEST_F(HeapRecords, HobWalkStopsAtTheEndAndAtAZeroLength) {
  // type 3 with length 0, then a heap HOB that must never be reached.
  std::vector<uint64_t> raw(16, 0);
  EFI_HOB_GENERIC_HEADER bad{3, 0, 0};
  std::memcpy(raw.data(), &bad, sizeof bad);
  p.SetConfigurationTable(kHobListGuid, raw.data());
  diag::HobListConstructor();
  EXPECT_EQ(diag::GetFirstGuidHob(diag::gHeapHobGuid), nullptr);

  // The list is cached: a later change of the configuration table is not seen.
  sim::HobListBuilder b;
  b.AddGuidHob(diag::gHeapHobGuid, Record(1, "x"));
  auto list = b.Build();
  p.SetConfigurationTable(kHobListGuid, list.data());
  EXPECT_EQ(diag::GetHobList(), raw.data());
}

}  // namespace
