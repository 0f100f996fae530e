// The three fabric translations (checkDramHit, calcNormAddr, calcSysAddr)
// over the simulated data fabric.
//
// Random register files: the registers the translations read (layout and
// mask registers, block-instance counts, fabric ids, hole, the sixteen DRAM
// maps, ...) on a few nodes and instances, with random values, and random
// addresses and channels. Whatever the registers hold, a translation ends
// (a claimed fatal stop returns), writes nothing but the access-address
// register of a window, and changes no fabric register.
//
// Consistent machines: a topology the builder accepts, and a DRAM address of
// it, must normalize into the channel checkDramHit names and come back
// unchanged (for the interleave modes that can give every address back).
#include "addr_translate/fabric/calc_norm_addr.h"
#include "addr_translate/fabric/calc_sys_addr.h"
#include "addr_translate/fabric/check_dram_hit.h"
#include "addr_translate/fabric/fabric_decode.h"
#include "sim/fabric/data_fabric.h"
#include "sim/platform/platform.h"
#include "sim/topology/topology.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstdio>
#include <vector>

namespace {

void Check(bool ok) {
  if (!ok) __builtin_trap();
}

struct RegChoice {
  uint8_t function;
  uint16_t offset;
};

std::vector<RegChoice> Registers() {
  std::vector<RegChoice> r = {{1, 0x208}, {1, 0x20C}, {0, 0x3F8}, {0, 0x40},  {0, 0x44}, {0, 0x50},
                              {0, 0x60},  {0, 0x68},  {0, 0x104}, {0, 0x1B4}, {2, 0x90}};
  for (uint16_t m = 0; m < 16; ++m) {
    r.push_back({0, static_cast<uint16_t>(0x110 + 8 * m)});
    r.push_back({0, static_cast<uint16_t>(0x114 + 8 * m)});
  }
  return r;
}

// Only the access-address register (0x5C) of a node's window is written.
void CheckOnlyWindowAddressWrites(const sim::Platform& p) {
  for (const sim::TraceEvent& e : p.trace.Events()) {
    if (e.kind != sim::Access::MmioWrite) continue;
    const uint64_t off = e.address - sim::Platform::kEcamBase;
    const uint64_t bus = off >> 20, dev = (off >> 15) & 0x1F, fn = (off >> 12) & 7,
                   reg = off & 0xFFF;
    // A node id decoded from inconsistent registers may be 8 or more: its
    // window device is (0x18 + node) modulo 32, so any device of bus 0.
    (void)dev;
    const bool window = e.address >= sim::Platform::kEcamBase && bus == 0 && fn == 4 && reg == 0x5C;
    if (!window) std::fprintf(stderr, "write outside a window: %s\n", e.ToString().c_str());
    Check(window);
  }
}

void RandomRegisters(FuzzedDataProvider& in) {
  sim::Platform p;
  p.stopRequestAnswer = 1;  // fatal stops return
  auto& df = sim::fabric::DataFabric::Of(p);
  static const std::vector<RegChoice> regs = Registers();
  const unsigned count = in.ConsumeIntegralInRange<unsigned>(0, 60);
  for (unsigned i = 0; i < count && in.remaining_bytes() > 0; ++i) {
    const RegChoice& r = regs[in.ConsumeIntegralInRange<size_t>(0, regs.size() - 1)];
    const uint8_t node = in.ConsumeIntegralInRange<uint8_t>(0, 3);
    const uint16_t instance =
        in.ConsumeBool() ? sim::fabric::kBroadcast : in.ConsumeIntegralInRange<uint16_t>(0, 20);
    df.Set(node, r.function, r.offset, instance, in.ConsumeIntegral<uint32_t>());
  }
  const auto before = df.Registers();
  for (int i = 0; i < 3; ++i) {
    const uint64_t a = in.ConsumeIntegral<uint64_t>();
    (void)atd::checkDramHit(a);
    const NormalizedAddress n = atd::calcNormAddr(a);
    Check(n.reserved == 0);
    const uint64_t sys =
        atd::calcSysAddr(in.ConsumeIntegral<uint64_t>(), in.ConsumeIntegral<uint8_t>(),
                         in.ConsumeIntegral<uint8_t>(), in.ConsumeIntegral<uint8_t>());
    (void)sys;
    if (n.normalizedAddr != ~uint64_t{0})
      (void)atd::calcSysAddr(n.normalizedAddr, n.socketId, n.dieId, n.channelId);
  }
  Check(df.Registers() == before);
  CheckOnlyWindowAddressWrites(p);
}

void ConsistentMachine(FuzzedDataProvider& in) {
  sim::topology::Topology t;
  t.layout = in.ConsumeBool() ? atd::FabricIdLayout::Extended : atd::FabricIdLayout::Combined;
  t.sockets = in.ConsumeIntegralInRange<unsigned>(1, 2);
  t.diesPerSocket = in.ConsumeIntegralInRange<unsigned>(1, 4);
  t.channelsPerDie = in.ConsumeIntegralInRange<unsigned>(1, 8);
  const unsigned channelChoices[] = {1, 2, 4, 8, 6};
  t.channels = channelChoices[in.ConsumeIntegralInRange<unsigned>(0, 4)];
  t.firstChannel = in.ConsumeIntegralInRange<unsigned>(0, 7);
  t.hashed = in.ConsumeBool();
  t.hash64K = in.ConsumeBool();
  t.hash2M = in.ConsumeBool();
  t.hash1G = in.ConsumeBool();
  t.dieInterleave = in.ConsumeBool();
  t.socketInterleave = in.ConsumeBool();
  t.intLvAddrSel = in.ConsumeIntegralInRange<unsigned>(0, 4);
  t.channelSize = in.ConsumeIntegralInRange<uint64_t>(1, 32) << 28;
  const uint64_t holes[] = {0, 0x80000000, 0xB0000000, 0xC0000000, 0xE0000000, 0x10000000};
  t.holeBase = holes[in.ConsumeIntegralInRange<unsigned>(0, 5)];
  t.highChannelSize = in.ConsumeBool() ? in.ConsumeIntegralInRange<uint64_t>(1, 8) << 28 : 0;
  for (auto& c : t.logicalChannelMap) c = in.ConsumeIntegralInRange<uint8_t>(0, 7);
  t.ccm = in.ConsumeBool();

  sim::Platform p;
  p.stopRequestAnswer = 1;
  p.trace.Enable(false);
  sim::topology::Expanded x;
  try {
    x = sim::topology::Apply(t, p);
  } catch (const sim::topology::TopologyError&) {
    return;
  }
  if (x.regions.empty()) return;
  // The hashed and six-channel re-insertions fill only the channel bits of
  // the interleave field: die and socket interleave bits are not given back.
  const bool roundTrips =
      !((t.hashed || t.channels == 6) && (t.dieInterleave || t.socketInterleave));
  for (int i = 0; i < 8 && in.remaining_bytes() > 0; ++i) {
    const auto& r = x.regions[in.ConsumeIntegralInRange<size_t>(0, x.regions.size() - 1)];
    const uint64_t a = r.base + in.ConsumeIntegralInRange<uint64_t>(0, r.limit - r.base);
    const NormalizedAddress n = atd::calcNormAddr(a);
    if (!x.IsDram(a)) continue;
    Check(n.normalizedAddr != ~uint64_t{0});
    if (!roundTrips) continue;
    Check(atd::calcSysAddr(n.normalizedAddr, n.socketId, n.dieId, n.channelId) == a);
  }
  // Above every map: not DRAM.
  uint64_t top = 0;
  for (const auto& r : x.regions) top = r.limit > top ? r.limit : top;
  if (top < (uint64_t{1} << 48)) Check(atd::calcNormAddr(top + 1).normalizedAddr == ~uint64_t{0});
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* input, size_t inputSize) {
  FuzzedDataProvider in(input, inputSize);
  if (in.ConsumeBool()) {
    RandomRegisters(in);
  } else {
    ConsistentMachine(in);
  }
  return 0;
}
