// The DRAM translation on hand-written tables: each case changes the reference
// slot in one way and says what the hardware decodes.
#include "dram_test_support.h"

#include "sim/platform/platform.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>

namespace {

using dramtest::Catcher;
using dramtest::FillReferenceSlot;
using dramtest::ReferenceAddress;

constexpr unsigned kSlot = 3;
constexpr uint32_t kSecEnOdd = atd::AddrCfg::kCsSecEnOdd;
constexpr uint32_t kSecEnEven = atd::AddrCfg::kCsSecEnEven;
const uint64_t kBase = ReferenceAddress(1, 9, 0xABC, 0x1A5, 1);

const std::string kRankError = "translate_norm_to_dram_addr: ERROR: Rank is out of bounds\n";
const std::string kRowError =
    "translate_norm_to_dram_addr: ERROR: Row of the Given NormAddr is out of bounds\n";

struct Expect {
  uint8_t cs, bank;
  uint32_t row;
  uint16_t col;
  uint8_t rm;
};

struct Case {
  const char* name;
  std::function<void(atd::ChannelConfigTable&)> change;
  uint64_t address;
  Expect want;
  std::vector<std::string> errors;
};

// csHashCtl / rmHashCtl word selecting address bit n.
constexpr uint32_t HashOn(unsigned n) {
  return 1u | (1u << (n - 8));
}

const Case kCases[] = {
    {"PlainDecodeOfChipSelect1", nullptr, kBase, {1, 9, 0xABC, 0x1A5, 1}, {}},
    {"ChipSelect0", nullptr, ReferenceAddress(0, 9, 0xABC, 0x1A5, 1), {0, 9, 0xABC, 0x1A5, 1}, {}},
    {"CsHash0WithValue1TurnsChipSelect1Into0",
     [](auto& t) { t.csHashCtl[kSlot][0] = HashOn(30); },
     kBase,
     {0, 9, 0xABC, 0x1A5, 1},
     {}},
    {"CsHash0WithValue0KeepsChipSelect1",
     [](auto& t) { t.csHashCtl[kSlot][0] = HashOn(18); },
     kBase,
     {1, 9, 0xABC, 0x1A5, 1},
     {}},
    {"CsHash0DisabledIsIgnored",
     [](auto& t) { t.csHashCtl[kSlot][0] = HashOn(30) & ~1u; },
     kBase,
     {1, 9, 0xABC, 0x1A5, 1},
     {}},
    {"CsHash1SetsChipSelectBit1",
     [](auto& t) { t.csHashCtl[kSlot][1] = HashOn(30); },
     kBase,
     {3, 9, 0xABC, 0x1A5, 1},
     {}},
    {"CsHashFoldsSeveralBits",  // A[30] ^ A[20] (row bit 2 = 1) = 0
     [](auto& t) { t.csHashCtl[kSlot][0] = HashOn(30) | HashOn(20); },
     kBase,
     {1, 9, 0xABC, 0x1A5, 1},
     {}},
    {"PrimaryAndSecondaryBothMatchPrimaryWins",
     [](auto& t) {
       t.addrCfg[kSlot][0] |= kSecEnOdd;
       t.csBaseSec[kSlot][1] = t.csBase[kSlot][1];
       t.csMaskSec[kSlot][0] = t.csMask[kSlot][0];
       t.rmAddrSelSec[kSlot][0] = (3u << atd::kRowInvOddShift) | 0x6;
     },
     kBase,
     {1, 9, 0xABC, 0x1A5, 1},
     {}},
    {"SecondaryMatchWithPrimaryEnabledUsesSecondaryInversionAndRankMul",
     [](auto& t) {
       t.csBase[kSlot][1] = 0x800000;  // primary range elsewhere
       t.addrCfg[kSlot][0] |= kSecEnOdd;
       t.csBaseSec[kSlot][1] = 0x400000;
       t.csMaskSec[kSlot][0] = 0x3FFFFF;
       t.rmAddrSel[kSlot][0] = (1u << atd::kRowInvOddShift) | 0x5;
       t.rmAddrSelSec[kSlot][0] = (2u << atd::kRowInvOddShift) | 0x6;  // rm from A[18] = 0
     },
     kBase,
     {1, 9, 0xABC ^ 0x800, 0x1A5, 0},
     {}},
    {"SecondaryOnlyEvenChipSelectKeepsRowWithoutInversion",
     [](auto& t) {
       t.addrCfg[kSlot][0] = (t.addrCfg[kSlot][0] & ~atd::AddrCfg::kCsEnEven) | kSecEnEven;
       t.csBaseSec[kSlot][0] = 0;
       t.csMaskSec[kSlot][0] = 0x3FFFFF;
       t.rmAddrSel[kSlot][0] = (3u << atd::kRowInvEvenShift) | 0x5;
       t.rmAddrSelSec[kSlot][0] = (3u << atd::kRowInvEvenShift) | 0x5;
     },
     ReferenceAddress(0, 9, 0xABC, 0x1A5, 1),
     {0, 9, 0xABC, 0x1A5, 1},
     {}},
    // Secondary only, odd chip select: the row is one run whose width follows
    // from popcount(csMaskSec) - noofrm (24: 15 bits, 25: 16, else 17). The
    // extra mask bits sit on A[31..], and the address sets A[32..] there.
    {"SecondaryOnlyOddRowWidth15",
     [](auto& t) {
       t.addrCfg[kSlot][0] = (t.addrCfg[kSlot][0] & ~atd::AddrCfg::kCsEnOdd) | kSecEnOdd;
       t.csBaseSec[kSlot][1] = 0x400000;
       t.csMaskSec[kSlot][0] = 0x3FFFFF | (0x7u << 23);  // 25 bits
       t.rmAddrSel[kSlot][0] = (3u << atd::kRowInvOddShift) | 0x5;
       t.rmAddrSelSec[kSlot][0] = (3u << atd::kRowInvOddShift) | 0x6;
     },
     kBase | (3ULL << 32),
     {1, 9, 0x5ABC, 0x1A5, 0},
     {kRowError}},
    {"SecondaryOnlyOddRowWidth16",
     [](auto& t) {
       t.addrCfg[kSlot][0] = (t.addrCfg[kSlot][0] & ~atd::AddrCfg::kCsEnOdd) | kSecEnOdd;
       t.csBaseSec[kSlot][1] = 0x400000;
       t.csMaskSec[kSlot][0] = 0x3FFFFF | (0xFu << 23);  // 26 bits
     },
     kBase | (7ULL << 32),
     {1, 9, 0xDABC, 0x1A5, 0},
     {kRowError}},
    {"SecondaryOnlyOddRowWidth17",
     [](auto& t) {
       t.addrCfg[kSlot][0] = (t.addrCfg[kSlot][0] & ~atd::AddrCfg::kCsEnOdd) | kSecEnOdd;
       t.csBaseSec[kSlot][1] = 0x400000;
       t.csMaskSec[kSlot][0] = 0x3FFFFF | (0x1Fu << 23);  // 27 bits
     },
     kBase | (0xFULL << 32),
     {1, 9, 0x1DABC, 0x1A5, 0},
     {kRowError}},
    {"SecondaryOnlyOddRowWidthCountsRankMulBits",  // 26 mask bits - 2 = 24: 15 bits
     [](auto& t) {
       t.addrCfg[kSlot][0] = (t.addrCfg[kSlot][0] & ~(atd::AddrCfg::kCsEnOdd | (3u << 6))) |
                             kSecEnOdd | (2u << atd::AddrCfg::kNoofrmShift);
       t.csBaseSec[kSlot][1] = 0x400000;
       t.csMaskSec[kSlot][0] = 0x3FFFFF | (0xFu << 23);
       t.rmAddrSelSec[kSlot][0] = 0x55;  // both bits from A[17]
     },
     kBase | (7ULL << 32),
     {1, 9, 0x5ABC, 0x1A5, 3},
     {kRowError}},
    {"Noofbank3DecodesThreeBankBits",
     [](auto& t) { t.addrCfg[kSlot][0] |= 3u << atd::AddrCfg::kNoofbankShift; },
     kBase,
     {1, 1, 0xABC, 0x1A5, 1},
     {}},
    {"Noofbank0DecodesThreeBankBits",
     [](auto& t) { t.addrCfg[kSlot][0] &= ~(3u << atd::AddrCfg::kNoofbankShift); },
     kBase,
     {1, 1, 0xABC, 0x1A5, 1},
     {}},
    {"Noofbank2DecodesFiveBankBits",
     [](auto& t) {
       t.addrCfg[kSlot][0] ^= 3u << atd::AddrCfg::kNoofbankShift;  // 1 -> 2
       t.bankAddrSel[kSlot][0] |= 12u << 16;                       // bank bit 4 at A[17]
     },
     kBase,
     {1, 25, 0xABC, 0x1A5, 1},
     {}},
    {"ColBits8UsesOnlyTheLowSelector",
     [](auto& t) { t.addrCfg[kSlot][0] = (t.addrCfg[kSlot][0] & ~(0xFu << 16)) | (3u << 16); },
     kBase,
     {1, 9, 0xABC, 0xA5, 1},
     {}},
    {"ColBits9TakesBit8FromHighSelectorField0",
     [](auto& t) { t.addrCfg[kSlot][0] = (t.addrCfg[kSlot][0] & ~(0xFu << 16)) | (4u << 16); },
     kBase,
     {1, 9, 0xABC, 0x1A5, 1},
     {}},
    {"ColBits9HighSelectorPointsElsewhere",  // bit 8 from A[12] = column bit 9 = 0
     [](auto& t) {
       t.addrCfg[kSlot][0] = (t.addrCfg[kSlot][0] & ~(0xFu << 16)) | (4u << 16);
       t.colAddrSelHi[kSlot][0] = 0x4;
     },
     kBase,
     {1, 9, 0xABC, 0xA5, 1},
     {}},
    {"RowInversionBothBitsWithoutHighRun",
     [](auto& t) { t.rmAddrSel[kSlot][0] |= 3u << atd::kRowInvOddShift; },
     kBase,
     {1, 9, 0xABC ^ 0xC00, 0x1A5, 1},
     {}},
    {"RowInversionBit0FlipsTheSecondRowBitFromTop",
     [](auto& t) { t.rmAddrSel[kSlot][0] |= 1u << atd::kRowInvOddShift; },
     kBase,
     {1, 9, 0xABC ^ 0x400, 0x1A5, 1},
     {}},
    {"RowInversionOfTheEvenChipSelectLeavesTheOddAlone",
     [](auto& t) { t.rmAddrSel[kSlot][0] |= 3u << atd::kRowInvEvenShift; },
     kBase,
     {1, 9, 0xABC, 0x1A5, 1},
     {}},
    {"HighRowRunGoesAboveTheLowRun",
     [](auto& t) {
       t.addrCfg[kSlot][0] |= 2u << atd::AddrCfg::kNoofrowhiShift;
       t.rowAddrSel[kSlot][0] |= 7u << 4;  // high run from A[31]
       t.csMask[kSlot][0] |= 3u << 23;     // A[32:31] are row bits, not chip select
     },
     kBase | (3ULL << 31),
     {1, 9, 0x3ABC, 0x1A5, 1},
     {}},
    {"RowInversionActsOnTheTopOfTheHighRun",
     [](auto& t) {
       t.addrCfg[kSlot][0] |= 2u << atd::AddrCfg::kNoofrowhiShift;
       t.rowAddrSel[kSlot][0] |= 7u << 4;
       t.csMask[kSlot][0] |= 3u << 23;
       t.rmAddrSel[kSlot][0] |= 2u << atd::kRowInvOddShift;
     },
     kBase | (3ULL << 31),
     {1, 9, 0x1ABC, 0x1A5, 1},
     {}},
    {"Noofrm0GivesRankMul0AndSkipsEnabledHashes",
     [](auto& t) {
       t.addrCfg[kSlot][0] &= ~(3u << atd::AddrCfg::kNoofrmShift);
       for (auto& w : t.rmHashCtl[kSlot]) w = HashOn(30);
     },
     kBase,
     {1, 9, 0xABC, 0x1A5, 0},
     {}},
    {"Noofrm2AppliesHashes0And1Only",  // rm (A[17], A[18]) = 01, hashes of A[30] = 1
     [](auto& t) {
       t.addrCfg[kSlot][0] ^= 3u << atd::AddrCfg::kNoofrmShift;  // 1 -> 2
       t.rmAddrSel[kSlot][0] = 0x65;
       for (auto& w : t.rmHashCtl[kSlot]) w = HashOn(30);
     },
     kBase,
     {1, 9, 0xABC, 0x1A5, 2},
     {}},
    {"Noofrm3AppliesAllThreeHashes",
     [](auto& t) {
       t.addrCfg[kSlot][0] |= 3u << atd::AddrCfg::kNoofrmShift;
       t.rmAddrSel[kSlot][0] = 0x765;  // A[17], A[18], A[19]
       for (auto& w : t.rmHashCtl[kSlot]) w = HashOn(30);
     },
     kBase,
     {1, 9, 0xABC, 0x1A5, 6},
     {}},
    {"DisabledRankMulHashIsSkipped",
     [](auto& t) { t.rmHashCtl[kSlot][0] = HashOn(30) & ~1u; },
     kBase,
     {1, 9, 0xABC, 0x1A5, 1},
     {}},
    {"BankHashFlipsBankBitsBelowBankBits",
     [](auto& t) {
       t.bankHashCtl[0][kSlot] = 1u | (1u << 1);               // column bit 0 = 1
       t.bankHashCtl[2][kSlot] = 1u | (1u << 3) | (1u << 16);  // column bit 2 ^ row bit 2 = 0
       t.bankHashCtl[3][kSlot] = 1u | (1u << (14 + 3));        // row bit 3 = 1
       t.bankHashCtl[4][kSlot] = 1u | (1u << 1);               // bank bit 4 does not exist
     },
     kBase,
     {1, 9 ^ 0x1 ^ 0x8, 0xABC, 0x1A5, 1},
     {}},
    {"BankHashSeesTheInvertedRow",  // row bit 11 is 1, inverted to 0
     [](auto& t) {
       t.bankHashCtl[1][kSlot] = 1u | (1u << (14 + 11));
       t.rmAddrSel[kSlot][0] |= 2u << atd::kRowInvOddShift;
     },
     kBase,
     {1, 9, 0xABC ^ 0x800, 0x1A5, 1},
     {}},
    {"BankHashWordWithoutEnableBitIsIgnored",
     [](auto& t) { t.bankHashCtl[0][kSlot] = 1u << 1; },
     kBase,
     {1, 9, 0xABC, 0x1A5, 1},
     {}},
    {"ChipSelectNotPresentStillDecodes",
     [](auto& t) { t.csPresent[kSlot] = 0x1; },
     kBase,
     {1, 9, 0xABC, 0x1A5, 1},
     {kRankError}},
    {"NoChipSelectMatchesGivesZeros", nullptr, kBase | (1ULL << 31), {0, 0, 0, 0, 0}, {kRankError}},
    {"NoChipSelectMatchesIgnoresChipSelectHash",
     [](auto& t) { t.csHashCtl[kSlot][0] = HashOn(31); },
     kBase | (1ULL << 31),
     {0, 0, 0, 0, 0},
     {kRankError}},
    {"DisabledPrimaryRangeDoesNotMatch",
     [](auto& t) { t.addrCfg[kSlot][0] &= ~atd::AddrCfg::kCsEnOdd; },
     kBase,
     {0, 0, 0, 0, 0},
     {kRankError}},
    {"MatchComparesOnly32BitsOfTheShiftedAddress",  // A[40] is beyond the compare
     nullptr,
     kBase | (1ULL << 40),
     {1, 9, 0xABC, 0x1A5, 1},
     {}},
};

void PrintTo(const Case& c, std::ostream* os) {
  *os << c.name;
}

class TranslateCase : public ::testing::TestWithParam<Case> {};

TEST_P(TranslateCase, Decodes) {
  const Case& c = GetParam();
  auto table = dramtest::NewTable();
  FillReferenceSlot(*table, kSlot);
  if (c.change) c.change(*table);
  DramAddress out;
  std::memset(&out, 0xEE, sizeof out);
  Catcher catcher;
  atd::TranslateNormToDram(table.get(), c.address, 0, 0, kSlot, &out, catcher.Sink());
  EXPECT_EQ(out.chipSelect, c.want.cs);
  EXPECT_EQ(out.bank, c.want.bank);
  EXPECT_EQ(out.row, c.want.row) << std::hex << out.row;
  EXPECT_EQ(out.col, c.want.col) << std::hex << out.col;
  EXPECT_EQ(out.rankMul, c.want.rm);
  EXPECT_EQ(out.gap0[0], 0xEE);
  EXPECT_EQ(out.gap0[1], 0xEE);
  EXPECT_EQ(out.gap1, 0xEE);
  EXPECT_EQ(catcher.Errors(), c.errors);
}

INSTANTIATE_TEST_SUITE_P(Dram, TranslateCase, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.name); });

