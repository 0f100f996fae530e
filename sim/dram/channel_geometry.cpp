#include "sim/dram/channel_geometry.h"

#include <bit>
#include <cstring>
#include <map>
#include <stdexcept>

namespace sim::dram {

namespace {

[[noreturn]] void Refuse(const ChannelGeometry& g, const std::string& why) {
  throw std::invalid_argument(Describe(g) + ": " + why);
}

// Where every bit of the geometry sits in the normalized address.
struct Layout {
  std::vector<unsigned> col, bank, rm;
  unsigned rowStart = 0;
  unsigned rowLo = 0, rowHi = 0;
  unsigned csTop = 0;  // chip-select ranges compare the address from this bit up
  unsigned csLog = 0;  // log2 of the bytes per chip select
  uint64_t capacity = 0;
};

bool IsPowerOfTwo(unsigned n) {
  return n != 0 && (n & (n - 1)) == 0;
}

// The geometry's own fields, before anything is placed.
void CheckFields(const ChannelGeometry& g) {
  if (SlotOf(g.socket, g.die, g.channel) >= atd::kChannelSlots)
    Refuse(g, "the table has only 16 channel slots");
  if (g.chipSelects < 1 || g.chipSelects > 4) Refuse(g, "chipSelects must be 1..4");
  if (g.bankBits < 3 || g.bankBits > 5) Refuse(g, "bankBits must be 3..5");
  if (g.colBits < 5 || g.colBits > 16) Refuse(g, "colBits must be 5..16");
  if (g.rmBits > 3) Refuse(g, "rmBits must be 0..3");
  if (g.rowHiBits > 15) Refuse(g, "rowHiBits must be 0..15");
  if (g.rowBits < g.rowHiBits + 10 || g.rowBits > g.rowHiBits + 25)
    Refuse(g, "the low run of row bits (rowBits - rowHiBits) must be 10..25");
  if (g.rowInvEven > 3 || g.rowInvOdd > 3) Refuse(g, "a row-inversion pair is two bits (0..3)");

  const std::vector<unsigned>& csBits = g.csSelectBits;
  if (csBits.empty()) return;
  if (!IsPowerOfTwo(g.chipSelects) || (1u << csBits.size()) != g.chipSelects)
    Refuse(g,
           "csSelectBits needs one address bit per chip-select bit (2 chip selects: 1 bit, "
           "4: 2 bits)");
  for (size_t i = 0; i < csBits.size(); ++i) {
    if (csBits[i] < 8 || csBits[i] > 39)
      Refuse(g, "chip-select bits must be address bits 8..39 (the range match starts at bit 8)");
    if (i > 0 && csBits[i] <= csBits[i - 1]) Refuse(g, "csSelectBits must be ascending");
  }
}

// Column, bank, column, rank-multiplier and row bits from address bit 3 up,
// each on the next bit no chip-select bit takes.
Layout PlaceBits(const ChannelGeometry& g) {
  const std::vector<unsigned>& csBits = g.csSelectBits;
  auto isCs = [&](unsigned p) {
    for (unsigned b : csBits)
      if (b == p) return true;
    return false;
  };
  unsigned pos = 3;
  auto next = [&] {
    while (isCs(pos)) ++pos;
    return pos++;
  };
  Layout l;
  const unsigned colLow = g.colBits < 3 ? g.colBits : 3;
  for (unsigned j = 0; j < colLow; ++j) l.col.push_back(next());
  for (unsigned k = 0; k < g.bankBits; ++k) l.bank.push_back(next());
  for (unsigned j = colLow; j < g.colBits; ++j) l.col.push_back(next());
  for (unsigned k = 0; k < g.rmBits; ++k) l.rm.push_back(next());
  l.rowStart = next();
  for (unsigned i = 1; i < g.rowBits; ++i)
    if (next() != l.rowStart + i) Refuse(g, "chip-select bits must lie below the row bits");
  const unsigned top = l.rowStart + g.rowBits;
  for (unsigned b : csBits)
    if (b >= top)
      Refuse(g, "chip-select bit " + std::to_string(b) +
                    " lies above the row bits; leave csSelectBits empty to put them on top");
  l.rowLo = g.rowBits - g.rowHiBits;
  l.rowHi = g.rowHiBits;
  return l;
}

// Each selector field is four bits wide, on a fixed base.
void CheckReach(const ChannelGeometry& g, const Layout& l) {
  for (unsigned j = 0; j < l.col.size(); ++j) {
    const unsigned lo = j < 8 ? 2 : 8;
    if (l.col[j] < lo || l.col[j] > lo + 15)
      Refuse(g, "column bit " + std::to_string(j) + " would sit at address bit " +
                    std::to_string(l.col[j]) + ", outside its selector's reach");
  }
  for (unsigned k = 0; k < l.bank.size(); ++k)
    if (l.bank[k] < 5 || l.bank[k] > 20)
      Refuse(g, "bank bit " + std::to_string(k) + " would sit at address bit " +
                    std::to_string(l.bank[k]) + ", outside 5..20");
  for (unsigned k = 0; k < l.rm.size(); ++k)
    if (l.rm[k] < 12 || l.rm[k] > 27)
      Refuse(g, "rank-multiplier bit " + std::to_string(k) + " would sit at address bit " +
                    std::to_string(l.rm[k]) + ", outside 12..27 (use more column or bank bits)");
  if (l.rowStart < 12 || l.rowStart > 27)
    Refuse(g, "the row bits would start at address bit " + std::to_string(l.rowStart) +
                  ", outside 12..27");
  if (l.rowHi > 0 && (l.rowStart + l.rowLo < 24 || l.rowStart + l.rowLo > 39))
    Refuse(g, "the high row bits would start at address bit " +
                  std::to_string(l.rowStart + l.rowLo) + ", outside 24..39");
}

// The chip selects' size and where their ranges compare the address: above
// the row bits, or (with csSelectBits) the bits below them less those.
void SizeChipSelects(const ChannelGeometry& g, Layout& l) {
  const unsigned top = l.rowStart + g.rowBits;
  l.csTop = top;
  if (g.csSelectBits.empty()) {
    l.csLog = top;
    const unsigned selectBits = g.chipSelects == 1 ? 0 : g.chipSelects == 2 ? 1 : 2;
    if (top + selectBits > 40) Refuse(g, "more than 2^40 bytes");
    l.capacity = static_cast<uint64_t>(g.chipSelects) << top;
    return;
  }
  l.csLog = top - static_cast<unsigned>(g.csSelectBits.size());
  if (top > 40) Refuse(g, "more than 2^40 bytes");
  l.capacity = 1ULL << top;
}

void CheckRanges(const ChannelGeometry& g, const Layout& l) {
  if (g.csHash && (g.chipSelects < 2 || !IsPowerOfTwo(g.chipSelects)))
    Refuse(g, "a chip-select hash needs 2 or 4 chip selects");
  if (g.range == CsRange::Secondary && g.chipSelects >= 2) {
    // A secondary-only odd chip select reads its row as one run whose width
    // follows from the range size: mask bits less rank-multiplier bits.
    const int m = static_cast<int>(l.csLog) - 8 - static_cast<int>(g.rmBits);
    const unsigned width = m == 24 ? 15 : m == 25 ? 16 : 17;
    if (width != g.rowBits)
      Refuse(g, "with secondary ranges only, an odd chip select decodes " + std::to_string(width) +
                    " row bits, not " + std::to_string(g.rowBits));
  }
}

Layout Place(const ChannelGeometry& g) {
  CheckFields(g);
  Layout l = PlaceBits(g);
  CheckReach(g, l);
  SizeChipSelects(g, l);
  CheckRanges(g, l);
  return l;
}

// Deterministic choice of hash inputs.
struct SplitMix {
  uint64_t s;
  uint64_t Next() {
    uint64_t z = (s += 0x9E3779B97F4A7C15ULL);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
    return z ^ (z >> 31);
  }
  // A non-empty random subset of `from`, as a bit mask of its members.
  uint64_t Subset(const std::vector<unsigned>& from) {
    uint64_t m = 0;
    for (unsigned b : from)
      if (Next() & 1) m |= 1ULL << b;
    if (m == 0 && !from.empty()) m = 1ULL << from[Next() % from.size()];
    return m;
  }
};

// csHashCtl / rmHashCtl word folding the given address bits (9..39).
uint32_t AddressHashWord(uint64_t addressBits) {
  return 1u | static_cast<uint32_t>((addressBits >> 9) << 1);
}

uint32_t Fields4(const std::vector<unsigned>& positions, size_t first, size_t count,
                 unsigned base) {
  uint32_t w = 0;
  for (size_t k = 0; k < count && first + k < positions.size(); ++k)
    w |= (positions[first + k] - base) << (4 * k);
  return w;
}

void ClearSlot(atd::ChannelConfigTable& t, unsigned s) {
  t.csPresent[s] = 0;
  for (auto& w : t.bankHashCtl) w[s] = 0;
  std::memset(t.csHashCtl[s], 0, sizeof t.csHashCtl[s]);
  std::memset(t.rmHashCtl[s], 0, sizeof t.rmHashCtl[s]);
  std::memset(t.csBase[s], 0, sizeof t.csBase[s]);
  std::memset(t.csBaseSec[s], 0, sizeof t.csBaseSec[s]);
  std::memset(t.csMask[s], 0, sizeof t.csMask[s]);
  std::memset(t.csMaskSec[s], 0, sizeof t.csMaskSec[s]);
  std::memset(t.addrCfg[s], 0, sizeof t.addrCfg[s]);
  std::memset(t.bankAddrSel[s], 0, sizeof t.bankAddrSel[s]);
  std::memset(t.rowAddrSel[s], 0, sizeof t.rowAddrSel[s]);
  std::memset(t.colAddrSelLo[s], 0, sizeof t.colAddrSelLo[s]);
  std::memset(t.colAddrSelHi[s], 0, sizeof t.colAddrSelHi[s]);
  std::memset(t.rmAddrSel[s], 0, sizeof t.rmAddrSel[s]);
  std::memset(t.rmAddrSelSec[s], 0, sizeof t.rmAddrSelSec[s]);
}

}  // namespace

unsigned SlotOf(unsigned socket, unsigned die, unsigned channel) {
  return atd::ChannelSlot(socket, die, channel);
}

std::string Describe(const ChannelGeometry& g) {
  return "channel slot " + std::to_string(SlotOf(g.socket, g.die, g.channel)) + " (socket " +
         std::to_string(g.socket) + ", die " + std::to_string(g.die) + ", channel " +
         std::to_string(g.channel) + ")";
}

uint64_t CapacityOf(const ChannelGeometry& g) {
  return Place(g).capacity;
}

void Validate(const ChannelGeometry& g) {
  Place(g);
}

namespace {

// Which ranges a geometry programs.
struct Ranges {
  bool primary, secondary;
  explicit Ranges(const ChannelGeometry& g)
      : primary(g.range != CsRange::Secondary), secondary(g.range != CsRange::Primary) {}
};

// The chip selects present and the base of each one's ranges.
void WriteBases(atd::ChannelConfigTable& t, unsigned s, const ChannelGeometry& g, const Layout& l) {
  const Ranges ranges(g);
  t.csPresent[s] = static_cast<uint8_t>((1u << g.chipSelects) - 1);
  for (unsigned cs = 0; cs < g.chipSelects; ++cs) {
    uint64_t base = 0;
    if (g.csSelectBits.empty()) {
      base = static_cast<uint64_t>(cs) << l.csLog;
    } else {
      for (size_t b = 0; b < g.csSelectBits.size(); ++b)
        if ((cs >> b) & 1) base |= 1ULL << g.csSelectBits[b];
    }
    if (ranges.primary) t.csBase[s][cs] = static_cast<uint32_t>(base >> 8);
    if (ranges.secondary) t.csBaseSec[s][cs] = static_cast<uint32_t>(base >> 8);
  }
}

// The per-pair words: enables and geometry, masks, and where each bank, row,
// column and rank-multiplier bit sits.
void WritePairs(atd::ChannelConfigTable& t, unsigned s, const ChannelGeometry& g, const Layout& l) {
  using atd::AddrCfg;
  const Ranges ranges(g);
  uint64_t csSelectMask = 0;
  for (unsigned b : g.csSelectBits) csSelectMask |= 1ULL << b;
  const uint64_t matchedBits = ((1ULL << l.csTop) - 1) & ~0xFFULL & ~csSelectMask;
  const uint32_t mask = static_cast<uint32_t>(matchedBits >> 8);
  const uint32_t noofbank = g.bankBits - 3;  // 3, 4, 5 bits: codes 0, 1, 2
  const uint32_t geometry = AddrCfg::Noofbank::Put(noofbank) | AddrCfg::Noofrm::Put(g.rmBits) |
                            AddrCfg::Noofrwolo::Put(l.rowLo - 10) |
                            AddrCfg::Noofrowhi::Put(l.rowHi) | AddrCfg::Noofcol::Put(g.colBits - 5);
  const uint32_t rowAddrSel =
      (l.rowStart - 12) | (l.rowHi > 0 ? (l.rowStart + l.rowLo - 24) << 4 : 0);
  const uint32_t rmSel = Fields4(l.rm, 0, 3, 12) | atd::RmAddrSel::RowInvEven::Put(g.rowInvEven) |
                         atd::RmAddrSel::RowInvOdd::Put(g.rowInvOdd);
  for (unsigned p = 0; p < 2; ++p) {
    const bool even = 2 * p < g.chipSelects;
    const bool odd = 2 * p + 1 < g.chipSelects;
    if (!even) continue;
    uint32_t cfg = geometry;
    if (ranges.primary) cfg |= AddrCfg::CsEnEven::Put(even) | AddrCfg::CsEnOdd::Put(odd);
    if (ranges.secondary) cfg |= AddrCfg::CsSecEnEven::Put(even) | AddrCfg::CsSecEnOdd::Put(odd);
    t.addrCfg[s][p] = cfg;
    if (ranges.primary) t.csMask[s][p] = mask;
    if (ranges.secondary) t.csMaskSec[s][p] = mask;
    t.bankAddrSel[s][p] = Fields4(l.bank, 0, 5, 5);
    t.rowAddrSel[s][p] = rowAddrSel;
    t.colAddrSelLo[s][p] = Fields4(l.col, 0, 8, 2);
    t.colAddrSelHi[s][p] = Fields4(l.col, 8, 8, 8);
    t.rmAddrSel[s][p] = rmSel;
    t.rmAddrSelSec[s][p] = rmSel;
  }
}

// Hashes fold in only bits that can be recovered before the hashed quantity,
// so the decode stays one to one: bank hashes use column and row;
// rank-multiplier hashes use column, bank and row bits; chip-select hashes
// any bit but the chip-select bits. When the even and odd chip selects
// invert their rows differently, the two top row bits depend on the chip
// select itself and stay out of the chip-select and rank-multiplier hashes.
void WriteHashes(atd::ChannelConfigTable& t, unsigned s, const ChannelGeometry& g,
                 const Layout& l) {
  SplitMix rng{g.hashSeed ^ (static_cast<uint64_t>(s) << 32)};
  std::vector<unsigned> noRm, noCs;
  for (const auto* v : {&l.col, &l.bank})
    for (unsigned b : *v) noRm.push_back(b);
  const bool parityDependentRows = g.rowInvEven != g.rowInvOdd && g.range != CsRange::Secondary;
  const unsigned hashableRows = parityDependentRows ? g.rowBits - 2 : g.rowBits;
  for (unsigned i = 0; i < hashableRows; ++i) noRm.push_back(l.rowStart + i);
  noCs = noRm;
  for (unsigned b : l.rm) noCs.push_back(b);
  auto hashable = [](std::vector<unsigned> v) {
    std::vector<unsigned> out;
    for (unsigned b : v)
      if (b >= 9 && b <= 39) out.push_back(b);
    return out;
  };
  if (g.csHash) {
    const auto from = hashable(noCs);
    t.csHashCtl[s][0] = AddressHashWord(rng.Subset(from));
    if (g.chipSelects == 4) t.csHashCtl[s][1] = AddressHashWord(rng.Subset(from));
  }
  if (g.rmHash) {
    const auto from = hashable(noRm);
    for (unsigned k = 0; k < g.rmBits; ++k) t.rmHashCtl[s][k] = AddressHashWord(rng.Subset(from));
  }
  if (g.bankHash) {
    std::vector<unsigned> colIdx, rowIdx;
    for (unsigned j = 0; j < g.colBits && j < 13; ++j) colIdx.push_back(j);
    for (unsigned i = 0; i < g.rowBits && i < 18; ++i) rowIdx.push_back(i);
    for (unsigned k = 0; k < g.bankBits; ++k) {
      const uint64_t c = rng.Subset(colIdx);
      const uint64_t r = rng.Subset(rowIdx);
      t.bankHashCtl[k][s] = 1u | static_cast<uint32_t>(c << 1) | static_cast<uint32_t>(r << 14);
    }
  }
}

}  // namespace

void BuildChannelGeometry(atd::ChannelConfigTable& t, const ChannelGeometry& g) {
  const Layout l = Place(g);
  const unsigned s = SlotOf(g.socket, g.die, g.channel);
  ClearSlot(t, s);
  WriteBases(t, s, g, l);
  WritePairs(t, s, g, l);
  WriteHashes(t, s, g, l);
}

ChannelGeometry DefaultGeometry(uint8_t socket, uint8_t die, uint8_t channel, uint64_t capacity) {
  ChannelGeometry g;
  g.socket = socket;
  g.die = die;
  g.channel = channel;
  g.csSelectBits.clear();
  if (capacity > (1ULL << 40)) Refuse(g, "capacity above 1 TiB");
  uint64_t perCs = 0;
  if (capacity != 0 && capacity % 3 == 0 && std::has_single_bit(capacity / 3)) {
    g.chipSelects = 3;
    perCs = capacity / 3;
  } else if (std::has_single_bit(capacity)) {
    g.chipSelects = capacity >= (1ULL << 29) ? 2 : 1;
    perCs = capacity / g.chipSelects;
  } else {
    Refuse(g, "capacity " + std::to_string(capacity) +
                  " is neither a power of two nor three times one");
  }
  const unsigned csLog = static_cast<unsigned>(std::countr_zero(perCs));
  if (csLog < 22) Refuse(g, "capacity below 4 MiB");
  g.bankBits = 4;
  g.colBits = 10;
  if (csLog >= 3 + 4 + 10 + 10) {
    g.rowBits = csLog - 17;
  } else {
    g.rowBits = 10;
    g.colBits = csLog - 17;
  }
  if (CapacityOf(g) != capacity) Refuse(g, "no plain geometry covers this capacity");
  return g;
}

void BuildChannelConfig(atd::ChannelConfigTable& table,
                        const std::vector<ChannelCapacity>& channels) {
  std::map<unsigned, const ChannelCapacity*> bySlot;
  for (const ChannelCapacity& c : channels) {
    const ChannelGeometry g = DefaultGeometry(c.socket, c.die, c.channel, c.capacity);
    const unsigned s = SlotOf(c.socket, c.die, c.channel);
    auto [it, fresh] = bySlot.emplace(s, &c);
    if (!fresh) {
      if (it->second->capacity != c.capacity)
        Refuse(g, "shares its slot with socket " + std::to_string(it->second->socket) + ", die " +
                      std::to_string(it->second->die) + ", channel " +
                      std::to_string(it->second->channel) + " but has another capacity");
      continue;
    }
    BuildChannelGeometry(table, g);
  }
}

}  // namespace sim::dram
