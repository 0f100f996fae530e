// platsim faults on the built-in platform (64 GiB, sixteen 4 GiB channels):
// a million corrected errors placed and classified, as a log of a fleet
// machine holds them (errors repeat on a few thousand faulty cells and rows)
// and as the worst case (a million distinct addresses); and one faulty row
// expanded into every system page it touches.
#include "tools/platsim/faults/fault_analysis.h"

#include <benchmark/benchmark.h>

#include <random>
#include <vector>

namespace {

using platsim::faults::Analyze;
using platsim::faults::FaultOptions;
using platsim::faults::Locator;

// `distinct` DRAM addresses below 3 GiB (under the MMIO hole), a million
// errors over them, a second apart.
std::vector<platsim::logs::MemoryError> Errors(size_t distinct) {
  std::mt19937_64 rng(1);
  std::vector<uint64_t> pool(distinct);
  for (uint64_t& a : pool) a = (rng() % (3ULL << 30)) & ~uint64_t{63};
  std::vector<platsim::logs::MemoryError> errors(1000000);
  const auto where = std::make_shared<const std::string>("bench");
  for (size_t i = 0; i < errors.size(); ++i) {
    errors[i].where = where;
    errors[i].address = pool[rng() % distinct];
    errors[i].time = static_cast<int64_t>(i);
  }
  return errors;
}

void Classify(benchmark::State& state) {
  const auto errors = Errors(static_cast<size_t>(state.range(0)));
  platsim::GlobalOptions opts;
  for (auto _ : state) {
    platsim::TranslateSession session(opts);
    Locator locator(session);
    const auto a = Analyze(locator, errors, FaultOptions{});
    benchmark::DoNotOptimize(a.dimms.size());
  }
  state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(errors.size()));
}
BENCHMARK(Classify)->Arg(4096)->Arg(1000000)->Unit(benchmark::kMillisecond)->Iterations(1);

void RowPages(benchmark::State& state) {
  platsim::GlobalOptions opts;
  platsim::TranslateSession session(opts);
  Locator locator(session);
  DramAddress row{};
  row.chipSelect = 1;
  row.bank = 9;
  row.row = 0x1C68;
  size_t pages = 0;
  for (auto _ : state) pages = locator.RowPages({0, 0, 2, 0}, row).size();
  state.counters["pages"] = static_cast<double>(pages);
}
BENCHMARK(RowPages)->Unit(benchmark::kMillisecond);

}  // namespace
