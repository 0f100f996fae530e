#include "tools/platsim/map/address_map.h"

#include "registers/channel_config.h"
#include "addr_translate/fabric/check_dram_hit.h"
#include "addr_translate/fabric/fabric_access.h"
#include "registers/fabric_registers.h"
#include "sim/dram/channel_config_store.h"
#include "sim/dram/channel_geometry.h"
#include "sim/fabric/data_fabric.h"
#include "tools/common/byte_view.h"
#include "tools/common/hex_text.h"

#include <algorithm>
#include <bit>
#include <cstdio>
#include <map>
#include <set>
#include <tuple>

namespace platsim::addrmap {

namespace {

using namespace atd::fabric_reg;

// Granules looked at from each end of a map to find its channels and the
// first and last byte each one serves. Every interleave selects its channel
// from address bits within the first 2^12 granules above the start bit.
constexpr unsigned kScanGranules = 4096;

std::string Range(uint64_t from, uint64_t to) {
  return "[" + tools::HexText(from, 16) + ", " + tools::HexText(to, 16) + "]";
}

DramMap DecodeMap(const AddressMap& am, unsigned index, uint32_t baseReg, uint32_t limitReg) {
  DramMap m{};
  m.index = index;
  m.baseReg = baseReg;
  m.limitReg = limitReg;
  m.map = atd::decodeDramAddressMap(am.masks.layout, baseReg, limitReg);
  m.routing = atd::checkDramHitChannels(m.map.chanIntlvCode);
  m.normalizing = atd::calcNormAddrChannels(m.map.chanIntlvCode);
  m.intLvAddrBit = atd::decodeIntLvAddrBit(atd::intLvAddrBitVariant(am.masks.layout), baseReg);
  m.numInterleaveBits = m.normalizing.bits + m.map.dieIntlvCode + m.map.socketIntlvBit;
  m.dies = atd::numDieInterleaved(m.map.dieIntlvCode);
  m.sockets = atd::numSocketsInterleaved(m.map.socketIntlvBit);
  // The bits calcNormAddr drops are those whose address normalizes to 0.
  for (uint32_t bit = 0; bit < 48 && m.numInterleaveBits != 0; ++bit)
    if (atd::removeInterleaveBits(1ULL << bit, m.intLvAddrBit, m.numInterleaveBits,
                                  m.normalizing.split, 0) == 0)
      m.interleaveBits.push_back(bit);
  if (m.map.holeEn && am.hasHole) {
    const uint64_t lo = std::max(am.holeBase, m.map.dramBaseAddr);
    const uint64_t hi = std::min(k4G - 1, m.map.dramLimitAddr);
    m.holeBytes = lo <= hi ? hi - lo + 1 : 0;
  }
  return m;
}

Dimms ReadDimms(const atd::ChannelConfigTable& t, unsigned socket, unsigned die, unsigned channel) {
  using atd::AddrCfg;
  Dimms d{};
  d.slot = sim::dram::SlotOf(socket, die, channel);
  d.hasSlot = d.slot < atd::kChannelSlots;
  if (!d.hasSlot) return d;
  const unsigned s = d.slot;
  for (unsigned p = 0; p < 2; ++p) {
    const unsigned present = std::popcount(static_cast<unsigned>((t.csPresent[s] >> (2 * p)) & 3u));
    if (present == 0) continue;
    const uint32_t cfg = t.addrCfg[s][p];
    PairGeometry g{};
    g.pair = p;
    g.chipSelects = present;
    g.bankBits = AddrCfg::BankBits(AddrCfg::Noofbank::Get(cfg));
    g.rowBits = AddrCfg::Noofrwolo::Get(cfg) + 10 + AddrCfg::Noofrowhi::Get(cfg);
    g.colBits = AddrCfg::Noofcol::Get(cfg) + 5;
    g.rmBits = AddrCfg::Noofrm::Get(cfg);
    d.capacity += g.chipSelects * g.BytesPerChipSelect();
    d.pairs.push_back(g);
  }
  return d;
}

// Owner of every granule in [from, to] stepping by `step` (negative: down),
// at most kScanGranules of them, hole skipped: the first granule found for
// each target.
std::map<uint32_t, uint64_t> Scan(const AddressMap& am, const DramMap& m, uint64_t start,
                                  bool down) {
  std::map<uint32_t, uint64_t> seen;
  const uint64_t g = m.Granule();
  uint64_t a = start;
  for (unsigned k = 0; k < kScanGranules; ++k) {
    if (a < m.map.dramBaseAddr || a > m.map.dramLimitAddr) break;
    if (!am.InHole(a)) seen.emplace(Route(am, m, a), a);
    if (down) {
      if (a < g) break;
      a -= g;
    } else {
      a += g;
    }
  }
  return seen;
}

// The driver's normalized address for system address `a` (slot 2), if the
// driver gives it to channel `c`.
bool NormalizeOn(TranslationProtocol& protocol, const Channel& c, uint64_t a, uint64_t* out) {
  NormalizedAddress n{};
  if (!SystemToNormalized(protocol, a, &n) || n.socketId != c.socket || n.dieId != c.die ||
      n.channelId != c.channel)
    return false;
  *out = n.normalizedAddr;
  return true;
}

void FindGaps(AddressMap& am) {
  std::vector<std::pair<uint64_t, uint64_t>> spans;
  for (const DramMap& m : am.maps) spans.push_back({m.map.dramBaseAddr, m.map.dramLimitAddr});
  std::sort(spans.begin(), spans.end());
  uint64_t cursor = 0;
  auto gap = [&](uint64_t from, uint64_t to) {  // inclusive, the hole taken out
    auto report = [&](uint64_t f, uint64_t t) {
      if (f > t) return;
      am.findings.push_back({FindingKind::Gap,
                             Range(f, t) + " (" + SizeText(t - f + 1) + ") is in no DRAM map", f,
                             t});
    };
    if (am.hasHole && from < k4G && to >= am.holeBase) {
      if (from < am.holeBase) report(from, am.holeBase - 1);
      if (to >= k4G) report(k4G, to);
    } else {
      report(from, to);
    }
  };
  for (const auto& [base, limit] : spans) {
    if (base > cursor) gap(cursor, base - 1);
    cursor = std::max(cursor, limit + 1);
  }
}

std::string ChannelName(const Channel& c) {
  return "socket " + std::to_string(c.socket) + " die " + std::to_string(c.die) + " channel " +
         std::to_string(c.channel);
}

void Check(AddressMap& am) {
  for (size_t i = 0; i < am.maps.size(); ++i) {
    for (size_t j = i + 1; j < am.maps.size(); ++j) {
      const auto& a = am.maps[i].map;
      const auto& b = am.maps[j].map;
      const uint64_t lo = std::max(a.dramBaseAddr, b.dramBaseAddr);
      const uint64_t hi = std::min(a.dramLimitAddr, b.dramLimitAddr);
      if (lo > hi) continue;
      am.findings.push_back(
          {FindingKind::Overlap,
           "maps " + std::to_string(am.maps[i].index) + " and " + std::to_string(am.maps[j].index) +
               " both cover " + Range(lo, hi) + " (" + SizeText(hi - lo + 1) +
               "); checkDramHit gives those addresses to map " + std::to_string(am.maps[i].index),
           lo, hi});
    }
  }
  FindGaps(am);

  std::set<uint32_t> targeted;
  for (const DramMap& m : am.maps) {
    std::string missing;
    for (uint32_t t : m.targets) {
      targeted.insert(t);
      const Channel* c = am.ChannelById(t);
      if (c == nullptr) {
        missing += (missing.empty() ? "" : ", ") +
                   (t == atd::kNoOwner ? std::string("a logical channel with no owner") : Hex(t));
        continue;
      }
      if (c->own[0].ccmMap == static_cast<int>(m.index) ||
          c->own[1].ccmMap == static_cast<int>(m.index))
        continue;
      am.findings.push_back(
          {FindingKind::MapMismatch,
           "map " + std::to_string(m.index) + " sends addresses to " + ChannelName(*c) +
               ", but none of that channel's own two maps holds the same base and limit "
               "registers (calcNormAddr and calcSysAddr read those)",
           m.map.dramBaseAddr, m.map.dramLimitAddr});
    }
    if (!missing.empty())
      am.findings.push_back(
          {FindingKind::MapWithoutChannels,
           "map " + std::to_string(m.index) + " " + Range(m.map.dramBaseAddr, m.map.dramLimitAddr) +
               " sends addresses to csFabricId " + missing + ", but no channel has that fabric id",
           m.map.dramBaseAddr, m.map.dramLimitAddr});
  }
  for (const Channel& c : am.channels) {
    // A channel with neither DIMMs nor map registers of its own is simply
    // unpopulated.
    if (targeted.count(c.fabricId) != 0 || !c.Populated()) continue;
    std::string own;
    for (const OwnMap& o : c.own)
      if (o.map.valid)
        own = "; its own map registers describe " + Range(o.map.dramBaseAddr, o.map.dramLimitAddr);
    if (c.dimms.capacity != 0) own += "; its DIMMs hold " + SizeText(c.dimms.capacity);
    am.findings.push_back(
        {FindingKind::ChannelWithoutMap, ChannelName(c) + " (csFabricId " + Hex(c.fabricId) +
                                             "): no DRAM map sends addresses to it" + own});
  }
}

std::string IdList(const std::set<unsigned>& ids) {
  std::string out;
  const std::vector<unsigned> v(ids.begin(), ids.end());
  for (size_t i = 0; i < v.size();) {
    size_t j = i;
    while (j + 1 < v.size() && v[j + 1] == v[j] + 1) ++j;
    if (!out.empty()) out += ", ";
    out += std::to_string(v[i]);
    if (j > i) out += (j == i + 1 ? ", " : "-") + std::to_string(v[j]);
    i = j + 1;
  }
  return out;
}

}  // namespace

uint64_t PairGeometry::BytesPerChipSelect() const {
  const unsigned bits = 3 + bankBits + rowBits + colBits + rmBits;
  return bits < 64 ? 1ULL << bits : 0;
}

const char* FindingName(FindingKind k) {
  switch (k) {
    case FindingKind::Overlap:
      return "overlap";
    case FindingKind::Gap:
      return "gap";
    case FindingKind::ChannelWithoutMap:
      return "channel without a map";
    case FindingKind::MapWithoutChannels:
      return "map without channels";
    case FindingKind::MapMismatch:
      return "map registers differ";
  }
  return "?";
}

const Channel* AddressMap::ChannelById(uint32_t fabricId) const {
  for (const Channel& c : channels)
    if (c.fabricId == fabricId) return &c;
  return nullptr;
}

uint32_t Route(const AddressMap& am, const DramMap& m, uint64_t a) {
  if (m.routing.sixChannel) {
    // The six-channel selection works on the address less hole and base.
    if (m.map.holeEn && a >= k4G) a -= atd::holeAdjust(am.holeBase);
    a -= m.map.dramBaseAddr;
  }
  const uint32_t id = atd::selectTarget(a, m.map, m.routing, m.intLvAddrBit, am.masks);
  if (!m.routing.sixChannel) return id;
  // A logical id: the socket's logical channel map names the physical slave.
  const uint32_t socketBits = id & am.masks.socketMask;
  const uint32_t comp = id & ~am.masks.socketMask;
  if (comp >= 8) return atd::kNoOwner;
  const uint32_t lcm = am.logicalChannelMap[(socketBits >> am.masks.socketShift) != 0 ? 1 : 0];
  return ((lcm >> (4 * comp)) & 0xF) + socketBits;
}

bool SystemToNormalized(TranslationProtocol& protocol, uint64_t a, NormalizedAddress* out) {
  DramAddress dram{};
  try {
    return protocol.SystemToNormalized(&a, out, &dram) == EFI_SUCCESS;
  } catch (const sim::FatalStopEnded&) {
    return false;  // the translation stopped (six-channel map, address in the hole)
  }
}

uint64_t LastDramByte(const AddressMap& am, const DramMap& m) {
  const uint64_t last = m.map.dramLimitAddr;
  if (am.InHole(last) && am.holeBase > m.map.dramBaseAddr) return am.holeBase - 1;
  return last;
}

namespace {

// The fabric-wide registers and the CCM's valid DRAM address maps, read as
// checkDramHit reads them (through node 0).
void ReadMaps(AddressMap& am) {
  am.masks = atd::readFabricIdMasks();
  am.ccmInstance = atd::findCcmInstance();
  am.reg104 = atd::readFabricRegister(0, DramHoleControl::kReg, am.ccmInstance);
  am.holeBase = atd::decodeDramHoleBase(am.reg104);
  am.logicalChannelMap[0] =
      atd::readFabricRegister(0, LogicalChannelMap::kSocket0, atd::kBroadcastInstance);
  am.logicalChannelMap[1] =
      atd::readFabricRegister(0, LogicalChannelMap::kOtherSockets, atd::kBroadcastInstance);

  std::vector<std::pair<uint32_t, uint32_t>> regs(kMapCount);
  for (unsigned m = 0; m < kMapCount; ++m) {
    regs[m].first = atd::readFabricRegister(0, DramBaseReg(m), am.ccmInstance);
    if (DramBaseAddress::Valid::Get(regs[m].first) == 0) continue;
    regs[m].second = atd::readFabricRegister(0, DramLimitReg(m), am.ccmInstance);
    am.hasHole = am.hasHole || DramBaseAddress::HoleEn::Get(regs[m].first) != 0;
  }
  am.hasHole = am.hasHole || am.holeBase != 0;
  for (unsigned m = 0; m < kMapCount; ++m) {
    if (DramBaseAddress::Valid::Get(regs[m].first) == 0) continue;
    am.maps.push_back(DecodeMap(am, m, regs[m].first, regs[m].second));
    am.top = std::max(am.top, am.maps.back().map.dramLimitAddr + 1);
  }
}

// One coherent slave's own registers: its fabric id, its two maps (and
// which CCM map each one is), its hiAddrOffset and its DIMMs.
Channel ReadChannel(const AddressMap& am, const atd::ChannelConfigTable& table, uint8_t node,
                    uint16_t instance) {
  Channel c{};
  c.node = node;
  c.channel = instance;
  c.fabricId =
      BlockFabricId::FabricId::Get(atd::readFabricRegister(c.node, BlockFabricId::kReg, c.channel));
  c.socket = atd::socketIdOf(c.fabricId, am.masks);
  c.die = atd::dieIdOf(c.fabricId, am.masks);
  for (unsigned k = 0; k < 2; ++k) {
    OwnMap& o = c.own[k];
    o.baseReg = atd::readFabricRegister(c.node, DramBaseReg(k), c.channel);
    o.limitReg = atd::readFabricRegister(c.node, DramLimitReg(k), c.channel);
    o.map = atd::decodeDramAddressMap(am.masks.layout, o.baseReg, o.limitReg);
    o.ccmMap = -1;
    for (const DramMap& m : am.maps)
      if (o.map.valid && m.baseReg == o.baseReg && m.limitReg == o.limitReg)
        o.ccmMap = static_cast<int>(m.index);
  }
  const uint32_t reg1B4 = atd::readFabricRegister(c.node, HiAddrOffsetControl::kReg, c.channel);
  c.hiAddrOffsetEnabled = HiAddrOffsetControl::Enable::Get(reg1B4) != 0;
  c.hiAddrOffset = atd::decodeHiAddrOffset(am.masks.layout, reg1B4);
  c.dimms = ReadDimms(table, c.socket, c.die, c.channel);
  return c;
}

// The coherent slaves: every (node, instance) whose fabric-id register the
// platform has, in socket, die, channel order.
void ReadChannels(sim::Platform& p, AddressMap& am) {
  const atd::ChannelConfigTable& table = sim::dram::ChannelConfigOf(p);
  for (const auto& [key, value] : sim::fabric::DataFabric::Of(p).Registers()) {
    if (key.function != BlockFabricId::kReg.function || key.offset != BlockFabricId::kReg.offset ||
        key.instance == sim::fabric::kBroadcast)
      continue;
    am.channels.push_back(ReadChannel(am, table, key.node, key.instance));
  }
  std::sort(am.channels.begin(), am.channels.end(), [](const Channel& a, const Channel& b) {
    return std::tie(a.socket, a.die, a.channel, a.node) <
           std::tie(b.socket, b.die, b.channel, b.node);
  });
}

// Whether map `m` is the second map of every channel it feeds, and with
// which hiAddrOffsets.
void MarkSecondMap(const AddressMap& am, DramMap& m) {
  std::set<uint64_t> offsets;
  m.secondMap = true;
  for (uint32_t t : m.targets) {
    const Channel* c = am.ChannelById(t);
    if (c == nullptr) continue;
    m.secondMap = m.secondMap && c->own[1].ccmMap == static_cast<int>(m.index);
    offsets.insert(c->hiAddrOffset);
  }
  m.secondMap = m.secondMap && !offsets.empty();
  if (m.secondMap) m.hiAddrOffsets.assign(offsets.begin(), offsets.end());
}

// Which channels map `m` feeds, and the normalized addresses of the first
// and last byte each of them gets (asked of the driver).
void FeedChannels(AddressMap& am, DramMap& m, TranslationProtocol& protocol) {
  if (m.Granule() == 0) return;
  const auto first = Scan(am, m, m.map.dramBaseAddr, false);
  const uint64_t top = LastDramByte(am, m);
  const auto last = Scan(am, m, top - (top - m.map.dramBaseAddr) % m.Granule(), true);
  for (const auto& [target, addr] : first) m.targets.push_back(target);
  MarkSecondMap(am, m);
  for (const auto& [target, addr] : first) {
    const auto owner = std::find_if(am.channels.begin(), am.channels.end(),
                                    [id = target](const Channel& c) { return c.fabricId == id; });
    if (owner == am.channels.end()) continue;
    Channel* c = &*owner;
    NormRange r{m.index, false, 0, 0, addr, 0};
    const auto at = last.find(target);
    if (at != last.end()) {
      r.lastSys = std::min(top, at->second + m.Granule() - 1);
      r.known = NormalizeOn(protocol, *c, r.firstSys, &r.first) &&
                NormalizeOn(protocol, *c, r.lastSys, &r.last);
    }
    c->ranges.push_back(r);
  }
}

}  // namespace

AddressMap Read(sim::Platform& p, TranslationProtocol& protocol) {
  AddressMap am{};
  ReadMaps(am);
  ReadChannels(p, am);
  for (DramMap& m : am.maps) FeedChannels(am, m, protocol);
  Check(am);
  return am;
}

std::string OwnerText(const AddressMap& am, const DramMap& m) {
  std::set<unsigned> sockets, dies;
  for (uint32_t t : m.targets) {
    if (t == atd::kNoOwner) continue;
    sockets.insert(atd::socketIdOf(t, am.masks));
    dies.insert(atd::dieIdOf(t, am.masks));
  }
  if (sockets.empty()) return "no channel";
  return (sockets.size() > 1 ? "sockets " : "socket ") + IdList(sockets) +
         (dies.size() > 1 ? " dies " : " die ") + IdList(dies);
}

std::string Addr(uint64_t v) {
  return tools::HexText(v, 12);
}

}  // namespace platsim::addrmap
