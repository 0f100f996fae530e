#include "sim/topology/topology.h"

#include "registers/fabric_registers.h"
#include "sim/dram/channel_config_store.h"

#include <algorithm>
#include <bit>
#include <set>

namespace sim::topology {

namespace {

using namespace atd::fabric_reg;
using fabric::FabricRegKey;
using fabric::kBroadcast;

constexpr uint64_t k256M = 1ULL << 28;
constexpr uint64_t k4G = 1ULL << 32;
constexpr uint64_t kTop = 1ULL << 48;
constexpr uint32_t kCombinedComponentBits = 5;
constexpr uint32_t kExtendedNodeShift = 4;

unsigned BitsFor(unsigned count) {
  unsigned b = 0;
  while ((1u << b) < count) ++b;
  return b;
}

bool IsPow2(uint64_t v) {
  return v != 0 && (v & (v - 1)) == 0;
}

struct Set {
  std::vector<std::pair<unsigned, unsigned>> members;  // (socket, die)
  uint32_t dstFabricId;
};

void Check(const Topology& t) {
  auto fail = [](const char* f, const std::string& what) { throw TopologyError(f, what); };
  if (t.sockets < 1 || t.sockets > 2) fail("sockets", "1 or 2 sockets");
  if (t.diesPerSocket < 1 || t.diesPerSocket > 4) fail("diesPerSocket", "1 to 4 dies per socket");
  if (t.channelsPerDie < 1 || t.channelsPerDie > 8)
    fail("channelsPerDie", "1 to 8 channels per die");
  const bool six = t.channels == 6;
  if (t.channels != 1 && t.channels != 2 && t.channels != 4 && t.channels != 8 && !six)
    fail("channels", "1, 2, 4, 6 or 8 interleaved channels");
  if (six) {
    if (t.layout != atd::FabricIdLayout::Extended)
      fail("channels", "the six-channel interleave needs the Extended fabric-id layout");
    if (t.diesPerSocket != 1)
      fail("channels", "the six-channel interleave needs one die per socket");
    if (t.hashed) fail("hashed", "the six-channel interleave has its own hashing: set false");
    if (t.firstChannel != 0) fail("firstChannel", "must be 0 with the six-channel interleave");
    if (t.highChannelSize != 0)
      fail("highChannelSize", "no second map with the six-channel interleave");
    std::set<unsigned> seen;
    for (uint8_t c : t.logicalChannelMap) {
      if (c >= t.channelsPerDie)
        fail("logicalChannelMap", "channel " + std::to_string(c) + " not on the die");
      if (!seen.insert(c).second)
        fail("logicalChannelMap", "channel " + std::to_string(c) + " listed twice");
    }
  } else if (t.firstChannel + t.channels > t.channelsPerDie) {
    fail("channels", std::to_string(t.channels) + " channels from channel " +
                         std::to_string(t.firstChannel) + " exceed the " +
                         std::to_string(t.channelsPerDie) + " channels per die");
  }
  if (t.hashed && t.channels == 1) fail("hashed", "hashing needs 2, 4 or 8 channels");
  if (t.layout == atd::FabricIdLayout::Combined && !(t.hash64K && t.hash2M && t.hash1G))
    fail("hashEnables", "the Combined layout has every hash enabled");
  if (t.dieInterleave && t.diesPerSocket != 2 && t.diesPerSocket != 4)
    fail("dieInterleave", "needs 2 or 4 dies per socket");
  if (t.socketInterleave && t.sockets != 2) fail("socketInterleave", "needs 2 sockets");
  if (t.intLvAddrSel > 4) fail("intLvAddrSel", "0 to 4 (start bit 8 to 12)");
  if (t.hashed && t.channels >= 4 && t.intLvAddrSel > 3)
    fail("intLvAddrSel", "hashed 4 and 8 channel interleave starts at bit 11 at the latest");
  if (t.channelSize == 0 || t.channelSize % k256M != 0)
    fail("channelSize", "a non-zero multiple of 256 MiB");
  if (six && !IsPow2(t.channelSize))
    fail("channelSize", "a power of two with the six-channel interleave");
  if (t.highChannelSize % k256M != 0) fail("highChannelSize", "a multiple of 256 MiB");
  if (t.holeBase != 0 && (t.holeBase % k256M != 0 || t.holeBase >= k4G))
    fail("holeBase", "0 (no hole) or a 256 MiB multiple below 4 GiB");
}

}  // namespace

std::string LayoutName(atd::FabricIdLayout l) {
  return l == atd::FabricIdLayout::Combined ? "combined" : "extended";
}

bool Expanded::IsDram(uint64_t a) const {
  for (const Region& r : regions) {
    if (a < r.base || a > r.limit) continue;
    if (r.holeEn && a >= holeBase && a < k4G) return false;
    return true;
  }
  return false;
}

namespace {

// The fabric-id registers: F1x208 and, in the Extended layout, F1x20C and
// F0x3F8.
struct FabricIdRegisters {
  uint32_t reg208 = 0, reg20C = 0, reg3F8 = 0;
};

FabricIdRegisters EncodeFabricIds(const Topology& t) {
  const unsigned dieBits = BitsFor(t.diesPerSocket);
  const unsigned socketBits = BitsFor(t.sockets);
  FabricIdRegisters r;
  if (t.layout == atd::FabricIdLayout::Combined) {
    using R = SystemFabricIdMask0;
    const uint32_t dieShift = kCombinedComponentBits;
    const uint32_t socketShift = dieShift + dieBits;
    r.reg208 = R::DieMask::Put(((1u << dieBits) - 1) << dieShift) |
               R::SocketMask::Put(((1u << socketBits) - 1) << socketShift) |
               R::DieShift::Put(dieShift) | R::SocketShift::Put(socketShift);
    return r;
  }
  r.reg208 = SystemFabricIdMask0::LayoutSelect::Put(1) |
             SystemFabricIdMask0::NodeMask::Put(((1u << (dieBits + socketBits)) - 1)
                                                << kExtendedNodeShift);
  r.reg20C = SystemFabricIdMask1::NodeIdShift::Put(kExtendedNodeShift) |
             SystemFabricIdMask1::SocketShiftAboveNode::Put(dieBits) |
             SystemFabricIdMask1::DieIdMask::Put((1u << dieBits) - 1) |
             SystemFabricIdMask1::SocketIdMask::Put(((1u << socketBits) - 1) << dieBits);
  r.reg3F8 = HashControl::Hash64KEnable::Put(t.hash64K) | HashControl::Hash2MEnable::Put(t.hash2M) |
             HashControl::Hash1GEnable::Put(t.hash1G);
  return r;
}

// The same description, as the translations will decode it (the simulator
// does not link the driver's decoder).
atd::FabricIdMasks MasksOf(const Topology& t) {
  const unsigned dieBits = BitsFor(t.diesPerSocket);
  const unsigned socketBits = BitsFor(t.sockets);
  atd::FabricIdMasks mk{};
  mk.layout = t.layout;
  const uint32_t dieShift =
      t.layout == atd::FabricIdLayout::Combined ? kCombinedComponentBits : kExtendedNodeShift;
  mk.dieShift = dieShift;
  mk.dieMask = ((1u << dieBits) - 1) << dieShift;
  mk.socketShift = dieShift + dieBits;
  mk.socketMask = ((1u << socketBits) - 1) << mk.socketShift;
  mk.nodeMask = mk.dieMask | mk.socketMask;
  mk.hash = t.layout == atd::FabricIdLayout::Combined
                ? atd::HashEnables{1, 1, 1}
                : atd::HashEnables{t.hash64K, t.hash2M, t.hash1G};
  return mk;
}

uint32_t FabricIdOf(const atd::FabricIdMasks& m, unsigned socket, unsigned die, unsigned channel) {
  return (socket << m.socketShift) | (die << m.dieShift) | channel;
}

// The interleave sets in the socket-major order of the address map, each
// with the fabric id of its map's first channel.
std::vector<Set> InterleaveSets(const Topology& t, const atd::FabricIdMasks& m) {
  std::vector<std::vector<unsigned>> socketGroups, dieGroups;
  if (t.socketInterleave) {
    socketGroups.push_back({0, 1});
  } else {
    for (unsigned s = 0; s < t.sockets; ++s) socketGroups.push_back({s});
  }
  if (t.dieInterleave) {
    dieGroups.emplace_back();
    for (unsigned d = 0; d < t.diesPerSocket; ++d) dieGroups.back().push_back(d);
  } else {
    for (unsigned d = 0; d < t.diesPerSocket; ++d) dieGroups.push_back({d});
  }
  std::vector<Set> sets;
  for (const auto& dg : dieGroups) {
    for (const auto& sg : socketGroups) {
      Set set;
      for (unsigned s : sg)
        for (unsigned d : dg) set.members.push_back({s, d});
      set.dstFabricId = FabricIdOf(m, sg.front(), dg.front(), t.channels == 6 ? 0 : t.firstChannel);
      sets.push_back(set);
    }
  }
  std::stable_sort(sets.begin(), sets.end(), [](const Set& a, const Set& b) {
    return a.members.front() < b.members.front();
  });
  return sets;
}

uint32_t ChannelCode(const Topology& t) {
  switch (t.channels) {
    case 2:
      return t.hashed ? 12 : 1;
    case 4:
      return t.hashed ? 13 : 3;
    case 8:
      return t.hashed ? 14 : 5;
    case 6:
      return 6;
    default:
      return 0;
  }
}

// The interleave fields every DRAM base/limit register pair carries.
struct MapEncoder {
  atd::FabricIdLayout layout;
  uint32_t chanCode, dieCode, socketBit, intLvAddrSel;

