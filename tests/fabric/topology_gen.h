// Random but reproducible machine descriptions for the property tests.
#pragma once

#include "sim/topology/topology.h"

#include <algorithm>
#include <numeric>
#include <random>

namespace fabric_test {

inline sim::topology::Topology RandomTopology(std::mt19937_64& rng) {
  auto pick = [&](uint64_t lo, uint64_t hi) {
    return std::uniform_int_distribution<uint64_t>(lo, hi)(rng);
  };
  auto coin = [&] { return pick(0, 1) == 1; };
  sim::topology::Topology t;
  const bool six = pick(0, 5) == 0;
  t.layout = six || coin() ? atd::FabricIdLayout::Extended : atd::FabricIdLayout::Combined;
  t.sockets = static_cast<unsigned>(pick(1, 2));
  t.diesPerSocket = six ? 1 : static_cast<unsigned>(pick(1, 4));
  if (six) {
    t.channelsPerDie = static_cast<unsigned>(pick(6, 8));
    t.channels = 6;
    t.hashed = false;
    std::vector<uint8_t> phys(t.channelsPerDie);
    std::iota(phys.begin(), phys.end(), 0);
    std::shuffle(phys.begin(), phys.end(), rng);
    std::copy_n(phys.begin(), 6, t.logicalChannelMap.begin());
    t.channelSize = 1ULL << pick(28, 33);
    t.highChannelSize = 0;
    t.firstChannel = 0;
  } else {
    t.channelsPerDie = static_cast<unsigned>(pick(1, 8));
    std::vector<unsigned> counts;
    for (unsigned c : {1u, 2u, 4u, 8u})
      if (c <= t.channelsPerDie) counts.push_back(c);
    t.channels = counts[pick(0, counts.size() - 1)];
    t.firstChannel = static_cast<unsigned>(pick(0, t.channelsPerDie - t.channels));
    t.hashed = t.channels > 1 && coin();
    t.channelSize = pick(1, 8) << 28;
    t.highChannelSize = coin() ? pick(1, 4) << 28 : 0;
  }
  if (t.layout == atd::FabricIdLayout::Extended) {
    t.hash64K = coin();
    t.hash2M = coin();
    t.hash1G = coin();
  }
  t.dieInterleave = (t.diesPerSocket == 2 || t.diesPerSocket == 4) && pick(0, 2) == 0;
  t.socketInterleave = t.sockets == 2 && pick(0, 2) == 0;
  t.intLvAddrSel = static_cast<unsigned>(pick(0, t.hashed && t.channels >= 4 ? 3 : 4));
  const uint64_t holes[] = {0, 0x80000000, 0xB0000000, 0xC0000000, 0xE0000000, 0x10000000};
  t.holeBase = holes[pick(0, 5)];
  t.ccm = pick(0, 3) != 0;
  return t;
}

// Whether the translations can give back every address of the map: the
// hashed and six-channel re-insertions fill only the channel bits of the
// interleave field, so die and socket interleave bits are lost there.
inline bool RoundTrips(const sim::topology::Topology& t) {
  return !((t.hashed || t.channels == 6) && (t.dieInterleave || t.socketInterleave));
}

}  // namespace fabric_test
