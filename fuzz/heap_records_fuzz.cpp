// Random HOB lists through the heap-record collection: well-formed HOB
// headers whose lengths fit the list, with random contents (record headers,
// DataSize, signatures, states, pool kinds). Every carried record that lies
// inside its HOB must come out as a HeapBuffer of the right pool type, size
// and bytes, in HOB order; nothing else may be copied, and FindHeapBuffer
// must answer like a first-match search over the same records.
#include "addr_translate/driver_globals.h"
#include "diag/boot_services_table.h"
#include "diag/heap_records.h"
#include "diag/hob_list.h"
#include "sim/platform/platform.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstring>
#include <vector>

namespace {

struct Expected {
  uint32_t handle;
  uint8_t poolKind;
  std::vector<uint8_t> data;
};

constexpr EFI_GUID kOtherGuid = {0x12345678, 0x9ABC, 0xDEF0, {1, 2, 3, 4, 5, 6, 7, 8}};

void Check(bool ok) {
  if (!ok) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* input, size_t inputSize) {
  FuzzedDataProvider in(input, inputSize);
  std::vector<uint8_t> bytes;
  std::vector<Expected> expected;

  const unsigned hobCount = in.ConsumeIntegralInRange<unsigned>(0, 12);
  for (unsigned i = 0; i < hobCount && in.remaining_bytes() > 0; ++i) {
    const unsigned kind = in.ConsumeIntegralInRange<unsigned>(0, 3);
    // Firmware lays HOBs out on 8-byte boundaries.
    const size_t minimum = kind == 3 ? 8 : sizeof(EFI_HOB_GUID_TYPE);
    const size_t length = (in.ConsumeIntegralInRange<size_t>(minimum, 160) + 7) & ~size_t(7);
    std::vector<uint8_t> hob(length, 0);
    EFI_HOB_GENERIC_HEADER header{
        kind == 3 ? in.ConsumeIntegral<uint16_t>() : kHobTypeGuidExtension,
        static_cast<UINT16>(length), 0};
    if (header.HobType == kHobTypeEndOfHobList) header.HobType = 1;
    std::memcpy(hob.data(), &header, sizeof header);
    if (kind != 3) {
      const EFI_GUID& name = kind == 2 ? kOtherGuid : diag::gHeapHobGuid;
      std::memcpy(hob.data() + 8, &name, sizeof name);
      // The body: a record header that is plausible more often than not.
      std::vector<uint8_t> body = in.ConsumeBytes<uint8_t>(length - sizeof(EFI_HOB_GUID_TYPE));
      body.resize(length - sizeof(EFI_HOB_GUID_TYPE), 0);
      if (body.size() >= sizeof(diag::HeapRecordHeader) && in.ConsumeBool()) {
        diag::HeapRecordHeader r;
        std::memcpy(&r, body.data(), sizeof r);
        r.Signature = diag::HEAP_SIGNATURE;
        if (in.ConsumeBool()) r.State = 1;
        if (in.ConsumeBool()) r.PoolKind = in.ConsumeBool() ? 8 : 0;
        if (in.ConsumeBool())
          r.DataSize = in.ConsumeIntegralInRange<uint32_t>(0, body.size() - sizeof r + 8);
        std::memcpy(body.data(), &r, sizeof r);
      }
      if (!body.empty())
        std::memcpy(hob.data() + sizeof(EFI_HOB_GUID_TYPE), body.data(), body.size());
      if (kind != 2 && body.size() >= sizeof(diag::HeapRecordHeader)) {
        diag::HeapRecordHeader r;
        std::memcpy(&r, body.data(), sizeof r);
        const size_t room = body.size() - sizeof r;
        if (r.Signature == diag::HEAP_SIGNATURE && r.State == 1 && r.DataSize <= room)
          expected.push_back({r.Handle, r.PoolKind,
                              std::vector<uint8_t>(body.begin() + sizeof r,
                                                   body.begin() + sizeof r + r.DataSize)});
      }
    } else {
      std::vector<uint8_t> body = in.ConsumeBytes<uint8_t>(length - 8);
      if (!body.empty()) std::memcpy(hob.data() + 8, body.data(), body.size());
    }
    bytes.insert(bytes.end(), hob.begin(), hob.end());
  }
  const EFI_HOB_GENERIC_HEADER end{kHobTypeEndOfHobList, 8, 0};
  const auto* e = reinterpret_cast<const uint8_t*>(&end);
  bytes.insert(bytes.end(), e, e + sizeof end);
  std::vector<uint64_t> list(bytes.size() / 8);
  std::memcpy(list.data(), bytes.data(), bytes.size());

  // An allocation that fails now and then: the first one is the list's
  // interface (the list then stays unpublished, after a claimed fatal stop),
  // a later one a record's block (that record is skipped).
  const bool failOne = in.ConsumeBool();
  const uint32_t failAt = in.ConsumeIntegralInRange<uint32_t>(0, 12);

  atd::ResetDriverGlobals();
  {
    sim::Platform p;
    p.stopRequestAnswer = 1;
    p.SetConfigurationTable(kHobListGuid, list.data());
    if (failOne) p.Fail("AllocatePool", EFI_OUT_OF_RESOURCES, failAt);
    diag::gST = p.SystemTable();
    diag::gBS = p.BootServices();
    Check(diag::HobListConstructor() == EFI_SUCCESS);
    const bool noInterface = failOne && failAt == 0;
    Check((diag::HeapListConstructor() == EFI_SUCCESS) == !noInterface);
    Check(p.CountInstalled(diag::gHeapListProtocolGuid) == (noInterface ? 0u : 1u));

    if (failOne && failAt >= 1 && failAt - 1 < expected.size())
      expected.erase(expected.begin() + (failAt - 1));
    LIST_ENTRY* head = diag::HeapListHead();
    size_t n = 0;
    for (LIST_ENTRY* link = head->Flink; link != head; link = link->Flink, ++n) {
      Check(n < expected.size());
      auto* buffer = reinterpret_cast<diag::HeapBuffer*>(link);
      const Expected& want = expected[n];
      auto block = p.BlockOf(buffer);
      Check(block.has_value());
      Check(block->size == want.data.size() + sizeof(diag::HeapBuffer));
      Check(block->type == (want.poolKind == 8 ? EfiRuntimeServicesData : EfiBootServicesData));
      Check(buffer->Header.Handle == want.handle);
      Check(buffer->Header.DataSize == want.data.size());
      Check(want.data.empty() || std::memcmp(buffer + 1, want.data.data(), want.data.size()) == 0);
    }
    Check(n == expected.size());
    Check(p.Pools().size() == expected.size() + (noInterface ? 0 : 1));

    // Lookups: some handles of the records, some random ones.
    for (int i = 0; i < 4; ++i) {
      uint32_t handle = in.ConsumeIntegral<uint32_t>();
      if (!expected.empty() && in.ConsumeBool())
        handle = expected[in.ConsumeIntegralInRange<size_t>(0, expected.size() - 1)].handle;
      diag::HeapBufferQuery q{handle, 0xFFFFFFFF, &q};
      const uint32_t r = diag::FindHeapBuffer(&q);
      const Expected* first = nullptr;
      for (const Expected& x : expected)
        if (x.handle == handle) {
          first = &x;
          break;
        }
      if (first == nullptr) {
        Check(r == 2 && q.Data == nullptr && q.DataSize == 0);
      } else {
        Check(r == 0 && q.DataSize == first->data.size());
        Check(first->data.empty() || std::memcmp(q.Data, first->data.data(), q.DataSize) == 0);
      }
    }
  }
  atd::ResetDriverGlobals();
  return 0;
}
