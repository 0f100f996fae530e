// Normalized address -> (chip select, bank, row, column, rank multiplier).
//
// The memory controller of a channel picks the chip select by base/mask
// matching on A[39:8], then takes every bank, row, column and rank-multiplier
// bit from a programmable address bit. Up to ten XOR hashes spread accesses
// over chip selects, banks and rank multipliers. All of it is described per
// channel slot in the ChannelConfigTable.
#include "addr_translate/dram/translate_norm_to_dram_addr.h"

#include "addr_translate/driver_globals.h"
#include "diag/diag_print.h"
#include "diag/fatal_stop.h"

#include <bit>

namespace atd {

namespace {

void DiagSinkPrint(void*, const char* format, va_list args) {
  diag::DiagVPrint(diag::DiagLevelTranslation, format, args);
}

__attribute__((format(printf, 2, 3))) void Say(const DramMessageSink& sink, const char* format,
                                               ...) {
  if (sink.print == nullptr) return;
  va_list args;
  va_start(args, format);
  sink.print(sink.context, format, args);
  va_end(args);
}

constexpr uint32_t Parity(uint32_t v) {
  return static_cast<uint32_t>(std::popcount(v)) & 1u;
}

constexpr uint64_t Bit(uint64_t a, unsigned n) {
  return (a >> n) & 1u;
}

constexpr uint64_t LowMask(unsigned bits) {
  return bits >= 64 ? ~0ULL : (1ULL << bits) - 1;
}

constexpr uint8_t Field4(uint32_t word, unsigned k) {
  return static_cast<uint8_t>((word >> (4 * k)) & 0xF);
}

// csHashCtl / rmHashCtl: bit 0 enables; bit k (k >= 1) selects A[k + 8].
constexpr uint32_t AddressHash(uint32_t word, uint64_t a) {
  return Parity((word >> 1) & static_cast<uint32_t>(a >> 9));
}

// bankHashCtl: bit 0 enables; bits 13:1 select column bits 12..0, bits 31:14
// row bits 17..0.
constexpr uint32_t BankHash(uint32_t word, uint16_t col, uint32_t row) {
  return (word & 1u) & (Parity(col & (word >> 1) & 0x1FFFu) ^ Parity(row & (word >> 14)));
}

void WriteRecord(DramAddress* out, uint8_t chipSelect, uint8_t bank, uint32_t row, uint16_t col,
                 uint8_t rankMul) {
  // One field at a time: the caller's bytes between them stay as they were.
  uint8_t* const cs = &out->chipSelect;
  uint8_t* const bk = &out->bank;
  uint32_t* const rw = &out->row;
  uint16_t* const cl = &out->col;
  uint8_t* const rm = &out->rankMul;
  *cs = chipSelect;
  *bk = bank;
  *rw = row;
  *cl = col;
  *rm = rankMul;
}

}  // namespace

// With the diagnostic switch off (as delivered) the messages are dropped here,
// before any argument is gathered.
constinit const DramMessageSink kDiagPrintSink = {diag::DiagPrintEnabled ? DiagSinkPrint : nullptr,
                                                  nullptr};

void decode_dram_fields(const DramFieldSelect& in, uint8_t* bank, uint32_t* row, uint16_t* col,
                        uint8_t* rankMul, uint8_t* bankHashBits) {
  if (in.matchKind > kMatchSecondaryOnly) {
    // Only reachable through a broken caller. If a debugger or the simulator
    // takes the stop over, leave defined values behind.
    diag::FatalStop(kStopBadMatchKind);
    *bank = 0;
    *row = 0;
    *col = 0;
    *rankMul = 0;
    return;
  }
  const uint64_t a = in.normAddr;

  uint32_t plainBank = 0;
  for (unsigned k = 0; k < in.bankBits && k < kBankHashWords; ++k)
    plainBank |= static_cast<uint32_t>(Bit(a, in.bankSel[k] + 5u)) << k;
  bool bankHashing = false;
  for (unsigned k = 0; k < kBankHashWords; ++k)
    bankHashing = bankHashing || (in.bankHashCtl[k] & 1u);

  // Column: bits 0..7 always from the low selector, 8..15 only for wide pages.
  uint32_t c = 0;
  for (unsigned j = 0; j < 8; ++j)
    c |= static_cast<uint32_t>(Bit(a, Field4(in.colAddrSelLo, j) + 2u)) << j;
  if (in.colBits > 8) {
    for (unsigned j = 0; j < 8; ++j)
      c |= static_cast<uint32_t>(Bit(a, Field4(in.colAddrSelHi, j) + 8u)) << (8 + j);
  }
  const uint16_t column = static_cast<uint16_t>(c & LowMask(in.colBits < 16 ? in.colBits : 16));

  // Row: a low run and a high run of address bits.
  const uint64_t lo = (a >> (in.rowLoSel + 12u)) & LowMask(in.rowLoBits);
  const uint64_t hi = (a >> (in.rowHiSel + 24u)) & LowMask(in.rowHiBits);
  uint32_t r = static_cast<uint32_t>(lo | (in.rowLoBits < 64 ? hi << in.rowLoBits : 0));

  const bool odd = (in.chipSelect & 1u) != 0;
  if (in.matchKind != kMatchSecondaryOnly) {
    // Row inversion flips the two topmost row bits of the chip select.
    const uint8_t inv = in.matchKind == kMatchPrimary ? (odd ? in.rowInvOdd : in.rowInvEven)
                                                      : (odd ? in.rowInvOddSec : in.rowInvEvenSec);
    const unsigned rowWidth = in.rowLoBits + in.rowHiBits;
    if (rowWidth >= 1 && rowWidth - 1 < 32 && (inv & 2u)) r ^= 1u << (rowWidth - 1);
    if (rowWidth >= 2 && rowWidth - 2 < 32 && (inv & 1u)) r ^= 1u << (rowWidth - 2);
  } else if (odd) {
    // A secondary-only odd chip select takes its row width from the size of
    // the secondary range: mask bits less rank-multiplier bits.
    const int m = std::popcount(in.csMaskSec) - static_cast<int>(in.noofrm);
    const unsigned width = m == 24 ? 15 : m == 25 ? 16 : 17;
    r = static_cast<uint32_t>((a >> (in.rowLoSel + 12u)) & LowMask(width));
  }

  uint32_t finalBank = plainBank;
  if (bankHashing) {
    uint8_t h[kBankHashWords];
    for (unsigned k = 0; k < kBankHashWords; ++k) {
      h[k] = static_cast<uint8_t>(BankHash(in.bankHashCtl[k], column, r));
      bankHashBits[k] = h[k];
    }
    for (unsigned k = 0; k < in.bankBits && k < kBankHashWords; ++k)
      if (in.bankHashCtl[k] & 1u) finalBank ^= static_cast<uint32_t>(h[k]) << k;
  }

  const uint8_t* sel = in.matchKind == kMatchPrimary ? in.rmSel : in.rmSelSec;
  uint32_t rm = 0;
  for (unsigned k = 0; k < in.noofrm && k < 3; ++k)
    rm |= static_cast<uint32_t>(Bit(a, sel[k] + 12u)) << k;

  *bank = static_cast<uint8_t>(finalBank);
  *row = r;
  *col = column;
  *rankMul = static_cast<uint8_t>(rm);
}

namespace {

// The chip select whose range holds the address, and which range matched.
struct ChipSelectMatch {
  unsigned cs;  // kChipSelects: none
  uint32_t matchKind;
};

// Chip-select search: primary range first, then the secondary one, on A[39:8].
ChipSelectMatch FindChipSelect(const ChannelConfigTable& t, unsigned s, uint64_t a) {
  const uint32_t a39to8 = static_cast<uint32_t>(a >> 8);
  for (unsigned c = 0; c < kChipSelects; ++c) {
    const unsigned p = c / 2;
    const uint32_t cfg = t.addrCfg[s][p];
    const bool primaryEnabled = AddrCfg::CsEn(cfg, c);
    const uint32_t mask = ~t.csMask[s][p];
    if (primaryEnabled && (a39to8 & mask) == (t.csBase[s][c] & mask)) return {c, kMatchPrimary};
    const bool secondaryEnabled = AddrCfg::CsSecEn(cfg, c);
    const uint32_t maskSec = ~t.csMaskSec[s][p];
    if (secondaryEnabled && (a39to8 & maskSec) == (t.csBaseSec[s][c] & maskSec))
      return {c, primaryEnabled ? kMatchSecondary : kMatchSecondaryOnly};
  }
  return {kChipSelects, kMatchPrimary};
}

// The chip select reported: the matched one with its two hashes applied.
uint8_t HashedChipSelect(const ChannelConfigTable& t, unsigned s, unsigned cs, uint64_t a) {
  uint32_t bit0 = cs & 1u;
  uint32_t bit1 = cs & 2u;
  if (t.csHashCtl[s][0] & 1u) bit0 ^= AddressHash(t.csHashCtl[s][0], a);
  if (t.csHashCtl[s][1] & 1u) bit1 ^= AddressHash(t.csHashCtl[s][1], a) << 1;
  return static_cast<uint8_t>(bit0 | bit1);
}

// The pair's geometry as its addrCfg word gives it (all zero without a match).
struct PairGeometry {
  uint32_t noofbank, noofrm, noofrwolo, noofrowhi, noofcol;
  uint32_t BankBits() const { return AddrCfg::BankBits(noofbank); }
  uint32_t RowLoBits() const { return noofrwolo + 10; }
  uint32_t RowHiBits() const { return noofrowhi; }
  uint32_t ColBits() const { return noofcol + 5; }
};

PairGeometry GeometryOf(uint32_t cfg) {
  return {AddrCfg::Noofbank::Get(cfg), AddrCfg::Noofrm::Get(cfg), AddrCfg::Noofrwolo::Get(cfg),
          AddrCfg::Noofrowhi::Get(cfg), AddrCfg::Noofcol::Get(cfg)};
}

void SayGeometry(const DramMessageSink& sink, const PairGeometry& g) {
  Say(sink,
      "translate_norm_to_dram_addr: noofbank = %d, noofrm = %d, noofrwolo = %d, noofrowhi = %d, "
      "noofcol = %d\n",
      static_cast<int>(g.noofbank), static_cast<int>(g.noofrm), static_cast<int>(g.noofrwolo),
      static_cast<int>(g.noofrowhi), static_cast<int>(g.noofcol));
}

void SayBits(const DramMessageSink& sink, const PairGeometry& g) {
  Say(sink,
      "translate_norm_to_dram_addr: RowLoBits = %d, RowHiBits = %d, ColBits = %d, CsBits = %d, "
      "BankBits = %d\n",
      static_cast<int>(g.RowLoBits()), static_cast<int>(g.RowHiBits()),
      static_cast<int>(g.ColBits()), static_cast<int>(g.noofrm), static_cast<int>(g.BankBits()));
}

// Everything decode_dram_fields needs of the matched chip select `m.cs` of
// slot `s`.
DramFieldSelect FieldSelectOf(const ChannelConfigTable& t, unsigned s, ChipSelectMatch m,
                              const PairGeometry& g, const uint32_t (&bankHashCtl)[kBankHashWords],
                              uint64_t a) {
  const unsigned p = m.cs / 2;
  const uint32_t bankAddrSel = t.bankAddrSel[s][p];
  const uint32_t rowAddrSel = t.rowAddrSel[s][p];
  const uint32_t rmAddrSel = t.rmAddrSel[s][p];
  const uint32_t rmAddrSelSec = t.rmAddrSelSec[s][p];
  DramFieldSelect in{};
  in.normAddr = a;
  in.csMaskSec = t.csMaskSec[s][p];
  in.bankBits = g.BankBits();
  for (unsigned k = 0; k < kBankHashWords; ++k) in.bankSel[k] = Field4(bankAddrSel, k);
  in.rowLoBits = g.RowLoBits();
  in.rowHiBits = g.RowHiBits();
  in.colBits = g.ColBits();
  in.rowLoSel = Field4(rowAddrSel, 0);
  in.rowHiSel = Field4(rowAddrSel, 1);
  in.colAddrSelLo = t.colAddrSelLo[s][p];
  in.colAddrSelHi = t.colAddrSelHi[s][p];
  in.noofrm = g.noofrm;
  for (unsigned k = 0; k < 3; ++k) {
    in.rmSel[k] = Field4(rmAddrSel, k);
    in.rmSelSec[k] = Field4(rmAddrSelSec, k);
  }
  in.rowInvEven = static_cast<uint8_t>(RmAddrSel::RowInvEven::Get(rmAddrSel));
  in.rowInvOdd = static_cast<uint8_t>(RmAddrSel::RowInvOdd::Get(rmAddrSel));
  in.rowInvEvenSec = static_cast<uint8_t>(RmAddrSel::RowInvEven::Get(rmAddrSelSec));
  in.rowInvOddSec = static_cast<uint8_t>(RmAddrSel::RowInvOdd::Get(rmAddrSelSec));
  in.matchKind = m.matchKind;
  in.chipSelect = m.cs;
  for (unsigned k = 0; k < kBankHashWords; ++k) in.bankHashCtl[k] = bankHashCtl[k];
  return in;
}

// The rank-multiplier hashes of the slot, one per rank-multiplier bit.
uint8_t HashedRankMul(const ChannelConfigTable& t, unsigned s, uint8_t rm, uint32_t noofrm,
                      uint64_t a) {
  for (unsigned k = 0; k < 3 && k < noofrm; ++k) {
    const uint32_t word = t.rmHashCtl[s][k];
    if (word & 1u) rm ^= static_cast<uint8_t>(AddressHash(word, a) << k);
  }
  return rm;
}

void SayOutOfBounds(const DramMessageSink& sink, const PairGeometry& g, uint8_t bank, uint32_t row,
                    uint16_t col) {
  if (bank >= (1u << g.BankBits()))
    Say(sink, "translate_norm_to_dram_addr: ERROR: Bank of the Given NormAddr is out of bounds\n");
  if (static_cast<uint64_t>(row) >= (1ULL << (g.RowLoBits() + g.RowHiBits())))
    Say(sink, "translate_norm_to_dram_addr: ERROR: Row of the Given NormAddr is out of bounds\n");
  if (col >= (1u << g.ColBits()))
    Say(sink, "translate_norm_to_dram_addr: ERROR: Col of the Given NormAddr is out of bounds\n");
}

}  // namespace

void TranslateNormToDram(ChannelConfigTable* table, uint64_t a, uint8_t socket, uint8_t die,
                         uint8_t channel, DramAddress* out, const DramMessageSink& sink) {
  if (table == nullptr) {
    WriteRecord(out, 0, 0, 0, 0, 0);
    Say(sink, "translate_norm_to_dram_addr: ERROR: ChannelConfigTable is not available\n");
    return;
  }
  const unsigned s = ChannelSlot(socket, die, channel);
  if (s >= kChannelSlots) {
    // The table has 16 slots; anything else would read past it.
    WriteRecord(out, 0, 0, 0, 0, 0);
    Say(sink, "translate_norm_to_dram_addr: ERROR: Channel slot is out of bounds\n");
    return;
  }
  const ChannelConfigTable& t = *table;

  uint32_t bankHashCtl[kBankHashWords];
  for (unsigned k = 0; k < kBankHashWords; ++k) bankHashCtl[k] = t.bankHashCtl[k][s];

  const ChipSelectMatch m = FindChipSelect(t, s, a);
  const bool matched = m.cs < kChipSelects;
  const PairGeometry g = GeometryOf(matched ? t.addrCfg[s][m.cs / 2] : 0);
  SayGeometry(sink, g);
  if (!matched || ((t.csPresent[s] >> m.cs) & 1u) == 0)
    Say(sink, "translate_norm_to_dram_addr: ERROR: Rank is out of bounds\n");
  SayBits(sink, g);
  if (!matched) {
    // Nothing matched: there is no geometry to decode with. The per-pair words
    // at pair index 2 belong to the next slot, so they are not read.
    WriteRecord(out, 0, 0, 0, 0, 0);
    return;
  }

  uint8_t bank = 0;
  uint32_t row = 0;
  uint16_t col = 0;
  uint8_t rm = 0;
  decode_dram_fields(FieldSelectOf(t, s, m, g, bankHashCtl, a), &bank, &row, &col, &rm,
                     table->bankHashBits);
  rm = HashedRankMul(t, s, rm, g.noofrm, a);
  WriteRecord(out, HashedChipSelect(t, s, m.cs, a), bank, row, col, rm);
  SayOutOfBounds(sink, g, bank, row, col);
}

void translate_norm_to_dram_addr(uint64_t normalizedAddress, uint8_t socket, uint8_t die,
                                 uint8_t channel, DramAddress* out) {
  TranslateNormToDram(gChannelConfigTable, normalizedAddress, socket, die, channel, out,
                      kDiagPrintSink);
}

}  // namespace atd