// ---- messages -----------------------------------------------------------------

TEST(TranslateMessages, NormalDecodeReportsTheRawFieldsThenTheGeometry) {
  auto table = dramtest::NewTable();
  FillReferenceSlot(*table, kSlot);
  DramAddress out{};
  Catcher catcher;
  atd::TranslateNormToDram(table.get(), kBase, 0, 0, kSlot, &out, catcher.Sink());
  EXPECT_EQ(catcher.lines,
            (std::vector<std::string>{
                "translate_norm_to_dram_addr: noofbank = 1, noofrm = 1, noofrwolo = 2, "
                "noofrowhi = 0, noofcol = 5\n",
                "translate_norm_to_dram_addr: RowLoBits = 12, RowHiBits = 0, ColBits = 10, "
                "CsBits = 1, BankBits = 4\n"}));
}

TEST(TranslateMessages, NoMatchReportsZeroFieldsAndTheRankError) {
  auto table = dramtest::NewTable();
  FillReferenceSlot(*table, kSlot);
  DramAddress out{};
  Catcher catcher;
  atd::TranslateNormToDram(table.get(), 1ULL << 35, 0, 0, kSlot, &out, catcher.Sink());
  EXPECT_EQ(catcher.lines,
            (std::vector<std::string>{
                "translate_norm_to_dram_addr: noofbank = 0, noofrm = 0, noofrwolo = 0, "
                "noofrowhi = 0, noofcol = 0\n",
                kRankError,
                "translate_norm_to_dram_addr: RowLoBits = 10, RowHiBits = 0, ColBits = 5, "
                "CsBits = 0, BankBits = 3\n"}));
}

