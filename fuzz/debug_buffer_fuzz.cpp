// The debugger's message buffer, a heap record left by the earlier boot
// phase, with random contents: random size of the record, signature,
// capacity, count, enable and buffering bytes. The record goes through the
// heap-record collection into an exact-size pool block; then messages of
// random length are written to it. A record is used only when it holds its
// fixed fields and its whole character area; writes stay inside the area,
// and the area and count match a model of the ring (a full area is handed
// off before the next character).
#include "addr_translate/driver_globals.h"
#include "diag/backends/backends.h"
#include "diag/boot_services_table.h"
#include "diag/heap_records.h"
#include "diag/hob_list.h"
#include "sim/platform/hob_builder.h"
#include "sim/platform/platform.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

void Check(bool ok) {
  if (!ok) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* input, size_t inputSize) {
  FuzzedDataProvider in(input, inputSize);
  using diag::DebugMessageBuffer;

  // The record data: the buffer's fixed fields, plausible more often than not.
  const size_t dataSize = in.ConsumeBool() ? in.ConsumeIntegralInRange<size_t>(0, 520)
                                           : in.ConsumeIntegralInRange<size_t>(513, 1100);
  std::vector<uint8_t> data(dataSize, 0);
  DebugMessageBuffer fields{};
  fields.Signature = in.ConsumeIntegralInRange<int>(0, 7) != 0 ? diag::DEBUG_BUFFER_SIGNATURE
                                                               : in.ConsumeIntegral<uint32_t>();
  fields.Capacity = in.ConsumeBool() ? in.ConsumeIntegralInRange<uint16_t>(0, 600)
                                     : in.ConsumeIntegral<uint16_t>();
  fields.Count = in.ConsumeBool() ? in.ConsumeIntegralInRange<uint16_t>(0, 600)
                                  : in.ConsumeIntegral<uint16_t>();
  fields.Enabled = in.ConsumeIntegralInRange<int>(0, 5) != 0 ? 1 : in.ConsumeIntegral<uint8_t>();
  fields.Buffered = in.ConsumeIntegralInRange<int>(0, 5) != 0 ? 1 : in.ConsumeIntegral<uint8_t>();
  fields.LevelMask = in.ConsumeIntegral<uint64_t>();
  if (dataSize != 0) std::memcpy(data.data(), &fields, std::min(sizeof fields, dataSize));

  diag::HeapRecordHeader h{diag::HEAP_SIGNATURE,
                           diag::DEBUG_BUFFER_HANDLE,
                           static_cast<uint32_t>(dataSize),
                           0,
                           1,
                           {0, 0}};
  std::vector<uint8_t> hobData(sizeof h + dataSize);
  std::memcpy(hobData.data(), &h, sizeof h);
  if (dataSize != 0) std::memcpy(hobData.data() + sizeof h, data.data(), dataSize);
  sim::HobListBuilder b;
  b.AddGuidHob(diag::gHeapHobGuid, hobData);
  auto hobs = b.Build();

  atd::ResetDriverGlobals();
  {
    sim::Platform p;
    p.stopRequestAnswer = 1;
    p.CurrentCpu().dr3 = 1;  // the debugger said a buffer exists
    p.SetConfigurationTable(kHobListGuid, hobs.data());
    diag::gST = p.SystemTable();
    diag::gBS = p.BootServices();
    diag::HobListConstructor();
    diag::HeapListConstructor();

    DebugMessageBuffer* buffer = diag::FindDebugMessageBuffer();
    const bool usable = dataSize >= sizeof(DebugMessageBuffer) &&
                        fields.Signature == diag::DEBUG_BUFFER_SIGNATURE && fields.Capacity != 0 &&
                        dataSize - sizeof(DebugMessageBuffer) >= fields.Capacity;
    Check((buffer != nullptr) == usable);

    // The model of the ring.
    std::vector<uint8_t> area;
    uint32_t count = fields.Count;
    if (buffer != nullptr)
      area.assign(diag::DebugMessageArea(buffer), diag::DebugMessageArea(buffer) + fields.Capacity);
    size_t handoffs = 0;
    const unsigned messages = in.ConsumeIntegralInRange<unsigned>(0, 6);
    for (unsigned m = 0; m < messages; ++m) {
      const std::string text = in.ConsumeRandomLengthString(700);
      const uint64_t n = diag::DebugPortWriteTo(buffer, text.c_str(), text.size());
      if (buffer == nullptr) {
        Check(n == text.size());
        ++handoffs;
        continue;
      }
      if (fields.Enabled != 1) {
        Check(n == 0);
        continue;
      }
      Check(n == text.size());
      if (fields.Buffered != 1) {
        ++handoffs;
        continue;
      }
      for (char c : text) {
        if (count >= fields.Capacity) {
          ++handoffs;
          count = 0;
        }
        area[count++] = static_cast<uint8_t>(c);
      }
      Check(buffer->Count == count);
      Check(std::memcmp(diag::DebugMessageArea(buffer), area.data(), area.size()) == 0);
    }
    size_t seen = 0;
    for (const auto& e : p.trace.Events()) seen += e.kind == sim::Access::Handoff;
    Check(seen == handoffs);
  }
  atd::ResetDriverGlobals();
  return 0;
}
