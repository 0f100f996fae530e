#include "sim/dram/dram_to_normalized.h"

#include "tools/common/hex_text.h"

#include <algorithm>
#include <bit>
#include <sstream>

namespace sim::dram {

namespace {

using atd::AddrCfg;
using atd::ChannelConfigTable;

constexpr unsigned kEnumerateBits = 20;  // at most 2^20 candidates are checked one by one

uint32_t Field4(uint32_t word, unsigned k) {
  return (word >> (4 * k)) & 0xFu;
}

uint64_t Bit(unsigned n) {
  return 1ULL << n;
}

unsigned Parity(uint64_t v) {
  return static_cast<unsigned>(std::popcount(v)) & 1u;
}

// The low bits of `bits` spread onto the set bits of `mask`, lowest first.
uint64_t Deposit(uint64_t bits, uint64_t mask) {
  uint64_t out = 0;
  for (; mask != 0 && bits != 0; bits >>= 1) {
    const uint64_t lowest = mask & (~mask + 1);
    if (bits & 1u) out |= lowest;
    mask ^= lowest;
  }
  return out;
}

// The address bits a csHashCtl / rmHashCtl word folds in: bit k (k >= 1)
// selects A[k + 8], and the fold is taken on 32 bits of A >> 9.
uint64_t HashBits(uint32_t word) {
  return static_cast<uint64_t>(word >> 1) << 9;
}

// Linear equations over GF(2) in the 64 address bits, kept fully reduced:
// each row owns one pivot bit that no other row contains.
class Gf2System {
 public:
  void Add(uint64_t mask, unsigned rhs) {
    used_ |= mask;
    for (const Row& r : rows_) {
      if (mask & r.pivot) {
        mask ^= r.mask;
        rhs ^= r.rhs;
      }
    }
    if (mask == 0) {
      if (rhs & 1u) consistent_ = false;
      return;
    }
    const uint64_t pivot = Bit(63 - static_cast<unsigned>(std::countl_zero(mask)));
    for (Row& r : rows_) {
      if (r.mask & pivot) {
        r.mask ^= mask;
        r.rhs ^= rhs;
      }
    }
    rows_.push_back({mask, pivot, rhs & 1u});
  }
  // A[bit] = value.
  void Fix(unsigned bit, unsigned value) { Add(Bit(bit), value); }

  bool Consistent() const { return consistent_; }
  uint64_t Used() const { return used_; }
  uint64_t Pivots() const {
    uint64_t p = 0;
    for (const Row& r : rows_) p |= r.pivot;
    return p;
  }
  // The solution whose free bits are `free` (pivot bits of `free` ignored).
  uint64_t Solve(uint64_t free) const {
    uint64_t a = free & ~Pivots();
    for (const Row& r : rows_)
      if ((r.rhs ^ Parity(r.mask & ~r.pivot & a)) != 0) a |= r.pivot;
    return a;
  }

 private:
  struct Row {
    uint64_t mask;
    uint64_t pivot;
    unsigned rhs;
  };
  std::vector<Row> rows_;
  uint64_t used_ = 0;
  bool consistent_ = true;
};

struct Range {
  bool secondary;
  unsigned cs;
};

bool Enabled(const ChannelConfigTable& t, unsigned s, Range r) {
  const uint32_t cfg = t.addrCfg[s][r.cs / 2];
  return r.secondary ? AddrCfg::CsSecEn(cfg, r.cs) : AddrCfg::CsEn(cfg, r.cs);
}

// The mask (set bits take no part) and base of range `r`.
uint32_t MaskOf(const ChannelConfigTable& t, unsigned s, Range r) {
  return r.secondary ? t.csMaskSec[s][r.cs / 2] : t.csMask[s][r.cs / 2];
}
uint32_t BaseOf(const ChannelConfigTable& t, unsigned s, Range r) {
  return r.secondary ? t.csBaseSec[s][r.cs] : t.csBase[s][r.cs];
}

bool Matches(const ChannelConfigTable& t, unsigned s, Range r, uint64_t a) {
  const uint32_t keep = ~MaskOf(t, s, r);
  const uint32_t base = BaseOf(t, s, r);
  return (static_cast<uint32_t>(a >> 8) & keep) == (base & keep);
}

// Whether the chip-select search stops before reaching range `r` for `a`.
bool CaughtEarlier(const ChannelConfigTable& t, unsigned s, Range r, uint64_t a) {
  for (unsigned c = 0; c <= r.cs; ++c) {
    for (bool sec : {false, true}) {
      const Range e{sec, c};
      if (c == r.cs && sec == r.secondary) return false;
      if (Enabled(t, s, e) && Matches(t, s, e, a)) return true;
    }
  }
  return false;
}

// The address bits the ranges searched before `r` compare.
uint64_t EarlierComparedBits(const ChannelConfigTable& t, unsigned s, Range r) {
  uint64_t bits = 0;
  for (unsigned c = 0; c <= r.cs; ++c) {
    for (bool sec : {false, true}) {
      const Range e{sec, c};
      if (c == r.cs && sec == r.secondary) return bits;
      if (Enabled(t, s, e)) bits |= static_cast<uint64_t>(~MaskOf(t, s, e)) << 8;
    }
  }
  return bits;
}

using tools::Hex;

// What the equations of one range read of the table: the slot, the range,
// its pair's geometry and which of its row-inversion settings applies.
struct RangeContext {
  const ChannelConfigTable& t;
  unsigned s;
  Range r;
  unsigned p;  // chip-select pair
  unsigned bankBits, rmBits, rowLo, rowHi, colBits;
  unsigned kind;  // 0 primary, 1 secondary with the primary enabled, 2 secondary only
  bool odd;

