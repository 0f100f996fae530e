// The driver's view of the ChannelConfigTable (include/channel_config_table.h):
// its dimensions as constants, the channel slot, and the fields of the
// addrCfg and rmAddrSel words as register fields.
#pragma once

#include "channel_config_table.h"
#include "hw/register_field.h"

#include <cstdint>

namespace atd {

// The layout is the platform's (include/channel_config_table.h); these are
// its names in the driver.
using ChannelConfigTable = ::ChannelConfigTable;
inline constexpr unsigned kChannelSlots = TIV_CHANNEL_SLOTS;

// The slot of a channel: (socket + die) * 8 + channel. A channel whose slot
// is kChannelSlots or more has no entry.
constexpr unsigned ChannelSlot(unsigned socket, unsigned die, unsigned channel) {
  return (socket + die) * 8u + channel;
}
inline constexpr unsigned kChipSelects = TIV_CHIP_SELECTS;  // chip selects 2p and 2p+1 form pair p
inline constexpr unsigned kBankHashWords = TIV_BANK_HASH_WORDS;
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
