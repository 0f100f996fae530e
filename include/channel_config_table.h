// ChannelConfigTable: the per-channel memory-controller settings that the
// platform's topology component publishes (its pointer sits at +0x20 of
// PlatformTopologyProtocol). The DRAM translation reads it and writes only the
// five bankHashBits bytes at the end.
//
// Every per-channel array is indexed by the channel slot
// (socket + die) * 8 + channel, 16 slots. Two-dimensional arrays are
// row-major: [slot][chip select] or [slot][pair]. All words are 32-bit
// little-endian.
#pragma once

#include "hw/register_field.h"

#include <cstddef>
#include <cstdint>

namespace atd {

inline constexpr unsigned kChannelSlots = 16;

// The slot of a channel: (socket + die) * 8 + channel. A channel whose slot
// is kChannelSlots or more has no entry.
constexpr unsigned ChannelSlot(unsigned socket, unsigned die, unsigned channel) {
  return (socket + die) * 8u + channel;
}
inline constexpr unsigned kChipSelects = 4;  // per channel; chip selects 2p and 2p+1 form pair p
inline constexpr unsigned kBankHashWords = 5;

struct ChannelConfigTable {
  uint8_t notUsed0[0x10];
  uint8_t csPresent[kChannelSlots];                     // bit cs: chip select cs is populated
  uint32_t bankHashCtl[kBankHashWords][kChannelSlots];  // [k][slot]: hash of bank bit k
  uint8_t notUsed1[0x80];
  uint32_t csHashCtl[kChannelSlots][2];     // hash of chip-select bit 0 / bit 1
  uint32_t rmHashCtl[kChannelSlots][3];     // hash of rank-multiplier bit k
  uint32_t csBase[kChannelSlots][4];        // primary base, compared with A[39:8]
  uint32_t csBaseSec[kChannelSlots][4];     // secondary base
  uint32_t csMask[kChannelSlots][2];        // per pair; set bits take no part in the match
  uint32_t csMaskSec[kChannelSlots][2];     // per pair, secondary range
  uint32_t addrCfg[kChannelSlots][4];       // per pair at [slot][pair]; [2] and [3] unused
  uint32_t bankAddrSel[kChannelSlots][2];   // bank-bit positions
  uint32_t rowAddrSel[kChannelSlots][2];    // low / high row start positions
  uint32_t colAddrSelLo[kChannelSlots][2];  // positions of column bits 0..7
  uint32_t colAddrSelHi[kChannelSlots][2];  // positions of column bits 8..15
  uint32_t rmAddrSel[kChannelSlots][2];     // rank-multiplier positions, row inversion (primary)
  uint32_t rmAddrSelSec[kChannelSlots][2];  // the same for the secondary range
  uint8_t notUsed2[0x3C0];
  uint8_t bankHashBits[kBankHashWords];  // written back by the translation
  uint8_t tail[3];
};

static_assert(offsetof(ChannelConfigTable, notUsed0) == 0x000);
static_assert(offsetof(ChannelConfigTable, csPresent) == 0x010);
static_assert(offsetof(ChannelConfigTable, bankHashCtl) == 0x020);
static_assert(offsetof(ChannelConfigTable, bankHashCtl[1]) == 0x060);
static_assert(offsetof(ChannelConfigTable, bankHashCtl[2]) == 0x0A0);
static_assert(offsetof(ChannelConfigTable, bankHashCtl[3]) == 0x0E0);
static_assert(offsetof(ChannelConfigTable, bankHashCtl[4]) == 0x120);
static_assert(offsetof(ChannelConfigTable, notUsed1) == 0x160);
static_assert(offsetof(ChannelConfigTable, csHashCtl) == 0x1E0);
static_assert(offsetof(ChannelConfigTable, rmHashCtl) == 0x260);
static_assert(offsetof(ChannelConfigTable, csBase) == 0x320);
static_assert(offsetof(ChannelConfigTable, csBaseSec) == 0x420);
static_assert(offsetof(ChannelConfigTable, csMask) == 0x520);
static_assert(offsetof(ChannelConfigTable, csMaskSec) == 0x5A0);
static_assert(offsetof(ChannelConfigTable, addrCfg) == 0x620);
static_assert(offsetof(ChannelConfigTable, bankAddrSel) == 0x720);
static_assert(offsetof(ChannelConfigTable, rowAddrSel) == 0x7A0);
static_assert(offsetof(ChannelConfigTable, colAddrSelLo) == 0x820);
static_assert(offsetof(ChannelConfigTable, colAddrSelHi) == 0x8A0);
static_assert(offsetof(ChannelConfigTable, rmAddrSel) == 0x920);
static_assert(offsetof(ChannelConfigTable, rmAddrSelSec) == 0x9A0);
static_assert(offsetof(ChannelConfigTable, notUsed2) == 0xA20);
static_assert(offsetof(ChannelConfigTable, bankHashBits) == 0xDE0);
static_assert(offsetof(ChannelConfigTable, tail) == 0xDE5);
static_assert(sizeof(ChannelConfigTable) == 0xDE8);
static_assert(alignof(ChannelConfigTable) == 4);

// addrCfg word of a chip-select pair.
struct AddrCfg {
  using CsEnEven = hw::Bits<0, 0>;     // primary range of the even chip select
  using CsEnOdd = hw::Bits<1, 1>;      // primary range of the odd chip select
  using Noofbank = hw::Bits<5, 4>;     // bank bits: 1 -> 4, 2 -> 5, otherwise 3
  using Noofrm = hw::Bits<7, 6>;       // rank-multiplier bits
  using Noofrwolo = hw::Bits<11, 8>;   // low row bits - 10
  using Noofrowhi = hw::Bits<15, 12>;  // high row bits
  using Noofcol = hw::Bits<19, 16>;    // column bits - 5
  using CsSecEnEven = hw::Bits<24, 24>;
  using CsSecEnOdd = hw::Bits<25, 25>;