TEST(TranslateMessages, BoundsMessagesComeAfterTheRecordIsWritten) {
  auto table = dramtest::NewTable();
  FillReferenceSlot(*table, kSlot);
  table->addrCfg[kSlot][0] = (table->addrCfg[kSlot][0] & ~atd::AddrCfg::kCsEnOdd) | kSecEnOdd;
  table->csBaseSec[kSlot][1] = 0x400000;
  table->csMaskSec[kSlot][0] = 0x3FFFFF | (0x7u << 23);
  DramAddress out{};
  Catcher catcher;
  catcher.watched = &out;
  atd::TranslateNormToDram(table.get(), kBase | (3ULL << 32), 0, 0, kSlot, &out, catcher.Sink());
  ASSERT_EQ(catcher.lines.size(), 3u);
  EXPECT_EQ(catcher.lines[2], kRowError);
  EXPECT_EQ(catcher.recordAtLine[2].row, 0x5ABCu);  // already in the caller's record
  EXPECT_EQ(catcher.recordAtLine[0].row, 0u);       // not yet at the first message
}

// ---- slots ----------------------------------------------------------------------

struct SlotCase {
  uint8_t socket, die, channel;
  unsigned slot;
};

class SlotMapping : public ::testing::TestWithParam<SlotCase> {};

