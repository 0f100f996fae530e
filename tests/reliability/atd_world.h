// A simulated boot of AddrTranslateDxe for the reliability tests: MP services,
// a topology double with a channel table, and a HOB list carrying two heap
// records (one for runtime-services data, one for boot-services data).
#pragma once

#include "addr_translate/driver_entry.h"
#include "addr_translate/driver_globals.h"
#include "diag/heap_records.h"
#include "sim/platform/hob_builder.h"
#include "sim/platform/platform.h"
#include "sim/topology/topology_double.h"
#include "translation_protocol.h"

#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace rel {

struct HeapRecordSeed {
  uint32_t handle;
  uint8_t poolKind;
  std::string data;
};

inline const std::vector<HeapRecordSeed>& AtdHeapRecords() {
  static const std::vector<HeapRecordSeed> records = {
      {0xA014, 8, "RUNTIME-RECORD"},  // runtime-services data
      {0xB200, 0, "boot"},            // boot-services data
  };
  return records;
}

struct AtdWorld {
  sim::Platform p{2};
  sim::TopologyDouble topology;
  std::vector<uint8_t> channelTable = std::vector<uint8_t>(4096, 0);
  std::vector<uint64_t> hobs;
  diag::HeapListInterface earlier{};
  EFI_STATUS status = EFI_SUCCESS;

  // withEarlierHeapList: an earlier driver has installed HeapListProtocol.
  explicit AtdWorld(bool withEarlierHeapList = false) {
    atd::ResetDriverGlobals();
    p.InstallMpServices();
    topology.processors = {{0, {1, 2, 3, 4, 5}, {}}, {1, {6, 7, 8, 9, 10}, {}}};
    topology.Install(p, channelTable.data());
    sim::HobListBuilder b;
    for (const HeapRecordSeed& r : AtdHeapRecords()) {
      diag::HeapRecordHeader h{diag::HEAP_SIGNATURE, r.handle, static_cast<uint32_t>(r.data.size()),
                               r.poolKind,           1,        {0, 0}};
      std::vector<uint8_t> data(sizeof h + r.data.size());
      std::memcpy(data.data(), &h, sizeof h);
      std::memcpy(data.data() + sizeof h, r.data.data(), r.data.size());
      b.AddGuidHob(diag::gHeapHobGuid, data);
    }
    hobs = b.Build();
    p.SetConfigurationTable(kHobListGuid, hobs.data());
    if (withEarlierHeapList) {
      earlier = {1, {&earlier.Head, &earlier.Head}};
      EFI_HANDLE h = nullptr;
      p.Install(&h, diag::gHeapListProtocolGuid, &earlier);
    }
    p.calls.clear();
  }
  ~AtdWorld() { atd::ResetDriverGlobals(); }
  AtdWorld(const AtdWorld&) = delete;
  AtdWorld& operator=(const AtdWorld&) = delete;

  EFI_STATUS Boot() { return status = atd::ImageEntry(p.ImageHandle(), p.SystemTable()); }

  TranslationProtocol* Protocol() const {
    return static_cast<TranslationProtocol*>(p.Find(gTranslationProtocolGuid));
  }
};

// The handles of the heap list in list order.
inline std::vector<uint32_t> HeapListHandles() {
  std::vector<uint32_t> out;
  LIST_ENTRY* head = diag::HeapListHead();
  if (head == nullptr) return out;
  for (LIST_ENTRY* l = head->Flink; l != head; l = l->Flink)
    out.push_back(reinterpret_cast<diag::HeapBuffer*>(l)->Header.Handle);
  return out;
}

}  // namespace rel
