// Slots 1 and 2 of the TranslationProtocol that AddrTranslateDxe installs on
// a simulated platform, over generated machines: the fabric and the DIMM
// geometry both come from the topology builder, the driver starts as firmware
// starts it, and every call goes through the installed record.
#include "../fabric/topology_gen.h"
#include "registers/channel_config.h"
#include "sim/dram/channel_config_store.h"
#include "sim/dram/channel_geometry.h"
#include "sim/dram/dram_to_normalized.h"
#include "harness/addr_translate_driver.h"
#include "sim/mca/mca_banks.h"
#include "sim/profile/profile.h"
#include "sim/topology/topology.h"
#include "sim/topology/topology_profile.h"

#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <optional>
#include <random>
#include <tuple>

namespace {

using sim::topology::Topology;

constexpr uint8_t kCallerByte = 0xA5;

DramAddress CallerDram() {
  DramAddress d;
  std::memset(&d, kCallerByte, sizeof d);
  return d;
}
NormalizedAddress CallerNormalized() {
  NormalizedAddress n;
  std::memset(&n, kCallerByte, sizeof n);
  return n;
}
const uint8_t* Bytes(const void* p) {
  return static_cast<const uint8_t*>(p);
}

// Bytes 2, 3 and 11 of a DramAddress are never written.
void ExpectDramGapsKept(const DramAddress& d, const std::string& where) {
  for (unsigned i : {2u, 3u, 11u}) EXPECT_EQ(Bytes(&d)[i], kCallerByte) << where << " byte " << i;
}
// Bytes 12 to 15 of a NormalizedAddress keep the caller's values.
void ExpectNormalizedTailKept(const NormalizedAddress& n, const std::string& where) {
  for (unsigned i = 12; i < 16; ++i) EXPECT_EQ(Bytes(&n)[i], kCallerByte) << where << " byte " << i;
}

// A generated machine with the driver started on it.
struct Machine {
  Topology topology;
  sim::Platform platform;
  sim::topology::Expanded expanded;
  std::map<std::tuple<unsigned, unsigned, unsigned>, uint64_t> capacity;  // by socket, die, channel
  std::optional<sim::AddrTranslateDriver> driver;

  explicit Machine(const Topology& t) : topology(t) {
    expanded = sim::topology::Apply(t, platform);
    for (const auto& c : sim::topology::DramChannels(t, expanded))
      capacity[{c.socket, c.die, c.channel}] = c.capacity;
    driver.emplace(platform);
  }
  TranslationProtocol& P() { return *driver->Protocol(); }

