// Pool memory AddrTranslateDxe keeps: after start-up only the 48-byte
// TranslationProtocol record and, when it built the heap list, the list's
// interface and one block per carried heap record; the
// protocol operations give back everything they obtain.
#include "sim/platform/pool_accounting.h"
#include "sim/topology/topology.h"
#include "tests/reliability/atd_world.h"

#include <gtest/gtest.h>

namespace {

using rel::AtdWorld;

sim::PoolReport StartUpPools(bool withHeapRecords) {
  sim::PoolReport want;
  if (withHeapRecords) {
    auto& list = want[EfiBootServicesData];
    ++list.blocks;
    list.bytes += 24;  // HeapListProtocol's interface: a word and a list head
    for (const auto& r : rel::AtdHeapRecords()) {
      auto& t = want[r.poolKind == 8 ? EfiRuntimeServicesData : EfiBootServicesData];
      ++t.blocks;
      t.bytes += r.data.size() + sizeof(diag::HeapBuffer);
    }
  }
  auto& t = want[EfiBootServicesData];
  ++t.blocks;
  t.bytes += sizeof(TranslationProtocol);
  return want;
}

TEST(PoolAccounting, StartUpKeepsTheRecordAndTheHeapBuffersOnly) {
  for (bool earlier : {false, true}) {
    AtdWorld w(earlier);
    ASSERT_EQ(w.Boot(), EFI_SUCCESS);
    EXPECT_EQ(sim::Describe(sim::OutstandingPools(w.p)), sim::Describe(StartUpPools(!earlier)))
        << earlier;
    auto record = w.p.BlockOf(w.Protocol());
    ASSERT_TRUE(record.has_value());
    EXPECT_EQ(record->type, EfiBootServicesData);
    EXPECT_EQ(record->size, 48u);
  }
}

TEST(PoolAccounting, TranslationSlotsObtainAndReleaseNothing) {
  AtdWorld w;
  ASSERT_EQ(w.Boot(), EFI_SUCCESS);
  TranslationProtocol* tp = w.Protocol();
  const uint64_t addresses[] = {0, 0x1000, 0x8000'0000, 0xFFFF'FFFF'FFFF'FFFF};
  for (uint64_t a : addresses) {
    sim::PoolCheckpoint before(w.p);
    NormalizedAddress n{};
    DramAddress d{};
    tp->SystemToNormalized(&a, &n, &d);
    uint64_t sys = 0;
    NormalizedAddress in{};
    in.normalizedAddr = a;
    tp->NormalizedToSystem(&in, &sys, &d);
    EXPECT_TRUE(before.Obtained().empty()) << std::hex << a;
    EXPECT_TRUE(before.Released().empty()) << std::hex << a;
  }
}

TEST(PoolAccounting, TranslationsOnAMachineMakeNoPlatformCallAndKeepNothing) {
  AtdWorld w;
  const auto x = sim::topology::Apply(sim::topology::Topology::Default(), w.p);
  ASSERT_EQ(w.Boot(), EFI_SUCCESS);
  TranslationProtocol* tp = w.Protocol();
  ASSERT_FALSE(x.regions.empty());
  int translated = 0;
  for (const auto& r : x.regions) {
    for (uint64_t a : {r.base, r.base + (r.limit - r.base) / 2, r.limit}) {
      if (!x.IsDram(a)) continue;
      w.p.calls.clear();
      sim::PoolCheckpoint before(w.p);
      NormalizedAddress n{};
      DramAddress d{};
      ASSERT_EQ(tp->SystemToNormalized(&a, &n, &d), EFI_SUCCESS) << std::hex << a;
      uint64_t back = 0;
      EXPECT_EQ(tp->NormalizedToSystem(&n, &back, &d), EFI_SUCCESS) << std::hex << a;
      EXPECT_TRUE(w.p.calls.empty());
      EXPECT_TRUE(before.Obtained().empty());
      EXPECT_TRUE(before.Released().empty());
      ++translated;
    }
  }
  EXPECT_GT(translated, 0);
}

TEST(PoolAccounting, CheckpointSeesObtainedAndReleasedBlocks) {
  sim::Platform p;
  void* kept = p.Allocate(EfiBootServicesData, 16);
  void* gone = p.Allocate(EfiACPIMemoryNVS, 32);
  sim::PoolCheckpoint before(p);
  p.Free(gone);
  void* fresh = p.Allocate(EfiRuntimeServicesData, 8);
  ASSERT_EQ(before.Obtained().size(), 1u);
  EXPECT_EQ(before.Obtained()[0].address, fresh);
  EXPECT_EQ(before.Obtained()[0].type, EfiRuntimeServicesData);
  ASSERT_EQ(before.Released().size(), 1u);
  EXPECT_EQ(before.Released()[0].size, 32u);
  EXPECT_EQ(sim::Describe(sim::OutstandingPools(p)),
            "EfiBootServicesData(4): 1 blocks, 16 bytes; EfiRuntimeServicesData(6): 1 blocks, 8 "
            "bytes");
  (void)kept;
}

}  // namespace
