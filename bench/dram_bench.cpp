// Cost of one normalized-address -> DRAM translation through the driver's
// entry point (messages compiled out, as delivered), on a 32 GiB channel of
// four chip selects with one rank-multiplier bit.
#include "addr_translate/dram/translate_norm_to_dram_addr.h"
#include "addr_translate/driver_globals.h"
#include "sim/dram/channel_geometry.h"

#include <benchmark/benchmark.h>

#include <memory>
#include <random>
#include <vector>

namespace {

void TranslateDram(benchmark::State& state, bool hashes) {
  auto table = std::make_unique<atd::ChannelConfigTable>();
  sim::dram::ChannelGeometry g;  // 4 bank and 10 column bits
  g.chipSelects = 4;
  g.rowBits = 15;
  g.rmBits = 1;
  g.csHash = g.bankHash = g.rmHash = hashes;
  sim::dram::BuildChannelGeometry(*table, g);
  const uint64_t capacity = sim::dram::CapacityOf(g);
  atd::gChannelConfigTable = table.get();

  std::mt19937_64 rng(1);
  std::vector<uint64_t> addresses(4096);
  for (auto& a : addresses) a = rng() % capacity;
  size_t i = 0;
  DramAddress out{};
  for (auto _ : state) {
    atd::translate_norm_to_dram_addr(addresses[i++ & 4095], 0, 0, 0, &out);
    benchmark::DoNotOptimize(out);
  }
  atd::gChannelConfigTable = nullptr;
}

void BM_TranslateNormToDram_NoHashes(benchmark::State& s) {
  TranslateDram(s, false);
}
void BM_TranslateNormToDram_AllHashes(benchmark::State& s) {
  TranslateDram(s, true);
}
BENCHMARK(BM_TranslateNormToDram_NoHashes);
BENCHMARK(BM_TranslateNormToDram_AllHashes);

}  // namespace
