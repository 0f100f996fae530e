// calcNormAddr and calcSysAddr on the simulated platform: time per call and
// fabric register reads per call, on the built-in default platform (hashed
// four-channel interleave, two sockets of two dies) and on a six-channel one.
// The trace is switched off so its growth does not distort the timing; every
// register access still goes through the simulated ECAM window.
#include "addr_translate/fabric/calc_norm_addr.h"
#include "addr_translate/fabric/calc_sys_addr.h"
#include "sim/fabric/data_fabric.h"
#include "sim/topology/topology.h"

#include <benchmark/benchmark.h>

#include <random>
#include <vector>

namespace {

sim::topology::Topology SixChannel() {
  sim::topology::Topology t;
  t.layout = atd::FabricIdLayout::Extended;
  t.sockets = 2;
  t.diesPerSocket = 1;
  t.channelsPerDie = 8;
  t.channels = 6;
  t.hashed = false;
  t.channelSize = 8ULL << 30;
  t.logicalChannelMap = {0, 1, 2, 4, 5, 6};
  return t;
}

struct Fixture {
  sim::Platform platform;
  sim::topology::Expanded x;
  std::vector<uint64_t> addresses;
  std::vector<NormalizedAddress> normalized;

  explicit Fixture(const sim::topology::Topology& t) {
    platform.trace.Enable(false);
    x = sim::topology::Apply(t, platform);
    std::mt19937_64 rng(42);
    while (addresses.size() < 1024) {
      const auto& r = x.regions[rng() % x.regions.size()];
      const uint64_t a = r.base + rng() % (r.limit - r.base + 1);
      if (!x.IsDram(a)) continue;
      addresses.push_back(a);
      normalized.push_back(atd::calcNormAddr(a));
    }
  }
  uint64_t Reads() { return sim::fabric::DataFabric::Of(platform).reads; }
};

void Report(benchmark::State& state, Fixture& f, uint64_t readsBefore) {
  state.counters["fabric_reads_per_call"] =
      static_cast<double>(f.Reads() - readsBefore) / static_cast<double>(state.iterations());
}

void BM_CalcNormAddr(benchmark::State& state, sim::topology::Topology t) {
  Fixture f(t);
  const uint64_t before = f.Reads();
  size_t i = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(atd::calcNormAddr(f.addresses[i++ & 1023]));
  }
  Report(state, f, before);
}

void BM_CalcSysAddr(benchmark::State& state, sim::topology::Topology t) {
  Fixture f(t);
  const uint64_t before = f.Reads();
  size_t i = 0;
  for (auto _ : state) {
    const NormalizedAddress& n = f.normalized[i++ & 1023];
    benchmark::DoNotOptimize(atd::calcSysAddr(n.normalizedAddr, n.socketId, n.dieId, n.channelId));
  }
  Report(state, f, before);
}

BENCHMARK_CAPTURE(BM_CalcNormAddr, default_platform, sim::topology::Topology::Default());
BENCHMARK_CAPTURE(BM_CalcSysAddr, default_platform, sim::topology::Topology::Default());
BENCHMARK_CAPTURE(BM_CalcNormAddr, six_channel, SixChannel());
BENCHMARK_CAPTURE(BM_CalcSysAddr, six_channel, SixChannel());

}  // namespace

