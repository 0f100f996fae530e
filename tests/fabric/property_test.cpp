// Properties over generated machines: every DRAM address normalizes into the
// channel checkDramHit names and comes back unchanged; addresses outside every
// map are "not DRAM".
#include "addr_translate/fabric/calc_norm_addr.h"
#include "addr_translate/fabric/calc_sys_addr.h"
#include "addr_translate/fabric/check_dram_hit.h"
#include "addr_translate/fabric/fabric_access.h"
#include "addr_translate/fabric/fabric_decode.h"
#include "topology_gen.h"

#include <gtest/gtest.h>

#include <sstream>

namespace {

using sim::topology::Expanded;
using sim::topology::Topology;

std::string Describe(const Topology& t) {
  std::ostringstream os;
  os << sim::topology::LayoutName(t.layout) << " s" << t.sockets << " d" << t.diesPerSocket << " c"
     << t.channelsPerDie << " ch" << t.channels << " first" << t.firstChannel
     << (t.hashed ? " hashed" : "") << " h" << t.hash64K << t.hash2M << t.hash1G
     << (t.dieInterleave ? " dieIntlv" : "") << (t.socketInterleave ? " sockIntlv" : "") << " sel"
     << t.intLvAddrSel << " size0x" << std::hex << t.channelSize << " hole0x" << t.holeBase
     << " high0x" << t.highChannelSize << (t.ccm ? "" : " noCcm");
  return os.str();
}

uint64_t RandomDram(const Expanded& x, std::mt19937_64& rng) {
  for (;;) {
    const auto& r = x.regions[std::uniform_int_distribution<size_t>(0, x.regions.size() - 1)(rng)];
    const uint64_t a = std::uniform_int_distribution<uint64_t>(r.base, r.limit)(rng);
    if (x.IsDram(a)) return a;
  }
}

struct Tally {
  int topologies = 0, addresses = 0, roundTrips = 0;
};

TEST(FabricProperty, DramAddressesRoundTripThroughTheirChannel) {
  std::mt19937_64 rng(0x5EED1234);
  Tally tally;
  for (int i = 0; i < 160; ++i) {
    const Topology t = fabric_test::RandomTopology(rng);
    if (!fabric_test::RoundTrips(t)) continue;
    sim::Platform platform;
    platform.trace.Enable(false);
    const Expanded x = sim::topology::Apply(t, platform);
    ++tally.topologies;
    SCOPED_TRACE(Describe(t));
    // The builder's idea of the fabric ids is the one the driver decodes.
    const atd::FabricIdMasks m = atd::readFabricIdMasks();
    ASSERT_EQ(m.layout, x.masks.layout);
    ASSERT_EQ(m.socketMask, x.masks.socketMask);
    ASSERT_EQ(m.socketShift, x.masks.socketShift);
    ASSERT_EQ(m.dieMask, x.masks.dieMask);
    ASSERT_EQ(m.dieShift, x.masks.dieShift);
    ASSERT_EQ(m.nodeMask, x.masks.nodeMask);
    ASSERT_EQ(
        m.hash.hash64KEnable + 2 * m.hash.hash2MEnable + 4 * m.hash.hash1GEnable,
        x.masks.hash.hash64KEnable + 2 * x.masks.hash.hash2MEnable + 4 * x.masks.hash.hash1GEnable);
    for (int k = 0; k < 40; ++k) {
      const uint64_t a = RandomDram(x, rng);
      const NormalizedAddress n = atd::calcNormAddr(a);
      ASSERT_NE(n.normalizedAddr, kInvalidAddress) << std::hex << a;
      const uint32_t owner = atd::checkDramHit(a);
      EXPECT_EQ(n.channelId, atd::instanceIdOf(owner, x.masks)) << std::hex << a;
      EXPECT_EQ(n.socketId, atd::socketIdOf(owner, x.masks)) << std::hex << a;
      EXPECT_EQ(n.dieId, atd::dieIdOf(owner, x.masks)) << std::hex << a;
      const uint64_t back = atd::calcSysAddr(n.normalizedAddr, n.socketId, n.dieId, n.channelId);
      ASSERT_EQ(back, a) << std::hex << "a=" << a << " norm=" << n.normalizedAddr;
      ++tally.addresses;
    }
  }
  EXPECT_GT(tally.topologies, 80);
}

// The interleave-field bits that the hashed and six-channel re-insertions
// leave 0: those above the channel bits (die and socket selection).
uint64_t LostBits(const Topology& t) {
  const bool six = t.channels == 6;
  const uint32_t c = six ? 3 : atd::log2Count(t.channels);
  const uint32_t n =
      c + (t.dieInterleave ? atd::log2Count(t.diesPerSocket) : 0) + (t.socketInterleave ? 1 : 0);
  const uint32_t b = 8 + t.intLvAddrSel;
  const bool split = t.hashed && c >= 2;
  uint64_t gap = 0;
  for (uint32_t k = c; k < n; ++k) gap |= 1ULL << (split ? 12 + k - 1 : b + k);
  return gap;
}

// Hashed and six-channel maps with die or socket interleave: the way back
// clears the die and socket bits of the interleave field. Hashed maps give
// back exactly the addresses whose die and socket bits are 0 (the others come
// back with those bits cleared); six-channel maps
// also misplace the channel hash, so even some of those come back elsewhere.
// Where a lost bit is a hash input (bit 14 and up) the channel bit moves too.
TEST(FabricProperty, InterleavedDiesAndSocketsAreLostByTheHashedWayBack) {
  std::mt19937_64 rng(0x5EED1234);
  int hashedTopologies = 0, sixTopologies = 0, sixSame = 0, sixDifferent = 0;
  for (int i = 0; i < 1500; ++i) {
    const Topology t = fabric_test::RandomTopology(rng);
    if (fabric_test::RoundTrips(t)) continue;
    sim::Platform platform;
    platform.trace.Enable(false);
    const Expanded x = sim::topology::Apply(t, platform);
    SCOPED_TRACE(Describe(t));
    const bool six = t.channels == 6;
    (six ? sixTopologies : hashedTopologies)++;
    const uint64_t lost = LostBits(t);
    for (int k = 0; k < 30; ++k) {
      const uint64_t a = RandomDram(x, rng);
      const NormalizedAddress n = atd::calcNormAddr(a);
      ASSERT_NE(n.normalizedAddr, kInvalidAddress);
      const uint64_t back = atd::calcSysAddr(n.normalizedAddr, n.socketId, n.dieId, n.channelId);
      ASSERT_NE(back, kInvalidAddress) << std::hex << a;
      EXPECT_EQ(back & lost, 0u) << std::hex << a;
      if (six) {
        if ((a & lost) != 0) {
          EXPECT_NE(back, a) << std::hex << a;
        }
        ((back == a) ? sixSame : sixDifferent)++;
      } else {
        EXPECT_EQ(back == a, (a & lost) == 0) << std::hex << a << " -> " << back;
        if ((lost >> 14) == 0) {  // no lost bit feeds a hash term
          EXPECT_EQ(back, a & ~lost) << std::hex << a;
        }
      }
    }
  }
  EXPECT_GT(hashedTopologies, 40);
  EXPECT_GT(sixTopologies, 10);
  EXPECT_GT(sixSame, 0);
  EXPECT_GT(sixDifferent, 0);
}

// Addresses in no map: above the last one, and the MMIO hole when it falls
// between two maps.
TEST(FabricProperty, AddressesOutsideEveryMapAreNotDram) {
  std::mt19937_64 rng(0xA11FF);
  int checked = 0;
  for (int i = 0; i < 80; ++i) {
    const Topology t = fabric_test::RandomTopology(rng);
    sim::Platform platform;
    platform.trace.Enable(false);
    const Expanded x = sim::topology::Apply(t, platform);
    SCOPED_TRACE(Describe(t));
    std::vector<uint64_t> outside = {x.regions.back().limit + 1, 1ULL << 48, ~0ULL};
    for (int k = 0; k < 8; ++k)
      outside.push_back(
          std::uniform_int_distribution<uint64_t>(x.regions.back().limit + 1, ~0ULL)(rng));
    for (size_t r = 1; r < x.regions.size(); ++r)
      if (x.regions[r].base != x.regions[r - 1].limit + 1)
        outside.push_back(x.regions[r].base - 1);  // the hole skipped between two maps
    for (uint64_t a : outside) {
      const NormalizedAddress n = atd::calcNormAddr(a);
      EXPECT_EQ(n.normalizedAddr, kInvalidAddress) << std::hex << a;
      EXPECT_EQ(n.socketId | n.dieId | n.channelId | n.reserved, 0) << std::hex << a;
      EXPECT_EQ(atd::checkDramHit(a), atd::kNoOwner) << std::hex << a;
      ++checked;
    }
  }
  EXPECT_GT(checked, 800);
}

// Each channel's share ends where its map ends: the first normalized address
// past it is refused by the limit test.
TEST(FabricProperty, NormalizedAddressesBeyondTheShareAreRefused) {
  std::mt19937_64 rng(0xBEE);
  for (int i = 0; i < 60; ++i) {
    const Topology t = fabric_test::RandomTopology(rng);
    if (!fabric_test::RoundTrips(t)) continue;
    sim::Platform platform;
    platform.trace.Enable(false);
    const Expanded x = sim::topology::Apply(t, platform);
    SCOPED_TRACE(Describe(t));
    const uint64_t end = t.highChannelSize ? x.hiAddrOffset + t.highChannelSize : t.channelSize;
    for (const auto& ch : x.channels) {
      if (!ch.populated) continue;
      EXPECT_NE(atd::calcSysAddr(end - 1, ch.socket, ch.die, ch.channel), kInvalidAddress);
      EXPECT_EQ(atd::calcSysAddr(end, ch.socket, ch.die, ch.channel), kInvalidAddress);
    }
  }
}

}  // namespace
