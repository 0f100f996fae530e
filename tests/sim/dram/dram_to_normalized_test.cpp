// DRAM coordinates back to normalized addresses on a hand-written slot, where
// the answer follows from the slot's bit layout alone: A[12:3] column,
// A[16:13] bank, A[17] rank multiplier, A[29:18] row, A[30] chip select.
#include "tests/dram/dram_test_support.h"

#include "sim/dram/dram_to_normalized.h"

#include <gtest/gtest.h>

#include <functional>

namespace {

constexpr unsigned kSlot = 5;

DramAddress Coordinates(unsigned cs, unsigned bank, unsigned row, unsigned col, unsigned rm) {
  DramAddress d{};
  d.chipSelect = static_cast<uint8_t>(cs);
  d.bank = static_cast<uint8_t>(bank);
  d.row = row;
  d.col = static_cast<uint16_t>(col);
  d.rankMul = static_cast<uint8_t>(rm);
  return d;
}

struct Case {
  const char* name;
  std::function<void(atd::ChannelConfigTable&)> change;  // to the reference slot
  DramAddress want;
  std::vector<uint64_t> addresses;  // expected, ascending
  const char* reason;               // expected in the reason when none
};

TEST(DramToNormalized, HandWrittenSlot) {
  using atd::AddrCfg;
  using dramtest::ReferenceAddress;
  const auto none = [](atd::ChannelConfigTable&) {};
  // Secondary ranges. Chip select 1 also answers at A[39:30] = 2 (its primary
  // range at 1), its top row bit inverted there. Chip selects 2 and 3 answer
  // only through their secondary ranges, at A[35] = 1 and A[34] = 1 with
  // A[33:8] masked off: A[12:3] column, A[16:13] bank, A[18:17] two
  // rank-multiplier bits, A[33:19] 15 row bits (for 3: 26 masked bits less
  // the 2 rank-multiplier bits), neither row inverted.
  const auto secondary = [](atd::ChannelConfigTable& t) {
    t.csPresent[kSlot] = 0xF;
    t.addrCfg[kSlot][0] |= AddrCfg::kCsSecEnOdd;
    t.csBaseSec[kSlot][1] = 0x800000;
    t.csMaskSec[kSlot][0] = 0x3FFFFF;
    t.rmAddrSelSec[kSlot][0] = 0x5 | (2u << atd::kRowInvOddShift);
    t.addrCfg[kSlot][1] = AddrCfg::kCsSecEnEven | AddrCfg::kCsSecEnOdd |
                          (1u << AddrCfg::kNoofbankShift) | (2u << AddrCfg::kNoofrmShift) |
                          (5u << AddrCfg::kNoofrwoloShift) | (5u << AddrCfg::kNoofcolShift);
    t.csBaseSec[kSlot][2] = 2u << 26;
    t.csBaseSec[kSlot][3] = 1u << 26;
    t.csMaskSec[kSlot][1] = 0x3FFFFFF;
    t.colAddrSelLo[kSlot][1] = 0x87654321;
    t.colAddrSelHi[kSlot][1] = 0x43;
    t.bankAddrSel[kSlot][1] = 0x0BA98;
    t.rowAddrSel[kSlot][1] = 0x7;
    t.rmAddrSel[kSlot][1] = 0xFF;  // the primary range's: not used here
    // No row inversion where only the secondary range is enabled.
    t.rmAddrSelSec[kSlot][1] = 0x65 | (3u << atd::kRowInvEvenShift) | (3u << atd::kRowInvOddShift);
  };
  const Case cases[] = {
      {"plain",
       none,
       Coordinates(1, 5, 0x123, 0x2A, 1),
       {ReferenceAddress(1, 5, 0x123, 0x2A, 1)},
       ""},
      {"last location",
       none,
       Coordinates(1, 15, 0xFFF, 0x3FF, 1),
       {ReferenceAddress(1, 15, 0xFFF, 0x3FF, 1)},
       ""},
      {"bank wider than the slot's 4 bits",
       none,
       Coordinates(0, 16, 0, 0, 0),
       {},
       "bank 16 needs more than its 4 bank bits"},
      {"row wider than the slot's 12 bits",
       none,
       Coordinates(0, 0, 0x1000, 0, 0),
       {},
       "row 0x1000 needs more than its 12 row bits"},
      {"column wider than the slot's 10 bits",
       none,
       Coordinates(0, 0, 0, 0x400, 0),
       {},
       "column 0x400 needs more than its 10 column bits"},
      {"rank multiplier wider than 1 bit",
       none,
       Coordinates(0, 0, 0, 0, 2),
       {},
       "rank multiplier 2 needs more than its 1 rank-multiplier bits"},
      {"chip select 2 is not enabled",
       none,
       Coordinates(2, 0, 0, 0, 0),
       {},
       "chip select 2 is not enabled in channel slot 5"},
      // Nine column bits: A[12] (column bit 9) is read by nothing, so two
      // addresses give each set of coordinates.
      {"an address bit nobody reads",
       [](atd::ChannelConfigTable& t) {
         t.addrCfg[kSlot][0] = (t.addrCfg[kSlot][0] & ~(0xFu << atd::AddrCfg::kNoofcolShift)) |
                               (4u << atd::AddrCfg::kNoofcolShift);
       },
       Coordinates(0, 3, 7, 0x101, 0),
       {ReferenceAddress(0, 3, 7, 0x101, 0), ReferenceAddress(0, 3, 7, 0x101, 0) | (1ULL << 12)},
       ""},
      // Chip-select bit 0 XORed with A[13] (hash word bit k selects A[k + 8]),
      // which is bank bit 0: chip select 0 with an odd bank lies in the upper
      // half.
      {"chip-select hash",
       [](atd::ChannelConfigTable& t) { t.csHashCtl[kSlot][0] = 1u | (1u << 5); },
       Coordinates(0, 1, 0x20, 0x10, 0),
       {ReferenceAddress(1, 1, 0x20, 0x10, 0)},
       ""},
      // Bank bit 2 XORed with column bit 0 (bankHashCtl bit 1 selects column
      // bit 0).
      {"bank hash",
       [](atd::ChannelConfigTable& t) { t.bankHashCtl[2][kSlot] = 1u | (1u << 1); },
       Coordinates(0, 4, 0x20, 0x11, 0),
       {ReferenceAddress(0, 0, 0x20, 0x11, 0)},
       ""},
      // Row inversion of the odd chip select: the two top row bits flipped.
      {"row inversion",
       [](atd::ChannelConfigTable& t) { t.rmAddrSel[kSlot][0] |= 3u << atd::kRowInvOddShift; },
       Coordinates(1, 0, 0xC05, 0, 0),
       {ReferenceAddress(1, 0, 0x005, 0, 0)},
       ""},
      // Row 0x123 through the primary range; through the secondary range the
      // address holds row 0x923, whose bit 11 the inversion flips back.
      {"primary and secondary range of one chip select",
       secondary,
       Coordinates(1, 5, 0x123, 0x2A, 1),
       {0x448EA150, 0xA48EA150},
       ""},
      {"secondary range alone, two rank-multiplier bits",
       secondary,
       Coordinates(3, 9, 0x5A5A, 0x155, 3),
       {0x6D2D72AA8},
       ""},
      {"even chip select, secondary range alone",
       secondary,
       Coordinates(2, 9, 0x5A5A, 0x155, 3),
       {0xAD2D72AA8},
       ""},
      {"secondary range alone, row wider than its 15 bits",
       secondary,
       Coordinates(3, 0, 0x8000, 0, 0),
       {},
       "row 0x8000 needs more than its 15 row bits"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto t = dramtest::NewTable();
    dramtest::FillReferenceSlot(*t, kSlot);
    c.change(*t);
    const sim::dram::DramToNormalized r = sim::dram::NormalizedFromDram(*t, kSlot, c.want);
    EXPECT_EQ(r.addresses, c.addresses);
    EXPECT_EQ(r.count, c.addresses.size());
    if (!c.addresses.empty()) {
      EXPECT_EQ(r.offsetBits, 3u);
    }
    EXPECT_NE(r.reason.find(c.reason), std::string::npos) << r.reason;

    // Whatever is found decodes to the coordinates asked for.
    for (uint64_t a : r.addresses) {
      DramAddress d{};
      atd::TranslateNormToDram(t.get(), a, 0, 0, kSlot, &d, {nullptr, nullptr});
      EXPECT_EQ(d.chipSelect, c.want.chipSelect);
      EXPECT_EQ(d.bank, c.want.bank);
      EXPECT_EQ(d.row, c.want.row);
      EXPECT_EQ(d.col, c.want.col);
      EXPECT_EQ(d.rankMul, c.want.rankMul);
    }
  }
}

}  // namespace