  uint32_t Base(uint64_t base, bool holeEn) const {
    using B = DramBaseAddress;
    uint32_t v = B::Valid::Put(1) | B::HoleEn::Put(holeEn) |
                 B::Address::Put(static_cast<uint32_t>(base >> 28));
    if (layout == atd::FabricIdLayout::Combined)
      return v | B::ChanIntlvCombined::Put(chanCode) | B::IntLvAddrSelCombined::Put(intLvAddrSel);
    return v | B::ChanIntlvExtended::Put(chanCode) | B::DieIntlvExtended::Put(dieCode) |
           B::SocketIntlvExtended::Put(socketBit) | B::IntLvAddrSelExtended::Put(intLvAddrSel);
  }
  uint32_t Limit(uint64_t limit, uint32_t dst) const {
    using L = DramLimitAddress;
    const uint32_t v = L::Address::Put(static_cast<uint32_t>(limit >> 28));
    if (layout == atd::FabricIdLayout::Combined)
      return v | L::DstFabricIdCombined::Put(dst) | L::SocketIntlvCombined::Put(socketBit) |
             L::DieIntlvCombined::Put(dieCode);
    return v | L::DstFabricIdExtended::Put(dst);
  }
};

// The system address map: each set's share of map 0, then (with a second
// map per channel) each set's share of map 1, from address 0 up, the hole
// skipped.
std::vector<Region> PlaceRegions(const Topology& t, const std::vector<Set>& sets,
                                 const MapEncoder& enc) {
  std::vector<Region> regions;
  const unsigned width = t.channels == 6 ? 6 : t.channels;
  uint64_t cursor = 0;
  auto place = [&](uint64_t size, unsigned setIndex, unsigned mapIndex) {
    if (t.holeBase != 0 && cursor == t.holeBase) cursor = k4G;
    Region r{};
    r.base = cursor;
    r.limit = cursor + size - 1;
    if (t.holeBase != 0 && cursor < t.holeBase && t.holeBase <= r.limit) {
      r.holeEn = true;
      r.limit += k4G - t.holeBase;
    }
    if (r.limit >= kTop) throw TopologyError("channelSize", "the DRAM ends above 2^48");
    r.mapIndex = mapIndex;
    r.set = setIndex;
    r.baseReg = enc.Base(r.base, r.holeEn);
    r.limitReg = enc.Limit(r.limit, sets[setIndex].dstFabricId);
    cursor = r.limit + 1;
    regions.push_back(r);
  };
  for (unsigned i = 0; i < sets.size(); ++i)
    place(sets[i].members.size() * width * t.channelSize, i, 0);
  if (t.highChannelSize != 0)
    for (unsigned i = 0; i < sets.size(); ++i)
      place(sets[i].members.size() * width * t.highChannelSize, i, 1);
  if (regions.size() > kMapCount) throw TopologyError("sockets", "more than 16 address maps");
  return regions;
}

// Appends register values to an expansion, keyed by their declarations.
struct RegisterList {
  std::vector<fabric::FabricRegister>& out;
  void Set(uint32_t node, atd::FabricReg r, uint16_t inst, uint32_t v) {
    out.push_back({FabricRegKey{static_cast<uint8_t>(node), r.function, r.offset, inst}, v});
  }
};

uint32_t HoleControl(const Topology& t) {
  return t.holeBase != 0 ? (static_cast<uint32_t>(t.holeBase) & 0xFF000000u) | 1u : 0;
}

// Node 0: the fabric-wide registers (broadcast), the block list, the CCM's
// maps.
void NodeZeroRegisters(const Topology& t, const FabricIdRegisters& ids, Expanded& x) {
  RegisterList regs{x.registers};
  regs.Set(0, SystemFabricIdMask0::kReg, kBroadcast, ids.reg208);
  if (t.layout == atd::FabricIdLayout::Extended) {
    regs.Set(0, SystemFabricIdMask1::kReg, kBroadcast, ids.reg20C);
    regs.Set(0, HashControl::kReg, kBroadcast, ids.reg3F8);
  }
  x.ccmInstance = t.ccm ? t.channelsPerDie + 2 : 0xFF;
  const uint32_t blocks = t.channelsPerDie + 4;
  regs.Set(0, BlockInstanceCount::kReg, kBroadcast, blocks);
  for (uint32_t k = 0; k < blocks; ++k) {
    uint32_t info = 0;                                         // no block
    if (k < t.channelsPerDie) info = 0x4;                      // coherent slave
    if (k == t.channelsPerDie + 2) info = t.ccm ? 0x10 : 0x6;  // CCM (type 0), or another block
    if (k == t.channelsPerDie + 3) info = 0x5;
    regs.Set(0, BlockInstanceInfo::kReg, static_cast<uint16_t>(k), info);
  }
  uint32_t lcm = 0x76543210;
  if (t.channels == 6) {
    lcm = 0xFF000000;
    for (unsigned k = 0; k < 6; ++k) lcm |= uint32_t{t.logicalChannelMap[k]} << (4 * k);
  }
  regs.Set(0, LogicalChannelMap::kSocket0, kBroadcast, lcm);
  regs.Set(0, LogicalChannelMap::kOtherSockets, kBroadcast, lcm);
  const uint16_t ccmKey = t.ccm ? static_cast<uint16_t>(x.ccmInstance) : kBroadcast;
  regs.Set(0, DramHoleControl::kReg, ccmKey, HoleControl(t));
  for (unsigned i = 0; i < x.regions.size(); ++i) {
    regs.Set(0, DramBaseReg(i), ccmKey, x.regions[i].baseReg);
    regs.Set(0, DramLimitReg(i), ccmKey, x.regions[i].limitReg);
  }
}

// Whether the coherent slave (s, d, c) is part of an interleave set, and
// which (the last that has its socket and die).
bool Populated(const Topology& t, const std::vector<Set>& sets, unsigned s, unsigned d, unsigned c,
               unsigned* setIndex) {
  bool populated = false;
  for (unsigned i = 0; i < sets.size(); ++i) {
    const auto& mem = sets[i].members;
    if (std::find(mem.begin(), mem.end(), std::make_pair(s, d)) == mem.end()) continue;
    populated = t.channels == 6 ? std::find(t.logicalChannelMap.begin(), t.logicalChannelMap.end(),
                                            c) != t.logicalChannelMap.end()
                                : (c >= t.firstChannel && c < t.firstChannel + t.channels);
    *setIndex = i;
  }
  return populated;
}

// Every coherent slave: its fabric id, hole, its maps, offset, size bits.
void SlaveRegisters(const Topology& t, const std::vector<Set>& sets, Expanded& x) {
  RegisterList regs{x.registers};
  const auto& m = x.masks;
  const uint32_t offset = static_cast<uint32_t>(x.hiAddrOffset >> 28);
  const uint32_t reg1B4 = x.hiAddrOffset == 0
                              ? 0
                              : HiAddrOffsetControl::Enable::Put(1) |
                                    (t.layout == atd::FabricIdLayout::Combined
                                         ? HiAddrOffsetControl::OffsetCombined::Put(offset)
                                         : HiAddrOffsetControl::OffsetExtended::Put(offset));
  for (unsigned s = 0; s < t.sockets; ++s) {
    for (unsigned d = 0; d < t.diesPerSocket; ++d) {
      for (unsigned c = 0; c < t.channelsPerDie; ++c) {
        const uint32_t f = FabricIdOf(m, s, d, c);
        const uint32_t node = (f & m.nodeMask) >> m.dieShift;
        const uint16_t inst = static_cast<uint16_t>(c);
        unsigned setIndex = 0;
        const bool populated = Populated(t, sets, s, d, c, &setIndex);
        x.channels.push_back({s, d, c, f, node, populated});
        regs.Set(node, BlockFabricId::kReg, inst, BlockFabricId::FabricId::Put(f));
        regs.Set(node, DramHoleControl::kReg, inst, HoleControl(t));
        if (!populated) continue;
        for (const Region& r : x.regions) {
          if (r.set != setIndex) continue;
          regs.Set(node, DramBaseReg(r.mapIndex), inst, r.baseReg);
          regs.Set(node, DramLimitReg(r.mapIndex), inst, r.limitReg);
        }
        if (reg1B4 != 0) regs.Set(node, HiAddrOffsetControl::kReg, inst, reg1B4);
        if (t.channels == 6)
          regs.Set(node, NonPow2Size::kReg, inst,
                   NonPow2Size::NonPow2SizeBits::Put(x.nonPow2SizeBits));
      }
    }
  }
}

}  // namespace

Expanded Expand(const Topology& t) {
  Check(t);
  Expanded x{};
  const bool six = t.channels == 6;
  const FabricIdRegisters ids = EncodeFabricIds(t);
  x.masks = MasksOf(t);
  const std::vector<Set> sets = InterleaveSets(t, x.masks);

  x.chanIntlvCode = ChannelCode(t);
  const uint32_t dieCode = t.dieInterleave ? (t.diesPerSocket == 2 ? 1 : 2) : 0;
  const uint32_t socketBit = t.socketInterleave ? 1 : 0;
  const uint32_t n = (six ? 3 : BitsFor(t.channels)) + dieCode + socketBit;
  x.nonPow2SizeBits = 0;
  if (six) {
    // Each channel's normalized space is 2^(p - n + 16) bytes.
    const int p = std::countr_zero(t.channelSize) - 16 + static_cast<int>(n);
    if (p < 0 || p > 63)
      throw TopologyError("channelSize", "too small for the six-channel interleave");
    x.nonPow2SizeBits = static_cast<uint32_t>(p);
  }

  x.holeBase = t.holeBase;
  const MapEncoder enc{t.layout, x.chanIntlvCode, dieCode, socketBit, t.intLvAddrSel};
  x.regions = PlaceRegions(t, sets, enc);
  x.hiAddrOffset = t.highChannelSize != 0 ? t.channelSize : 0;

  NodeZeroRegisters(t, ids, x);
  SlaveRegisters(t, sets, x);
  return x;
}

std::vector<dram::ChannelCapacity> DramChannels(const Topology& t, const Expanded& x) {
  constexpr uint64_t kSmallest = 4ULL << 20;
  constexpr uint64_t kLargest = 1ULL << 40;
  const uint64_t share = t.channelSize + t.highChannelSize;
  uint64_t capacity = kSmallest;
  while (capacity < share) {
    // 2^k, then 3 * 2^(k-1) between 2^k and 2^(k+1).
    const uint64_t between = capacity + capacity / 2;
    capacity = between >= share ? between : capacity * 2;
  }
  std::vector<dram::ChannelCapacity> out;
  if (capacity > kLargest) return out;
  for (const Channel& c : x.channels) {
    if (!c.populated || dram::SlotOf(c.socket, c.die, c.channel) >= atd::kChannelSlots) continue;
    out.push_back({static_cast<uint8_t>(c.socket), static_cast<uint8_t>(c.die),
                   static_cast<uint8_t>(c.channel), capacity});
  }
  return out;
}

Expanded Apply(const Topology& t, Platform& p) {
  Expanded x = Expand(t);
  auto& fabric = fabric::DataFabric::Of(p);
  for (const auto& r : x.registers) fabric.Set(r.key, r.value);
  atd::ChannelConfigTable& table = dram::ChannelConfigOf(p);
  table = atd::ChannelConfigTable{};
  dram::BuildChannelConfig(table, DramChannels(t, x));
  return x;
}

}  // namespace sim::topology