  RangeContext(const ChannelConfigTable& table, unsigned slot, Range range)
      : t(table), s(slot), r(range), p(range.cs / 2) {
    const uint32_t cfg = t.addrCfg[s][p];
    bankBits = AddrCfg::BankBits(AddrCfg::Noofbank::Get(cfg));
    rmBits = AddrCfg::Noofrm::Get(cfg);
    rowLo = AddrCfg::Noofrwolo::Get(cfg) + 10;
    rowHi = AddrCfg::Noofrowhi::Get(cfg);
    colBits = AddrCfg::Noofcol::Get(cfg) + 5;
    kind = !r.secondary ? 0 : Enabled(t, s, {false, r.cs}) ? 1 : 2;
    odd = (r.cs & 1u) != 0;
  }
};

// The range match: the bits the mask keeps equal the base.
void AddRangeMatch(const RangeContext& c, Gf2System& eq) {
  const uint32_t keep = ~MaskOf(c.t, c.s, c.r);
  const uint32_t base = BaseOf(c.t, c.s, c.r);
  for (unsigned i = 0; i < 32; ++i)
    if ((keep >> i) & 1u) eq.Fix(i + 8, (base >> i) & 1u);
}

// Chip select: the matched index, each bit XORed with its hash if enabled.
bool AddChipSelect(const RangeContext& c, const DramAddress& d, Gf2System& eq, std::string& why) {
  for (unsigned k = 0; k < 2; ++k) {
    const unsigned want = (d.chipSelect >> k) & 1u;
    const unsigned have = (c.r.cs >> k) & 1u;
    const uint32_t word = c.t.csHashCtl[c.s][k];
    if (word & 1u) {
      eq.Add(HashBits(word), want ^ have);
    } else if (want != have) {
      why = "its chip-select bit " + std::to_string(k) + " is " + std::to_string(have) +
            " and no hash changes it";
      return false;
    }
  }
  return true;
}

// Column: bits 0..7 from colAddrSelLo, 8..15 from colAddrSelHi.
bool AddColumn(const RangeContext& c, const DramAddress& d, Gf2System& eq, std::string& why) {
  const unsigned colWidth = c.colBits < 16 ? c.colBits : 16;
  if (d.col >> colWidth) {
    why = "column " + Hex(d.col) + " needs more than its " + std::to_string(colWidth) +
          " column bits";
    return false;
  }
  for (unsigned j = 0; j < colWidth; ++j) {
    const unsigned at = j < 8 ? Field4(c.t.colAddrSelLo[c.s][c.p], j) + 2
                              : Field4(c.t.colAddrSelHi[c.s][c.p], j - 8) + 8;
    eq.Fix(at, (d.col >> j) & 1u);
  }
  return true;
}

// Row: a low and a high run, the two top bits possibly inverted; an odd chip
// select matched only by its secondary range reads one run whose width
// follows from the size of that range.
bool AddRow(const RangeContext& c, const DramAddress& d, Gf2System& eq, std::string& why) {
  const unsigned rowLoAt = Field4(c.t.rowAddrSel[c.s][c.p], 0) + 12;
  const unsigned rowHiAt = Field4(c.t.rowAddrSel[c.s][c.p], 1) + 24;
  if (c.kind == 2 && c.odd) {
    const int m = std::popcount(c.t.csMaskSec[c.s][c.p]) - static_cast<int>(c.rmBits);
    const unsigned width = m == 24 ? 15 : m == 25 ? 16 : 17;
    if (d.row >> width) {
      why = "row " + Hex(d.row) + " needs more than its " + std::to_string(width) + " row bits";
      return false;
    }
    for (unsigned i = 0; i < width; ++i) eq.Fix(rowLoAt + i, (d.row >> i) & 1u);
    return true;
  }
  const unsigned width = c.rowLo + c.rowHi;
  uint64_t row = d.row;
  // Inversion only where the primary range is enabled (an even chip select
  // matched by its secondary range alone keeps its row as read).
  const uint32_t rm = c.kind == 0 ? c.t.rmAddrSel[c.s][c.p] : c.t.rmAddrSelSec[c.s][c.p];
  const unsigned inv = c.kind == 2 ? 0
                       : c.odd     ? atd::RmAddrSel::RowInvOdd::Get(rm)
                                   : atd::RmAddrSel::RowInvEven::Get(rm);
  if ((inv & 2u) && width >= 1 && width - 1 < 32) row ^= Bit(width - 1);
  if ((inv & 1u) && width >= 2 && width - 2 < 32) row ^= Bit(width - 2);
  if (width < 32 && (d.row >> width)) {
    why = "row " + Hex(d.row) + " needs more than its " + std::to_string(width) + " row bits";
    return false;
  }
  for (unsigned i = 0; i < c.rowLo && i < 32; ++i) eq.Fix(rowLoAt + i, (row >> i) & 1u);
  for (unsigned i = 0; i < c.rowHi && c.rowLo + i < 32; ++i)
    eq.Fix(rowHiAt + i, (row >> (c.rowLo + i)) & 1u);
  return true;
}

// Bank: each bit from bankAddrSel, XORed with its hash of the (known) column
// and row.
bool AddBank(const RangeContext& c, const DramAddress& d, Gf2System& eq, std::string& why) {
  if (d.bank >> c.bankBits) {
    why = "bank " + std::to_string(d.bank) + " needs more than its " + std::to_string(c.bankBits) +
          " bank bits";
    return false;
  }
  for (unsigned k = 0; k < c.bankBits; ++k) {
    const uint32_t word = c.t.bankHashCtl[k][c.s];
    unsigned h = 0;
    if (word & 1u) h = Parity(d.col & (word >> 1) & 0x1FFFu) ^ Parity(d.row & (word >> 14));
    eq.Fix(Field4(c.t.bankAddrSel[c.s][c.p], k) + 5, ((d.bank >> k) & 1u) ^ h);
  }
  return true;
}

// Rank multiplier: each bit from rmAddrSel (or its secondary twin), XORed
// with its hash of address bits.
bool AddRankMul(const RangeContext& c, const DramAddress& d, Gf2System& eq, std::string& why) {
  if (d.rankMul >> c.rmBits) {
    why = "rank multiplier " + std::to_string(d.rankMul) + " needs more than its " +
          std::to_string(c.rmBits) + " rank-multiplier bits";
    return false;
  }
  const uint32_t rmSel = c.kind == 0 ? c.t.rmAddrSel[c.s][c.p] : c.t.rmAddrSelSec[c.s][c.p];
  for (unsigned k = 0; k < c.rmBits; ++k) {
    uint64_t mask = Bit(Field4(rmSel, k) + 12);
    const uint32_t word = c.t.rmHashCtl[c.s][k];
    if (word & 1u) mask ^= HashBits(word);
    eq.Add(mask, (d.rankMul >> k) & 1u);
  }
  return true;
}

// The equations of range `r` for the wanted coordinates; false (with the
// reason) when the coordinates cannot come from that range at all.
bool BuildEquations(const ChannelConfigTable& t, unsigned s, Range r, const DramAddress& d,
                    Gf2System& eq, std::string& why) {
  const RangeContext c(t, s, r);
  AddRangeMatch(c, eq);
  if (!AddChipSelect(c, d, eq, why) || !AddColumn(c, d, eq, why) || !AddRow(c, d, eq, why) ||
      !AddBank(c, d, eq, why) || !AddRankMul(c, d, eq, why))
    return false;
  if (!eq.Consistent()) {
    why = "its bit positions contradict each other for these coordinates";
    return false;
  }
  return true;
}

std::string RangeName(Range r) {
  return "chip select " + std::to_string(r.cs) + (r.secondary ? " (secondary range)" : "");
}

// What the search over every enabled range found so far.
struct Search {
  Search(DramToNormalized& o, size_t l) : out(o), limit(l) {}
  DramToNormalized& out;
  size_t limit;
  std::vector<uint64_t> found;
  std::vector<std::pair<unsigned, std::string>> reasons;  // by chip select
  unsigned lowestUsed = 64;
  bool anyEnabled = false;
};

// The addresses range `r` gives for the solved equations `eq`, those an
// earlier range would catch left out; returns how many it reaches.
size_t CollectRange(const ChannelConfigTable& t, unsigned s, Range r, const Gf2System& eq,
                    Search& search) {
  const uint64_t used = eq.Used();
  const unsigned low = static_cast<unsigned>(std::countr_zero(used));
  const unsigned high = 63 - static_cast<unsigned>(std::countl_zero(used));
  search.lowestUsed = std::min(search.lowestUsed, low);
  // Free bits between the lowest and highest bit read: each doubles the
  // addresses that give these coordinates. So do the bits an earlier range
  // compares (whether the search reaches this range depends on them),
  // wherever they lie.
  const uint64_t span = (high == 63 ? ~0ULL : Bit(high + 1) - 1) & ~(Bit(low) - 1);
  const uint64_t free = (span | EarlierComparedBits(t, s, r)) & ~eq.Pivots();
  const unsigned k = static_cast<unsigned>(std::popcount(free));
  size_t valid = 0;
  if (k > kEnumerateBits) {
    // Too many to check one by one: count them all, list the lowest few that
    // the range really reaches.
    search.out.count = k >= 63 ? (1ULL << 63) : search.out.count + (1ULL << k);
    for (uint64_t sub = 0; valid < search.limit && sub < Bit(kEnumerateBits); ++sub) {
      const uint64_t a = eq.Solve(Deposit(sub, free));
      if (!CaughtEarlier(t, s, r, a)) {
        search.found.push_back(a);
        ++valid;
      }
    }
    return valid;
  }
  uint64_t sub = 0;
  do {
    const uint64_t a = eq.Solve(sub);
    if (!CaughtEarlier(t, s, r, a)) {
      search.found.push_back(a);
      ++valid;
    }
    sub = (sub - free) & free;  // next subset of `free`
  } while (sub != 0);
  if (valid == 0)
    search.reasons.push_back(
        {r.cs, RangeName(r) + ": every such address matches an earlier chip select"});
  search.out.count += valid;
  return valid;
}

void SearchRange(const ChannelConfigTable& t, unsigned s, Range r, const DramAddress& d,
                 Search& search) {
  if (!Enabled(t, s, r)) return;
  search.anyEnabled = true;
  if (((t.csPresent[s] >> r.cs) & 1u) == 0) {
    search.reasons.push_back({r.cs, RangeName(r) + ": not marked present (csPresent)"});
    return;
  }
  Gf2System eq;
  std::string why;
  if (!BuildEquations(t, s, r, d, eq, why)) {
    search.reasons.push_back({r.cs, RangeName(r) + ": " + why});
    return;
  }
  CollectRange(t, s, r, eq, search);
}

// Why no address has the coordinates.
std::string NoAddressReason(const ChannelConfigTable& t, unsigned s, const DramAddress& d,
                            const Search& search) {
  // Without chip-select hashes only the chip select asked for can match; the
  // others' reasons (a chip-select bit that differs) say nothing.
  const bool csHashed = ((t.csHashCtl[s][0] | t.csHashCtl[s][1]) & 1u) != 0;
  const unsigned want = d.chipSelect;
  if (!search.anyEnabled)
    return "no chip select of channel slot " + std::to_string(s) + " is enabled";
  if (!csHashed && !Enabled(t, s, {false, want}) && !Enabled(t, s, {true, want}))
    return "chip select " + std::to_string(want) + " is not enabled in channel slot " +
           std::to_string(s);
  std::string all;
  for (const auto& [cs, why] : search.reasons)
    if (csHashed || cs == want) all += (all.empty() ? "" : "; ") + why;
  return all;
}

}  // namespace

DramToNormalized NormalizedFromDram(const ChannelConfigTable& t, unsigned s, const DramAddress& d,
                                    size_t limit) {
  DramToNormalized out;
  if (s >= atd::kChannelSlots) {
    out.reason = "channel slot " + std::to_string(s) + " is beyond the 16 slots of the table";
    return out;
  }
  if (d.chipSelect > 3) {
    out.reason = "a channel has chip selects 0 to 3";
    return out;
  }
  Search search{out, limit};
  for (unsigned cs = 0; cs < atd::kChipSelects; ++cs)
    for (bool secondary : {false, true}) SearchRange(t, s, {secondary, cs}, d, search);
  std::vector<uint64_t>& found = search.found;
  std::sort(found.begin(), found.end());
  found.erase(std::unique(found.begin(), found.end()), found.end());
  if (found.size() > limit) found.resize(limit);
  out.addresses = std::move(found);
  out.offsetBits = search.lowestUsed == 64 ? 0 : search.lowestUsed;
  if (out.count == 0) out.reason = NoAddressReason(t, s, d, search);
  return out;
}

}  // namespace sim::dram