TEST_P(SlotMapping, ReadsTheSlotOfSocketPlusDieTimes8PlusChannel) {
  const SlotCase& c = GetParam();
  auto table = dramtest::NewTable();
  FillReferenceSlot(*table, c.slot);
  DramAddress out{};
  Catcher catcher;
  atd::TranslateNormToDram(table.get(), kBase, c.socket, c.die, c.channel, &out, catcher.Sink());
  EXPECT_EQ(out.row, 0xABCu);
  EXPECT_EQ(out.bank, 9);
  EXPECT_TRUE(catcher.Errors().empty());
}

INSTANTIATE_TEST_SUITE_P(Dram, SlotMapping,
                         ::testing::Values(SlotCase{1, 0, 3, 11}, SlotCase{0, 1, 3, 11},
                                           SlotCase{0, 0, 0, 0}, SlotCase{1, 0, 7, 15},
                                           SlotCase{0, 0, 15, 15}));

struct RefusedSlot {
  uint8_t socket, die, channel;
};

class SlotRefused : public ::testing::TestWithParam<RefusedSlot> {};

// A table that ends exactly where its last slot ends: under the address
// sanitizer any read beyond it fails the test.
TEST_P(SlotRefused, BeyondTheTableGivesZerosAndAMessage) {
  const RefusedSlot& c = GetParam();
  auto table = dramtest::NewTable();
  for (unsigned s = 0; s < atd::kChannelSlots; ++s) FillReferenceSlot(*table, s);
  DramAddress out;
  std::memset(&out, 0xEE, sizeof out);
  Catcher catcher;
  atd::TranslateNormToDram(table.get(), kBase, c.socket, c.die, c.channel, &out, catcher.Sink());
  EXPECT_EQ(out.chipSelect, 0);
  EXPECT_EQ(out.bank, 0);
  EXPECT_EQ(out.row, 0u);
  EXPECT_EQ(out.col, 0);
  EXPECT_EQ(out.rankMul, 0);
  EXPECT_EQ(out.gap1, 0xEE);
  EXPECT_EQ(catcher.lines,
            std::vector<std::string>{
                "translate_norm_to_dram_addr: ERROR: Channel slot is out of bounds\n"});
}