  uint64_t RandomDramAddress(std::mt19937_64& rng) const {
    for (;;) {
      const auto& r = expanded.regions[rng() % expanded.regions.size()];
      const uint64_t a = r.base + rng() % (r.limit - r.base + 1);
      if (expanded.IsDram(a)) return a;
    }
  }
};

std::string Describe(uint64_t seed, uint64_t a) {
  char buf[96];
  std::snprintf(buf, sizeof buf, "seed %llu, address 0x%llX", static_cast<unsigned long long>(seed),
                static_cast<unsigned long long>(a));
  return buf;
}

constexpr uint64_t kSeeds = 96;
constexpr int kAddressesPerMachine = 64;

TEST(InstalledProtocol, SlotTwoThenSlotOneRoundTripsWithinTheGeometry) {
  unsigned roundTripMachines = 0, slotless = 0;
  for (uint64_t seed = 1; seed <= kSeeds; ++seed) {
    std::mt19937_64 rng(seed);
    Machine m(fabric_test::RandomTopology(rng));
    ASSERT_EQ(m.driver->Status(), EFI_SUCCESS) << "seed " << seed;
    ASSERT_NE(m.driver->Protocol(), nullptr);
    const bool roundTrips = fabric_test::RoundTrips(m.topology);
    roundTripMachines += roundTrips;
    for (int i = 0; i < kAddressesPerMachine; ++i) {
      const uint64_t a = m.RandomDramAddress(rng);
      const std::string where = Describe(seed, a);

      NormalizedAddress n = CallerNormalized();
      DramAddress dram = CallerDram();
      ASSERT_EQ(m.P().SystemToNormalized(&a, &n, &dram), EFI_SUCCESS) << where;
      ExpectNormalizedTailKept(n, where);
      ExpectDramGapsKept(dram, where);
      EXPECT_EQ(n.reserved, 0) << where;

      const auto cap = m.capacity.find({n.socketId, n.dieId, n.channelId});
      if (sim::dram::SlotOf(n.socketId, n.dieId, n.channelId) >= atd::kChannelSlots) {
        // No slot for this channel: the translation refuses it with zeros.
        ++slotless;
        EXPECT_EQ(dram.chipSelect | dram.bank | dram.row | dram.col | dram.rankMul, 0u) << where;
      } else {
        ASSERT_NE(cap, m.capacity.end()) << where << ": the owner has no geometry";
        EXPECT_LT(n.normalizedAddr, cap->second) << where;
        const sim::dram::ChannelGeometry g =
            sim::dram::DefaultGeometry(n.socketId, n.dieId, n.channelId, cap->second);
        EXPECT_LT(dram.chipSelect, g.chipSelects) << where;
        EXPECT_LT(dram.bank, 1u << g.bankBits) << where;
        EXPECT_LT(dram.row, 1ULL << g.rowBits) << where;
        EXPECT_LT(dram.col, 1u << g.colBits) << where;
        EXPECT_LT(dram.rankMul, 1u << g.rmBits) << where;
      }

      uint64_t back = 0;
      DramAddress dramBack = CallerDram();
      const EFI_STATUS s = m.P().NormalizedToSystem(&n, &back, &dramBack);
      ExpectDramGapsKept(dramBack, where);
      // The same normalized address gives the same coordinates either way.
      EXPECT_EQ(std::memcmp(&dram, &dramBack, sizeof dram), 0) << where;
      if (roundTrips) {
        EXPECT_EQ(s, EFI_SUCCESS) << where;
        EXPECT_EQ(back, a) << where;
      }
    }
  }
  // The generator must keep producing both kinds of machine and channels
  // without a slot, or this test stops covering them.
  EXPECT_GT(roundTripMachines, kSeeds / 2);
  EXPECT_GT(slotless, 0u);
}

// Slot 2 gives the DRAM coordinates of a system address; from those alone
// the reverse of the channel's mapping finds the normalized address, and
// slot 1 turns it back into the system address (less the bytes of one
// access, bits 2:0, which no coordinate holds).
TEST(InstalledProtocol, SlotTwoThenTheReverseMappingThenSlotOneGiveTheAddressBack) {
  unsigned checked = 0;
  for (uint64_t seed = 201; seed <= 200 + kSeeds / 2; ++seed) {
    std::mt19937_64 rng(seed);
    Machine m(fabric_test::RandomTopology(rng));
    ASSERT_EQ(m.driver->Status(), EFI_SUCCESS) << "seed " << seed;
    if (!fabric_test::RoundTrips(m.topology)) continue;
    const atd::ChannelConfigTable& table = sim::dram::ChannelConfigOf(m.platform);
    for (int i = 0; i < kAddressesPerMachine / 4; ++i) {
      const uint64_t a = m.RandomDramAddress(rng);
      const std::string where = Describe(seed, a);
      NormalizedAddress n{};
      DramAddress dram{};
      ASSERT_EQ(m.P().SystemToNormalized(&a, &n, &dram), EFI_SUCCESS) << where;
      const unsigned slot = sim::dram::SlotOf(n.socketId, n.dieId, n.channelId);
      if (slot >= atd::kChannelSlots) continue;
      const auto found = sim::dram::NormalizedFromDram(table, slot, dram);
      ASSERT_EQ(found.count, 1u) << where << ": " << found.reason;
      EXPECT_EQ(found.addresses[0], n.normalizedAddr & ~7ULL) << where;
      NormalizedAddress back = n;
      back.normalizedAddr = found.addresses[0];
      uint64_t sys = 0;
      DramAddress again{};
      ASSERT_EQ(m.P().NormalizedToSystem(&back, &sys, &again), EFI_SUCCESS) << where;
      EXPECT_EQ(sys, a & ~7ULL) << where;
      ++checked;
    }
  }
  EXPECT_GT(checked, 200u);  // enough machines with slots and round trips
}

TEST(InstalledProtocol, FailureRowsOfBothSlots) {
  for (uint64_t seed = 101; seed <= 100 + kSeeds / 2; ++seed) {
    std::mt19937_64 rng(seed);
    Machine m(fabric_test::RandomTopology(rng));
    ASSERT_EQ(m.driver->Status(), EFI_SUCCESS) << "seed " << seed;

    // Slot 2, system addresses outside every map: the all-ones record, the
    // DRAM coordinates untouched.
    const uint64_t past = m.expanded.regions.back().limit + 1;
    for (uint64_t a : {past, past + 0x12345640, uint64_t{1} << 48, ~uint64_t{0}}) {
      const std::string where = Describe(seed, a);
      NormalizedAddress n = CallerNormalized();
      DramAddress dram = CallerDram();
      EXPECT_EQ(m.P().SystemToNormalized(&a, &n, &dram), EFI_INVALID_PARAMETER) << where;
      EXPECT_EQ(n.normalizedAddr, kInvalidAddress) << where;
      EXPECT_EQ(n.socketId | n.dieId | n.channelId | n.reserved, 0) << where;
      ExpectNormalizedTailKept(n, where);
      const DramAddress caller = CallerDram();
      EXPECT_EQ(std::memcmp(&dram, &caller, sizeof dram), 0) << where;
    }

    // Slot 1, normalized addresses no map of the channel reaches (far above
    // its DRAM, or a channel with no DRAM): all ones, DRAM coordinates
    // written anyway.
    for (const auto& c : m.expanded.channels) {
      const uint64_t norm = c.populated ? uint64_t{1} << 44 : 0x1000;
      const std::string where = Describe(seed, norm) + ", socket " + std::to_string(c.socket) +
                                " die " + std::to_string(c.die) + " channel " +
                                std::to_string(c.channel);
      const NormalizedAddress in{norm,
                                 static_cast<uint8_t>(c.socket),
                                 static_cast<uint8_t>(c.die),
                                 static_cast<uint8_t>(c.channel),
                                 0,
                                 {}};
      uint64_t sys = 0x5A5A5A5A5A5A5A5AULL;
      DramAddress dram = CallerDram();
      EXPECT_EQ(m.P().NormalizedToSystem(&in, &sys, &dram), EFI_INVALID_PARAMETER) << where;
      EXPECT_EQ(sys, kInvalidAddress) << where;
      // Written: the chip select (0-3), bank (up to 5 bits) and rank
      // multiplier (up to 3 bits) can never read back as the caller's 0xA5.
      EXPECT_NE(dram.chipSelect, kCallerByte) << where;
      EXPECT_NE(dram.bank, kCallerByte) << where;
      EXPECT_NE(dram.rankMul, kCallerByte) << where;
      ExpectDramGapsKept(dram, where);
    }
  }
}

TEST(TopologyDramGeometry, EachPopulatedChannelWithASlotGetsItsShareRoundedUp) {
  struct Row {
    uint64_t channelSize, highChannelSize, capacity;
  };
  const Row rows[] = {
      {1ULL << 28, 0, 1ULL << 28},           // a power of two as it is
      {3ULL << 28, 0, 3ULL << 28},           // three times one as it is
      {5ULL << 28, 0, 6ULL << 28},           // up to three times a power of two
      {7ULL << 28, 0, 8ULL << 28},           // up to the next power of two
      {4ULL << 30, 1ULL << 30, 6ULL << 30},  // both maps of the channel
      {2ULL << 30, 2ULL << 30, 4ULL << 30},  // exactly a power of two in all
      {9ULL << 28, 0, 12ULL << 28},          // 2.25 GiB -> 3 GiB
      {17ULL << 28, 0, 24ULL << 28},         // 4.25 GiB -> 6 GiB
  };
  for (const Row& r : rows) {
    Topology t = Topology::Default();  // 2 sockets x 2 dies x 4 channels
    t.channelSize = r.channelSize;
    t.highChannelSize = r.highChannelSize;
    const auto x = sim::topology::Expand(t);
    const auto list = sim::topology::DramChannels(t, x);
    // Socket 1 die 1 has no slot; socket 0 die 1 and socket 1 die 0 share
    // theirs: 3 (socket, die) pairs of 4 channels are listed.
    ASSERT_EQ(list.size(), 12u) << r.channelSize;
    for (const auto& c : list) {
      EXPECT_LT(sim::dram::SlotOf(c.socket, c.die, c.channel), atd::kChannelSlots);
      EXPECT_EQ(c.capacity, r.capacity) << std::hex << r.channelSize << " + " << r.highChannelSize;
    }
  }
}

TEST(TopologyDramGeometry, OnlyPopulatedChannelsAreListed) {
  Topology t = Topology::Default();
  t.sockets = 1;
  t.diesPerSocket = 1;
  t.channelsPerDie = 8;
  t.channels = 2;
  t.firstChannel = 5;
  const auto list = sim::topology::DramChannels(t, sim::topology::Expand(t));
  ASSERT_EQ(list.size(), 2u);
  EXPECT_EQ(list[0].channel, 5);
  EXPECT_EQ(list[1].channel, 6);
}

TEST(TopologyDramGeometry, ProfileTopologyFillsTheTableAndChannelConfigAppliesAfterIt) {
  using sim::profile::Json;
  sim::Platform built;
  const Topology t = Topology::Default();
  const auto x = sim::topology::Apply(t, built);
  auto want = std::make_unique<atd::ChannelConfigTable>();
  sim::dram::BuildChannelConfig(*want, sim::topology::DramChannels(t, x));
  EXPECT_EQ(std::memcmp(&sim::dram::ChannelConfigOf(built), want.get(), sizeof *want), 0);

  // The built-in default profile: the same table.
  sim::Platform byDefault;
  sim::profile::Load(sim::profile::Default(), byDefault);
  EXPECT_EQ(std::memcmp(&sim::dram::ChannelConfigOf(byDefault), want.get(), sizeof *want), 0);

  // A channelConfig section in the same profile lands on top of it.
  sim::Platform overridden;
  Json j = sim::profile::Default();
  j["channelConfig"] = Json::parse(R"({"fields": {"csPresent[3]": 1}})");
  sim::profile::Load(j, overridden);
  want->csPresent[3] = 1;
  EXPECT_EQ(std::memcmp(&sim::dram::ChannelConfigOf(overridden), want.get(), sizeof *want), 0);
}

TEST(DriverHarness, TopologyProtocolCarriesTheTableAndTheProcessorList) {
  sim::Platform p;
  sim::mca::AddProcessor(p, 0, {1, 2, 3, 4, 5});
  sim::mca::AddProcessor(p, 1, {6, 7, 8, 9, 10});
  sim::AddrTranslateDriver driver(p);
  ASSERT_EQ(driver.Status(), EFI_SUCCESS);
  EXPECT_EQ(p.CountInstalled(gTranslationProtocolGuid), 1u);
  EXPECT_EQ(driver.Protocol(), p.Find(gTranslationProtocolGuid));
  const auto* iface =
      static_cast<const PlatformTopologyProtocol*>(p.Find(gPlatformTopologyProtocolGuid));
  ASSERT_EQ(iface, &driver.Topology());
  EXPECT_EQ(iface->channelConfigTable, &sim::dram::ChannelConfigOf(p));
  EXPECT_EQ(iface->processorCount, 2u);
  EXPECT_EQ(iface->processors, sim::mca::Processors(p).entries.data());
}

}  // namespace
