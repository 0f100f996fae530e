// The debugger's message buffer as the heap list carries it: a record too
// short for its own character area is no buffer, so nothing is stored past
// the record's pool block.
#include "addr_translate/driver_globals.h"
#include "diag/backends/backends.h"
#include "diag/boot_services_table.h"
#include "diag/heap_records.h"
#include "diag/hob_list.h"
#include "sim/platform/hob_builder.h"
#include "sim/platform/platform.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace {

std::vector<uint8_t> BufferRecord(uint16_t capacity, uint32_t dataSize) {
  diag::HeapRecordHeader h{};
  h.Signature = diag::HEAP_SIGNATURE;
  h.Handle = 0xA014;
  h.DataSize = dataSize;
  h.State = 1;
  std::vector<uint8_t> out(sizeof h + dataSize, 0);
  std::memcpy(out.data(), &h, sizeof h);
  const uint32_t sig = 0xDB1099CC;
  if (dataSize >= 4) std::memcpy(out.data() + sizeof h, &sig, 4);
  if (dataSize >= 8) std::memcpy(out.data() + sizeof h + 6, &capacity, 2);
  return out;
}

struct Case {
  uint16_t capacity;
  uint32_t dataSize;
  bool isBuffer;
};

class DebugBufferRecord : public ::testing::TestWithParam<Case> {};

TEST_P(DebugBufferRecord, OnlyARecordHoldingItsWholeAreaIsABuffer) {
  const Case c = GetParam();
  sim::Platform p;
  atd::ResetDriverGlobals();
  diag::gST = p.SystemTable();
  diag::gBS = p.BootServices();
  auto hobs = sim::HobListBuilder()
                  .AddGuidHob(diag::gHeapHobGuid, BufferRecord(c.capacity, c.dataSize))
                  .Build();
  p.SetConfigurationTable(kHobListGuid, hobs.data());
  diag::HobListConstructor();
  diag::HeapListConstructor();
  p.CurrentCpu().dr3 = 0x1000;
  EXPECT_EQ(diag::FindDebugMessageBuffer() != nullptr, c.isBuffer);
  atd::ResetDriverGlobals();
}

INSTANTIATE_TEST_SUITE_P(Sizes, DebugBufferRecord,
                         ::testing::Values(Case{4, 513 + 4, true}, Case{4, 513 + 100, true},
                                           Case{4, 513 + 3, false}, Case{4, 513, false},
                                           Case{1, 512, false}, Case{0, 8, false},
                                           Case{16, 513 + 16, true}));

}  // namespace
