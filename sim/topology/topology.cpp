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

Expanded Expand(const Topology& t) {
  Check(t);
  Expanded x{};
  const bool six = t.channels == 6;
  const unsigned dieBits = BitsFor(t.diesPerSocket);
  const unsigned socketBits = BitsFor(t.sockets);

  // ---- fabric ids ----
  uint32_t reg208 = 0, reg20C = 0, reg3F8 = 0;
  if (t.layout == atd::FabricIdLayout::Combined) {
    const uint32_t dieShift = kCombinedComponentBits;
    const uint32_t socketShift = dieShift + dieBits;
    reg208 = SystemFabricIdMask0::DieMask::Put(((1u << dieBits) - 1) << dieShift) |
             SystemFabricIdMask0::SocketMask::Put(((1u << socketBits) - 1) << socketShift) |
             SystemFabricIdMask0::DieShift::Put(dieShift) |
             SystemFabricIdMask0::SocketShift::Put(socketShift);
  } else {
    reg208 = SystemFabricIdMask0::LayoutSelect::Put(1) |
             SystemFabricIdMask0::NodeMask::Put(((1u << (dieBits + socketBits)) - 1)
                                                << kExtendedNodeShift);
    reg20C = SystemFabricIdMask1::NodeIdShift::Put(kExtendedNodeShift) |
             SystemFabricIdMask1::SocketShiftAboveNode::Put(dieBits) |
             SystemFabricIdMask1::DieIdMask::Put((1u << dieBits) - 1) |
             SystemFabricIdMask1::SocketIdMask::Put(((1u << socketBits) - 1) << dieBits);
    reg3F8 = HashControl::Hash64KEnable::Put(t.hash64K) | HashControl::Hash2MEnable::Put(t.hash2M) |
             HashControl::Hash1GEnable::Put(t.hash1G);
  }
  // The same description, as the translations will decode it (the simulator
  // does not link the driver's decoder).
  {
    atd::FabricIdMasks& mk = x.masks;
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
  }
  const auto& m = x.masks;
  auto fabricId = [&](unsigned s, unsigned d, unsigned c) {
    return (s << m.socketShift) | (d << m.dieShift) | c;
  };

  // ---- interleave sets ----
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
      set.dstFabricId = fabricId(sg.front(), dg.front(), six ? 0 : t.firstChannel);
      sets.push_back(set);
    }
  }
  // Socket-major order of the address map: sort sets by their first member.
  std::stable_sort(sets.begin(), sets.end(), [](const Set& a, const Set& b) {
    return a.members.front() < b.members.front();
  });

  uint32_t code = 0;
  switch (t.channels) {
    case 2:
      code = t.hashed ? 12 : 1;
      break;
    case 4:
      code = t.hashed ? 13 : 3;
      break;
    case 8:
      code = t.hashed ? 14 : 5;
      break;
    case 6:
      code = 6;
      break;
    default:
      code = 0;
      break;
  }
  x.chanIntlvCode = code;
  const uint32_t dieCode = t.dieInterleave ? (t.diesPerSocket == 2 ? 1 : 2) : 0;
  const uint32_t socketBit = t.socketInterleave ? 1 : 0;
  const uint32_t chanBits = six ? 3 : BitsFor(t.channels);
  const uint32_t n = chanBits + dieCode + socketBit;
  x.nonPow2SizeBits = 0;
  if (six) {
    // Each channel's normalized space is 2^(p - n + 16) bytes.
    const int p = std::countr_zero(t.channelSize) - 16 + static_cast<int>(n);
    if (p < 0 || p > 63)
      throw TopologyError("channelSize", "too small for the six-channel interleave");
    x.nonPow2SizeBits = static_cast<uint32_t>(p);
  }

  auto encodeBase = [&](uint64_t base, bool holeEn) {
    uint32_t v = DramBaseAddress::Valid::Put(1) | DramBaseAddress::HoleEn::Put(holeEn) |
                 DramBaseAddress::Address::Put(static_cast<uint32_t>(base >> 28));
    if (t.layout == atd::FabricIdLayout::Combined) {
      v |= DramBaseAddress::ChanIntlvCombined::Put(code) |
           DramBaseAddress::IntLvAddrSelCombined::Put(t.intLvAddrSel);
    } else {
      v |= DramBaseAddress::ChanIntlvExtended::Put(code) |
           DramBaseAddress::DieIntlvExtended::Put(dieCode) |
           DramBaseAddress::SocketIntlvExtended::Put(socketBit) |
           DramBaseAddress::IntLvAddrSelExtended::Put(t.intLvAddrSel);
    }
    return v;
  };
  auto encodeLimit = [&](uint64_t limit, uint32_t dst) {
    uint32_t v = DramLimitAddress::Address::Put(static_cast<uint32_t>(limit >> 28));
    if (t.layout == atd::FabricIdLayout::Combined) {
      v |= DramLimitAddress::DstFabricIdCombined::Put(dst) |
           DramLimitAddress::SocketIntlvCombined::Put(socketBit) |
           DramLimitAddress::DieIntlvCombined::Put(dieCode);
    } else {
      v |= DramLimitAddress::DstFabricIdExtended::Put(dst);
    }
    return v;
  };

  // ---- the system address map ----
  x.holeBase = t.holeBase;
  const unsigned width = six ? 6 : t.channels;
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
    r.baseReg = encodeBase(r.base, r.holeEn);
    r.limitReg = encodeLimit(r.limit, sets[setIndex].dstFabricId);
    cursor = r.limit + 1;
    x.regions.push_back(r);
  };
  for (unsigned i = 0; i < sets.size(); ++i)
    place(sets[i].members.size() * width * t.channelSize, i, 0);
  if (t.highChannelSize != 0)
    for (unsigned i = 0; i < sets.size(); ++i)
      place(sets[i].members.size() * width * t.highChannelSize, i, 1);
  if (x.regions.size() > kMapCount) throw TopologyError("sockets", "more than 16 address maps");
  x.hiAddrOffset = t.highChannelSize != 0 ? t.channelSize : 0;

  // ---- registers ----
  auto set = [&](uint32_t node, uint8_t fn, uint16_t off, uint16_t inst, uint32_t v) {
    x.registers.push_back({FabricRegKey{static_cast<uint8_t>(node), fn, off, inst}, v});
  };
  const uint32_t reg104 =
      t.holeBase != 0 ? (static_cast<uint32_t>(t.holeBase) & 0xFF000000u) | 1u : 0;

  // Node 0: the fabric-wide registers (broadcast), block list, CCM maps.
  set(0, 1, 0x208, kBroadcast, reg208);
  if (t.layout == atd::FabricIdLayout::Extended) {
    set(0, 1, 0x20C, kBroadcast, reg20C);
    set(0, 0, 0x3F8, kBroadcast, reg3F8);
  }
  x.ccmInstance = t.ccm ? t.channelsPerDie + 2 : 0xFF;
  const uint32_t blocks = t.channelsPerDie + 4;
  set(0, 0, 0x40, kBroadcast, blocks);
  for (uint32_t k = 0; k < blocks; ++k) {
    uint32_t info = 0;                                         // no block
    if (k < t.channelsPerDie) info = 0x4;                      // coherent slave
    if (k == t.channelsPerDie + 2) info = t.ccm ? 0x10 : 0x6;  // CCM (type 0), or another block
    if (k == t.channelsPerDie + 3) info = 0x5;
    set(0, 0, 0x44, static_cast<uint16_t>(k), info);
  }
  uint32_t lcm = 0x76543210;
  if (six) {
    lcm = 0xFF000000;
    for (unsigned k = 0; k < 6; ++k) lcm |= uint32_t{t.logicalChannelMap[k]} << (4 * k);
  }
  set(0, 0, 0x60, kBroadcast, lcm);
  set(0, 0, 0x68, kBroadcast, lcm);
  const uint16_t ccmKey = t.ccm ? static_cast<uint16_t>(x.ccmInstance) : kBroadcast;
  set(0, 0, 0x104, ccmKey, reg104);
  for (unsigned i = 0; i < x.regions.size(); ++i) {
    set(0, 0, DramBaseReg(i).offset, ccmKey, x.regions[i].baseReg);
    set(0, 0, DramLimitReg(i).offset, ccmKey, x.regions[i].limitReg);
  }

  // Every coherent slave: its fabric id, hole, its maps, offset, size bits.
  const uint32_t reg1B4 = x.hiAddrOffset == 0
                              ? 0
                              : HiAddrOffsetControl::Enable::Put(1) |
                                    (t.layout == atd::FabricIdLayout::Combined
                                         ? HiAddrOffsetControl::OffsetCombined::Put(
                                               static_cast<uint32_t>(x.hiAddrOffset >> 28))
                                         : HiAddrOffsetControl::OffsetExtended::Put(
                                               static_cast<uint32_t>(x.hiAddrOffset >> 28)));
  for (unsigned s = 0; s < t.sockets; ++s) {
    for (unsigned d = 0; d < t.diesPerSocket; ++d) {
      for (unsigned c = 0; c < t.channelsPerDie; ++c) {
        const uint32_t f = fabricId(s, d, c);
        const uint32_t node = (f & m.nodeMask) >> m.dieShift;
        const uint16_t inst = static_cast<uint16_t>(c);
        bool populated = false;
        unsigned setIndex = 0;
        for (unsigned i = 0; i < sets.size(); ++i) {
          const auto& mem = sets[i].members;
          if (std::find(mem.begin(), mem.end(), std::make_pair(s, d)) == mem.end()) continue;
          populated = six ? std::find(t.logicalChannelMap.begin(), t.logicalChannelMap.end(), c) !=
                                t.logicalChannelMap.end()
                          : (c >= t.firstChannel && c < t.firstChannel + t.channels);
          setIndex = i;
        }
        x.channels.push_back({s, d, c, f, node, populated});
        set(node, 0, 0x50, inst, BlockFabricId::FabricId::Put(f));
        set(node, 0, 0x104, inst, reg104);
        if (!populated) continue;
        for (const Region& r : x.regions) {
          if (r.set != setIndex) continue;
          set(node, 0, DramBaseReg(r.mapIndex).offset, inst, r.baseReg);
          set(node, 0, DramLimitReg(r.mapIndex).offset, inst, r.limitReg);
        }
        if (reg1B4 != 0) set(node, 0, 0x1B4, inst, reg1B4);
        if (six) set(node, 2, 0x90, inst, NonPow2Size::NonPow2SizeBits::Put(x.nonPow2SizeBits));
      }
    }
  }
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