INSTANTIATE_TEST_SUITE_P(Dram, SlotRefused,
                         ::testing::Values(RefusedSlot{2, 0, 0}, RefusedSlot{1, 1, 0},
                                           RefusedSlot{0, 0, 16}, RefusedSlot{1, 0, 8},
                                           RefusedSlot{255, 255, 255}));

TEST(TranslateTable, MissingTableGivesZerosAndAMessage) {
  DramAddress out;
  std::memset(&out, 0xEE, sizeof out);
  Catcher catcher;
  atd::TranslateNormToDram(nullptr, kBase, 0, 0, 0, &out, catcher.Sink());
  EXPECT_EQ(out.chipSelect, 0);
  EXPECT_EQ(out.row, 0u);
  EXPECT_EQ(out.gap0[0], 0xEE);
  EXPECT_EQ(catcher.lines,
            std::vector<std::string>{
                "translate_norm_to_dram_addr: ERROR: ChannelConfigTable is not available\n"});
}

// ---- bank-hash write-back -----------------------------------------------------

TEST(BankHashBits, WrittenOnlyWhenABankHashIsEnabled) {
  auto table = dramtest::NewTable();
  FillReferenceSlot(*table, kSlot);
  std::memset(table->bankHashBits, 0xAA, sizeof table->bankHashBits);
  table->bankHashCtl[0][kSlot] = 1u << 1;  // selects bits, but not enabled
  DramAddress out{};
  Catcher catcher;
  atd::TranslateNormToDram(table.get(), kBase, 0, 0, kSlot, &out, catcher.Sink());
  for (uint8_t b : table->bankHashBits) EXPECT_EQ(b, 0xAA);

  table->bankHashCtl[3][kSlot] = 1u | (1u << (14 + 3));  // row bit 3 = 1
  table->bankHashCtl[4][kSlot] = 1u | (1u << 1);         // column bit 0 = 1
  table->bankHashCtl[1][kSlot] = 1u | (1u << 2);         // column bit 1 = 0
  atd::TranslateNormToDram(table.get(), kBase, 0, 0, kSlot, &out, catcher.Sink());
  EXPECT_EQ(std::vector<uint8_t>(table->bankHashBits, table->bankHashBits + 5),
            (std::vector<uint8_t>{0, 0, 0, 1, 1}));
  EXPECT_EQ(table->tail[0], 0);
}