  // The number of bank bits a Noofbank code stands for (0 and 3 both mean three).
  static constexpr uint32_t BankBits(uint32_t noofbank) {
    return noofbank == 1 ? 4 : noofbank == 2 ? 5 : 3;
  }

  // The enable of chip select `cs`'s primary / secondary range: the even and
  // odd chip select of a pair have adjacent enable bits.
  static_assert(CsEnOdd::kLow == CsEnEven::kLow + 1 && CsSecEnOdd::kLow == CsSecEnEven::kLow + 1);
  static constexpr uint32_t CsEn(uint32_t cfg, unsigned cs) {
    return (cfg >> (CsEnEven::kLow + (cs & 1u))) & 1u;
  }
  static constexpr uint32_t CsSecEn(uint32_t cfg, unsigned cs) {
    return (cfg >> (CsSecEnEven::kLow + (cs & 1u))) & 1u;
  }

  // The same fields as bits and shifts, for words put together by hand.
  static constexpr uint32_t kCsEnEven = CsEnEven::Put(1);
  static constexpr uint32_t kCsEnOdd = CsEnOdd::Put(1);
  static constexpr unsigned kNoofbankShift = Noofbank::kLow;
  static constexpr unsigned kNoofrmShift = Noofrm::kLow;
  static constexpr unsigned kNoofrwoloShift = Noofrwolo::kLow;
  static constexpr unsigned kNoofrowhiShift = Noofrowhi::kLow;
  static constexpr unsigned kNoofcolShift = Noofcol::kLow;
  static constexpr uint32_t kCsSecEnEven = CsSecEnEven::Put(1);
  static constexpr uint32_t kCsSecEnOdd = CsSecEnOdd::Put(1);
};

// rmAddrSel / rmAddrSelSec: three 4-bit position fields, then the row-inversion
// pairs of the even and odd chip select of the pair.
struct RmAddrSel {
  using RowInvEven = hw::Bits<17, 16>;
  using RowInvOdd = hw::Bits<19, 18>;
};
inline constexpr unsigned kRowInvEvenShift = RmAddrSel::RowInvEven::kLow;
inline constexpr unsigned kRowInvOddShift = RmAddrSel::RowInvOdd::kLow;

}  // namespace atd
