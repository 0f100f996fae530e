// A whole slot-2 call (system address -> normalized address and DRAM
// coordinates) and a whole slot-1 call, through the TranslationProtocol that
// AddrTranslateDxe installed on the built-in default platform: the fabric
// reads of the translation and the DRAM decoding of the geometry the topology
// builder gave each channel. Messages compiled out, trace off.
#include "harness/addr_translate_driver.h"
#include "sim/fabric/data_fabric.h"
#include "sim/profile/profile.h"
#include "sim/topology/topology_profile.h"

#include <benchmark/benchmark.h>

#include <optional>
#include <random>
#include <stdexcept>
#include <vector>

namespace {

struct Booted {
  sim::Platform platform;
  std::optional<sim::AddrTranslateDriver> driver;
  std::vector<uint64_t> addresses;
  std::vector<NormalizedAddress> normalized;

  Booted() {
    platform.trace.Enable(false);
    sim::profile::Load(sim::profile::Default(), platform);
    driver.emplace(platform);
    if (driver->Status() != EFI_SUCCESS) throw std::runtime_error("driver did not start");
    const auto& x = *platform.Extension<sim::topology::TopologyState>().expanded;
    std::mt19937_64 rng(42);
    while (addresses.size() < 1024) {
      const auto& r = x.regions[rng() % x.regions.size()];
      const uint64_t a = r.base + rng() % (r.limit - r.base + 1);
      if (!x.IsDram(a)) continue;
      NormalizedAddress n{};
      DramAddress d{};
      if (P().SystemToNormalized(&a, &n, &d) != EFI_SUCCESS) continue;
      addresses.push_back(a);
      normalized.push_back(n);
    }
  }
  TranslationProtocol& P() { return *driver->Protocol(); }
  uint64_t Reads() { return sim::fabric::DataFabric::Of(platform).reads; }
};

void Count(benchmark::State& state, Booted& b, uint64_t before) {
  state.counters["fabric_reads_per_call"] =
      static_cast<double>(b.Reads() - before) / static_cast<double>(state.iterations());
}

void BM_Slot2SystemToNormalized_Default(benchmark::State& state) {
  Booted b;
  const uint64_t before = b.Reads();
  size_t i = 0;
  NormalizedAddress n{};
  DramAddress d{};
  for (auto _ : state) {
    const EFI_STATUS s = b.P().SystemToNormalized(&b.addresses[i++ & 1023], &n, &d);
    benchmark::DoNotOptimize(s);
    benchmark::DoNotOptimize(d);
  }
  Count(state, b, before);
}

void BM_Slot1NormalizedToSystem_Default(benchmark::State& state) {
  Booted b;
  const uint64_t before = b.Reads();
  size_t i = 0;
  uint64_t sys = 0;
  DramAddress d{};
  for (auto _ : state) {
    const EFI_STATUS s = b.P().NormalizedToSystem(&b.normalized[i++ & 1023], &sys, &d);
    benchmark::DoNotOptimize(s);
    benchmark::DoNotOptimize(d);
  }
  Count(state, b, before);
}

BENCHMARK(BM_Slot2SystemToNormalized_Default);
BENCHMARK(BM_Slot1NormalizedToSystem_Default);

}  // namespace