TEST(BankHashBits, UntouchedWhenNoChipSelectMatches) {
  auto table = dramtest::NewTable();
  FillReferenceSlot(*table, kSlot);
  std::memset(table->bankHashBits, 0xAA, sizeof table->bankHashBits);
  table->bankHashCtl[0][kSlot] = 1u | (1u << 1);
  DramAddress out{};
  Catcher catcher;
  atd::TranslateNormToDram(table.get(), 1ULL << 35, 0, 0, kSlot, &out, catcher.Sink());
  for (uint8_t b : table->bankHashBits) EXPECT_EQ(b, 0xAA);
}

// ---- the consistency guard --------------------------------------------------

TEST(DecodeGuard, MatchKindOutsideItsRangeStopsWithItsCode) {
  sim::Platform platform;  // claims the stop, so FatalStop returns
  atd::DramFieldSelect in{};
  in.normAddr = kBase;
  in.bankBits = 3;
  in.rowLoBits = 10;
  in.colBits = 5;
  in.matchKind = 3;
  uint8_t bank = 0xEE, rm = 0xEE;
  uint32_t row = 0xEEEEEEEE;
  uint16_t col = 0xEEEE;
  uint8_t hashBits[5] = {7, 7, 7, 7, 7};
  in.bankHashCtl[0] = 1;
  atd::decode_dram_fields(in, &bank, &row, &col, &rm, hashBits);
  EXPECT_EQ(platform.trace.PortWrites(0x80),
            std::vector<sim::TraceEvent>{sim::IoW(0x80, 4, atd::kStopBadMatchKind)});
  EXPECT_EQ(platform.trace.PortWrites(0xE0),
            std::vector<sim::TraceEvent>{sim::IoW(0xE0, 2, 0xDEAD)});
  EXPECT_EQ(bank, 0);
  EXPECT_EQ(row, 0u);
  EXPECT_EQ(col, 0);
  EXPECT_EQ(rm, 0);
  EXPECT_EQ(hashBits[0], 7);
}

TEST(DecodeGuard, ValidMatchKindsDoNotStop) {
  sim::Platform platform;
  for (uint32_t kind = 0; kind <= 2; ++kind) {
    atd::DramFieldSelect in{};
    in.normAddr = kBase;
    in.bankBits = 3;
    in.rowLoBits = 10;
    in.colBits = 5;
    in.matchKind = kind;
    uint8_t bank, rm, hashBits[5];
    uint32_t row;
    uint16_t col;
    atd::decode_dram_fields(in, &bank, &row, &col, &rm, hashBits);
  }
  EXPECT_TRUE(platform.trace.PortWrites(0x80).empty());
}

}  // namespace
