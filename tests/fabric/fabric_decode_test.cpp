// Pure decoding of the fabric registers and the interleave arithmetic: no
// simulator involved.
#include "addr_translate/fabric/fabric_decode.h"
#include "registers/fabric_registers.h"

#include <gtest/gtest.h>

namespace {

using atd::FabricIdLayout;

TEST(FabricAccessValue, EncodesInstanceFunctionOffsetAndBroadcast) {
  struct Row {
    uint8_t instance, function;
    uint16_t offset;
    uint32_t value;
  };
  const Row rows[] = {
      {0xFF, 1, 0x208, 0x00FF0A08}, {0xFF, 1, 0x20C, 0x00FF0A0C}, {0xFF, 0, 0x040, 0x00FF0040},
      {0xFF, 0, 0x3F8, 0x00FF03F8}, {0xFF, 0, 0x060, 0x00FF0060}, {0xFF, 0, 0x068, 0x00FF0068},
      {3, 2, 0x090, 0x00031091},    {0, 0, 0x110, 0x00000111},    {0xFE, 7, 0x3FF, 0x00FE3BFD},
  };
  for (const Row& r : rows)
    EXPECT_EQ(atd::fabricAccessValue(r.instance, r.function, r.offset), r.value)
        << std::hex << "instance " << +r.instance << " F" << +r.function << "x" << r.offset;
}

TEST(FabricAccessValue, WindowOfEachNodeIsDevice0x18PlusNode) {
  EXPECT_EQ(atd::fabricWindowAddress(0, 0x5C), 0xE00C405Cu);
  EXPECT_EQ(atd::fabricWindowAddress(0, 0x98), 0xE00C4098u);
  EXPECT_EQ(atd::fabricWindowAddress(1, 0x5C), 0xE00CC05Cu);
  EXPECT_EQ(atd::fabricWindowAddress(7, 0x98), 0xE00FC098u);
  EXPECT_EQ(atd::fabricNodeDevice(8), 0);  // (0x18 + 8) modulo 32
}

TEST(DecodeIntLvAddrBit, SelectFieldPerLayoutAndReservedValues) {
  const uint8_t expected[8] = {8, 9, 10, 11, 12, 1, 1, 1};
  for (uint32_t sel = 0; sel < 8; ++sel) {
    EXPECT_EQ(atd::decodeIntLvAddrBit(2, sel << 8), expected[sel]) << sel;
    EXPECT_EQ(atd::decodeIntLvAddrBit(3, sel << 9), expected[sel]) << sel;
  }
  // Each variant reads only its own bits.
  EXPECT_EQ(atd::decodeIntLvAddrBit(3, 1u << 8), 8);
  EXPECT_EQ(atd::decodeIntLvAddrBit(2, 1u << 11), 8);
}

// The base/limit pair of an address map, written as the registers hold it.
// Field rows set the first and last bit of every field and the bits around
// it, so a field read one bit too wide or too narrow decodes differently;
// code rows carry each channel interleave code once, with the reading each
// operation gives it, and the interleave start selects 0 to 7.
TEST(DramAddressMapRegisters, EveryFieldAndEachOperationsChannelReading) {
  struct Readings {
    uint8_t hitChannels, hitBits, normBits, sysChannels, sysBits;
    bool hashed, split, six;
  };
  struct Row {
    const char* what;
    FabricIdLayout layout;
    uint32_t base, limit;
    bool valid, holeEn;
    uint8_t chan, die, socket, sel, intLvAddrBit;
    uint32_t dst;
    uint64_t baseAddr, limitAddr;
    Readings r;
  };
  constexpr auto C = FabricIdLayout::Combined;
  constexpr auto E = FabricIdLayout::Extended;
  // The channel-code table, by what each operation makes of a code.
  constexpr Readings kOne{1, 0, 0, 1, 0, false, false, false};
  constexpr Readings kTwo{2, 1, 1, 2, 1, false, false, false};
  constexpr Readings kFour{4, 2, 2, 4, 2, false, false, false};
  constexpr Readings kEight{8, 3, 3, 8, 3, false, false, false};
  constexpr Readings kSix{6, 3, 3, 6, 3, false, false, true};
  constexpr Readings kFourBitsRemoved{1, 0, 4, 1, 0, false, false, false};  // code 7
  constexpr Readings kOneBitRemoved{1, 0, 1, 1, 0, false, false, false};    // code 8
  constexpr Readings kTwoHashed{2, 1, 1, 2, 1, true, false, false};
  constexpr Readings kFourHashed{4, 2, 2, 4, 2, true, true, false};
  constexpr Readings kEightHashed{8, 3, 3, 8, 3, true, true, false};
  constexpr uint64_t k256M = 0x0FFFFFFF;  // limit address of a zero limit field
  const Row rows[] = {
      {"Combined fields", C, 0x80001D9F, 0x80001F81, true, true, 9, 3, 1, 5, 1, 0x81,
       0x800010000000, 0x80001FFFFFFF, kOne},
      {"Extended fields", E, 0x80001BE7, 0x80001E01, true, true, 9, 3, 1, 5, 1, 0x201,
       0x800010000000, 0x80001FFFFFFF, kOne},
      {"Combined, all but valid and hole", C, 0xFFFFFFFC, 0x00000000, false, false, 0xF, 0, 0, 7, 1,
       0, 0xFFFFF0000000, k256M, kOne},
      {"Extended, all but valid and hole", E, 0xFFFFFFFC, 0xFFFFFFFF, false, false, 0xF, 3, 1, 7, 1,
       0x3FF, 0xFFFFF0000000, 0xFFFFFFFFFFFF, kOne},
      {"256 MiB granularity", C, 0x00001003, 0x00001000, true, true, 0, 0, 0, 0, 8, 0, 0x10000000,
       0x1FFFFFFF, kOne},
      {"Extended, top of the address space", E, 0xFFFFF000, 0xFFFFF000, false, false, 0, 0, 0, 0, 8,
       0, 0xFFFFF0000000, 0xFFFFFFFFFFFF, kOne},
      {"Combined, die and socket in the limit", C, 0x3D1, 0x95A, true, false, 0xD, 2, 1, 3, 11,
       0x5A, 0, k256M, kFourHashed},
      {"Extended, die and socket in the base", E, 0x979, 0x35A, true, false, 0xE, 1, 1, 4, 12,
       0x35A, 0, k256M, kEightHashed},
      {"code 0", C, 0x001, 0, true, false, 0, 0, 0, 0, 8, 0, 0, k256M, kOne},
      {"code 1", E, 0x205, 0, true, false, 1, 0, 0, 1, 9, 0, 0, k256M, kTwo},
      {"code 2", C, 0x221, 0, true, false, 2, 0, 0, 2, 10, 0, 0, k256M, kOne},
      {"code 3", E, 0x60D, 0, true, false, 3, 0, 0, 3, 11, 0, 0, k256M, kFour},
      {"code 4", C, 0x441, 0, true, false, 4, 0, 0, 4, 12, 0, 0, k256M, kOne},
      {"code 5", E, 0xA15, 0, true, false, 5, 0, 0, 5, 1, 0, 0, k256M, kEight},
      {"code 6", C, 0x661, 0, true, false, 6, 0, 0, 6, 1, 0, 0, k256M, kSix},
      {"code 7", E, 0xE1D, 0, true, false, 7, 0, 0, 7, 1, 0, 0, k256M, kFourBitsRemoved},
      {"code 8", C, 0x081, 0, true, false, 8, 0, 0, 0, 8, 0, 0, k256M, kOneBitRemoved},
      {"code 9", E, 0x025, 0, true, false, 9, 0, 0, 0, 8, 0, 0, k256M, kOne},
      {"code 10", C, 0x0A1, 0, true, false, 10, 0, 0, 0, 8, 0, 0, k256M, kOne},
      {"code 11", E, 0x02D, 0, true, false, 11, 0, 0, 0, 8, 0, 0, k256M, kOne},
      {"code 12", C, 0x0C1, 0, true, false, 12, 0, 0, 0, 8, 0, 0, k256M, kTwoHashed},
      {"code 13", E, 0x035, 0, true, false, 13, 0, 0, 0, 8, 0, 0, k256M, kFourHashed},
      {"code 14", C, 0x0E1, 0, true, false, 14, 0, 0, 0, 8, 0, 0, k256M, kEightHashed},
      {"code 15", E, 0x03D, 0, true, false, 15, 0, 0, 0, 8, 0, 0, k256M, kOne},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.what);
    const auto m = atd::decodeDramAddressMap(r.layout, r.base, r.limit);
    EXPECT_EQ(m.valid, r.valid);
    EXPECT_EQ(m.holeEn, r.holeEn);
    EXPECT_EQ(m.chanIntlvCode, r.chan);
    EXPECT_EQ(m.dieIntlvCode, r.die);
    EXPECT_EQ(m.socketIntlvBit, r.socket);
    EXPECT_EQ(m.intLvAddrSel, r.sel);
    EXPECT_EQ(atd::decodeIntLvAddrBit(atd::intLvAddrBitVariant(r.layout), r.base), r.intLvAddrBit);
    EXPECT_EQ(m.dstFabricId, r.dst);
    EXPECT_EQ(m.dramBaseAddr, r.baseAddr);
    EXPECT_EQ(m.dramLimitAddr, r.limitAddr);
    const auto hit = atd::checkDramHitChannels(m.chanIntlvCode);
    const auto norm = atd::calcNormAddrChannels(m.chanIntlvCode);
    const auto sys = atd::calcSysAddrChannels(m.chanIntlvCode);
    EXPECT_EQ(hit.channels, r.r.hitChannels);
    EXPECT_EQ(hit.bits, r.r.hitBits);
    EXPECT_EQ(norm.bits, r.r.normBits);
    EXPECT_EQ(sys.channels, r.r.sysChannels);
    EXPECT_EQ(sys.bits, r.r.sysBits);
    EXPECT_EQ(hit.hashed, r.r.hashed);
    EXPECT_EQ(sys.hashed, r.r.hashed);
    EXPECT_EQ(norm.split, r.r.split);
    EXPECT_EQ(sys.split, r.r.split);
    EXPECT_EQ(hit.sixChannel, r.r.six);
    EXPECT_EQ(norm.sixChannel, r.r.six);
    EXPECT_EQ(sys.sixChannel, r.r.six);
  }
}

TEST(DecodeDramAddressMap, DieCodeThreeCountsThreeBitsButOneDie) {
  EXPECT_EQ(atd::numDieInterleaved(0), 1u);
  EXPECT_EQ(atd::numDieInterleaved(1), 2u);
  EXPECT_EQ(atd::numDieInterleaved(2), 4u);
  EXPECT_EQ(atd::numDieInterleaved(3), 1u);
  const auto m = atd::decodeDramAddressMap(FabricIdLayout::Combined, 0x31, 0x0C00);
  EXPECT_EQ(m.dieIntlvCode, 3);
  EXPECT_EQ(atd::calcSysAddrChannels(m.chanIntlvCode).bits + m.dieIntlvCode + m.socketIntlvBit, 5u);
}

// F1x208, F1x20C and F0x3F8 as the registers hold them: each field's first
// and last bit set, and the bits beside it, so a field one bit off decodes
// differently.
TEST(FabricIdRegisters, EveryFieldFromRawHex) {
  struct Row {
    const char* what;
    uint32_t reg208, reg20C, reg3F8;
    FabricIdLayout layout;
    uint32_t socketMask, socketShift, dieMask, dieShift, nodeMask;
    uint8_t hash64K, hash2M, hash1G;
  };
  constexpr auto C = FabricIdLayout::Combined;
  constexpr auto E = FabricIdLayout::Extended;
  const Row rows[] = {
      {"Combined: shifts 31:28 and 27:24, masks 23:16 and 15:8", 0xB9C18500, 0xFFFFFFFF, 0, C, 0xC1,
       0xB, 0x85, 0x9, 0xC5, 1, 1, 1},
      {"Combined: select 7:0 zero under all other bits", 0xFFFFFF00, 0, 0xFFFFFFFF, C, 0xFF, 0xF,
       0xFF, 0xF, 0xFF, 1, 1, 1},
      // 0x20C: node-id shift 9 (3:0), socket 3 above it (9:8), die-id mask 5
      // (18:16), socket-id mask 7 (26:24), bits 4, 7, 10, 15, 19, 23, 27 set.
      {"Extended: select bit 7, nodeMask 25:16", 0x06018080, 0x0F8D8799, 0xFF8FFFFF, E, 0xE00, 12,
       0xA00, 9, 0x201, 0, 0, 0},
      {"Extended: select bit 0, 64 KiB hash bit 20", 0x00000001, 0, 0x00100000, E, 0, 0, 0, 0, 0, 1,
       0, 0},
      {"Extended: 2 MiB hash bit 21", 0x00000001, 0, 0x00200000, E, 0, 0, 0, 0, 0, 0, 1, 0},
      {"Extended: 1 GiB hash bit 22", 0x00000001, 0, 0x00400000, E, 0, 0, 0, 0, 0, 0, 0, 1},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.what);
    EXPECT_EQ(atd::decodeFabricIdLayout(r.reg208), r.layout);
    const auto m = atd::decodeFabricIdMasks(r.reg208, r.reg20C, r.reg3F8);
    EXPECT_EQ(m.layout, r.layout);
    EXPECT_EQ(m.socketMask, r.socketMask);
    EXPECT_EQ(m.socketShift, r.socketShift);
    EXPECT_EQ(m.dieMask, r.dieMask);
    EXPECT_EQ(m.dieShift, r.dieShift);
    EXPECT_EQ(m.nodeMask, r.nodeMask);
    EXPECT_EQ(m.hash.hash64KEnable, r.hash64K);
    EXPECT_EQ(m.hash.hash2MEnable, r.hash2M);
    EXPECT_EQ(m.hash.hash1GEnable, r.hash1G);
  }
}

// F0x104 and F0x1B4 as the registers hold them: the hole base is bits 31:24,
// the offset bits 31:20 (Combined) or 31:12 (Extended), from address bit 28.
TEST(HoleAndOffsetRegisters, FromRawHex) {
  struct Row {
    FabricIdLayout layout;
    uint32_t reg104, reg1B4;
    uint64_t holeBase, hiAddrOffset;
  };
  const Row rows[] = {
      {FabricIdLayout::Combined, 0x81FFFFFF, 0x801FFFFF, 0x81000000, 0x8010000000},
      {FabricIdLayout::Extended, 0x00FFFFFF, 0x80001FFF, 0, 0x800010000000},
      {FabricIdLayout::Combined, 0xC0000000, 0x00400001, 0xC0000000, 0x40000000},
      {FabricIdLayout::Extended, 0xC0000001, 0x00400001, 0xC0000000, 0x4000000000},
  };
  for (const Row& r : rows) {
    EXPECT_EQ(atd::decodeDramHoleBase(r.reg104), r.holeBase) << std::hex << r.reg104;
    EXPECT_EQ(atd::decodeHiAddrOffset(r.layout, r.reg1B4), r.hiAddrOffset) << std::hex << r.reg1B4;
  }
}

TEST(FabricIdMasks, CombinedLayoutComesFromOneRegister) {
  // socketShift 7, dieShift 5, socketMask 0x80, dieMask 0x60, layout 0.
  const auto m = atd::decodeFabricIdMasks(0x75806000, 0xFFFFFFFF, 0);
  EXPECT_EQ(m.layout, FabricIdLayout::Combined);
  EXPECT_EQ(m.socketMask, 0x80u);
  EXPECT_EQ(m.socketShift, 7u);
  EXPECT_EQ(m.dieMask, 0x60u);
  EXPECT_EQ(m.dieShift, 5u);
  EXPECT_EQ(m.nodeMask, 0xE0u);
  EXPECT_EQ(m.hash.hash64KEnable + m.hash.hash2MEnable + m.hash.hash1GEnable, 3);
  // Fabric id 0xC3: socket 1, die 2, instance 3, node 6.
  EXPECT_EQ(atd::socketIdOf(0xC3, m), 1u);
  EXPECT_EQ(atd::dieIdOf(0xC3, m), 2u);
  EXPECT_EQ(atd::instanceIdOf(0xC3, m), 3);
  EXPECT_EQ(atd::nodeIdOf(0xC3, m), 6u);
  EXPECT_EQ(atd::nodeIdFrom(1, 2, m), 6u);
}

TEST(FabricIdMasks, ExtendedLayoutShiftsTheUnshiftedMasks) {
  // 0x208: layout 1, nodeMask 0x70. 0x20C: node shift 4, socket 2 above it,
  // die-id mask 3, socket-id mask 4. 0x3F8: only the 2 MiB hash.
  const auto m = atd::decodeFabricIdMasks(0x00700001, 0x04030204, 1u << 21);
  EXPECT_EQ(m.layout, FabricIdLayout::Extended);
  EXPECT_EQ(m.socketMask, 0x40u);
  EXPECT_EQ(m.socketShift, 6u);
  EXPECT_EQ(m.dieMask, 0x30u);
  EXPECT_EQ(m.dieShift, 4u);
  EXPECT_EQ(m.nodeMask, 0x70u);
  EXPECT_EQ(m.hash.hash64KEnable, 0);
  EXPECT_EQ(m.hash.hash2MEnable, 1);
  EXPECT_EQ(m.hash.hash1GEnable, 0);
  EXPECT_EQ(atd::socketIdOf(0x5A, m), 1u);
  EXPECT_EQ(atd::dieIdOf(0x5A, m), 1u);
  EXPECT_EQ(atd::nodeIdOf(0x5A, m), 5u);
  EXPECT_EQ(atd::instanceIdOf(0x5A, m), 0x0A);
  EXPECT_EQ(atd::nodeIdFrom(1, 1, m), 5u);
}

TEST(HashTerms, EachEnableGatesItsOwnBit) {
  const atd::HashEnables all{1, 1, 1}, none{0, 0, 0}, only2M{0, 1, 0};
  struct Row {
    uint64_t a;
    uint32_t t12, t13, t14, s0, s1, s2;  // with all enables
  };
  const Row rows[] = {
      {1ULL << 12, 1, 0, 0, 0, 0, 0},
      {1ULL << 16, 1, 0, 0, 0, 0, 0},
      {1ULL << 21, 1, 0, 0, 0, 1, 0},
      {1ULL << 30, 1, 0, 0, 0, 1, 0},
      {1ULL << 13, 0, 1, 0, 0, 0, 0},
      {1ULL << 17, 0, 1, 0, 0, 0, 0},
      {1ULL << 22, 0, 1, 0, 0, 0, 1},
      {1ULL << 31, 0, 1, 0, 0, 0, 1},
      {1ULL << 14, 0, 0, 1, 0, 0, 0},
      {1ULL << 18, 0, 0, 1, 0, 0, 0},
      {1ULL << 23, 0, 0, 1, 1, 0, 0},
      {1ULL << 32, 0, 0, 1, 1, 0, 0},
      {(1ULL << 14) | (1ULL << 18), 0, 0, 0, 0, 0, 0},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.a);
    EXPECT_EQ(atd::hashTerm12(r.a, all), r.t12);
    EXPECT_EQ(atd::hashTerm13(r.a, all), r.t13);
    EXPECT_EQ(atd::hashTerm14(r.a, all), r.t14);
    EXPECT_EQ(atd::sixWayTerm0(r.a, all), r.s0);
    EXPECT_EQ(atd::sixWayTerm1(r.a, all), r.s1);
    EXPECT_EQ(atd::sixWayTerm2(r.a, all), r.s2);
  }
  EXPECT_EQ(atd::hashTerm14(1ULL << 18, none), 0u);
  EXPECT_EQ(atd::hashTerm14(1ULL << 14, none), 1u);  // the address bit itself is never gated
  EXPECT_EQ(atd::hashTerm12(1ULL << 21, only2M), 1u);
  EXPECT_EQ(atd::hashTerm12(1ULL << 30, only2M), 0u);
}

// ---- shift counts that would leave the range of the type ----------------------

TEST(SplitRule, StartBitAtOrAbove11LeavesTheMiddleFieldEmpty) {
  const uint64_t a = 0x123456789ULL;
  // b = 8: bits 8 and 12 (four channels) are dropped.
  EXPECT_EQ(atd::removeInterleaveBits(a, 8, 2, true, 0),
            (a & 0xFF) | (((a >> 9) & 7) << 8) | ((a >> 13) << 11));
  // b = 11: bits 11 and 12 are dropped, nothing between them.
  EXPECT_EQ(atd::removeInterleaveBits(a, 11, 2, true, 0), (a & 0x7FF) | ((a >> 13) << 11));
  // b = 12: 2^(11 - b) would be a fraction; the middle field is empty.
  EXPECT_EQ(atd::removeInterleaveBits(a, 12, 2, true, 0), (a & 0xFFF) | ((a >> 13) << 11));
  EXPECT_EQ(atd::spreadAddress(0xFFFFF, 12, 2, true), 0xFFFu | ((0xFFFFFULL >> 11) << 13));
  // The way back of b = 11 is exact.
  const uint64_t norm = atd::removeInterleaveBits(a, 11, 3, true, 0);
  EXPECT_EQ(atd::spreadAddress(norm, 11, 3, true), a & ~0x3800ULL);
}

TEST(SixChannelMarker, ThreeShiftedByPMinusNPlus14WhereverTheShiftIsDefined) {
  struct Row {
    uint32_t p, n, b;
    uint64_t marker;
  };
  const Row rows[] = {
      {20, 3, 8, 3ULL << 31},             // the usual case
      {0, 3, 8, 3ULL << 11},              // 0 - 3 + 14 = 11
      {0, 7, 8, 3ULL << 7},               // 7: below the start bit, among the low bits
      {0, 14, 8, 3},                      // 0: the lowest position
      {0, 15, 8, 0},                      // -1: no shift by a negative count
      {51, 3, 8, 3ULL << 62},             // 62: both bits inside 64
      {52, 3, 8, 0x8000000000000000ULL},  // 63: only the low bit of 3 remains
      {53, 3, 8, 0},                      // 64: beyond the type
      {63, 3, 12, 0},                     // 74
  };
  for (const Row& r : rows)
    EXPECT_EQ(atd::sixWayMarker(r.p, r.n, r.b), r.marker) << r.p << " " << r.n << " " << r.b;
  // The marker is ORed into the normalized address wherever it lies.
  EXPECT_EQ(atd::removeInterleaveBits(0x1234, 8, 3, false, atd::sixWayMarker(0, 7, 8)),
            0x34u | (0x1234u >> 11 << 8) | 0x180u);
  // Without a field the way back reads no marker either, whatever the address holds.
  EXPECT_EQ(atd::sixWayMsbLowBit(0, 20, 8), -1);
  EXPECT_EQ(atd::sixChannelDeinterleave(~0ULL << 8, 8, 20, 0, 3, {0, 0, 0}) >> 28,
            (~0ULL << 8) >> 28);
}

// csId as formed (32-bit difference, die and socket ids ORed in) is what is
// reported; only its interleave-field bits, with the difference cut to the
// channel bits, go into the address.
TEST(CsId, FormedInThirtyTwoBitsInsertedAsTheInterleaveBits) {
  const auto m = atd::decodeFabricIdMasks(0x75806000, 0, 0);  // die at 5, socket at 7
  struct Row {
    uint32_t cs, dst, chans, dies, sockets, n, formed, inserted;
  };
  const Row rows[] = {
      {0x13, 0x10, 4, 1, 1, 2, 3, 3},            // the documented example
      {0x14, 0x11, 4, 1, 1, 2, 0xFFFFFFFF, 3},   // 0 - 1 wraps: channel 3 of the map
      {0x12, 0x13, 4, 1, 1, 2, 0xFFFFFFFF, 3},   // 2 - 3 wraps
      {0x34, 0x11, 4, 2, 1, 3, 0xFFFFFFFF, 7},   // wrapped channel part, die 1 above it
      {0xB2, 0x13, 4, 2, 2, 4, 0xFFFFFFFF, 15},  // socket 1, die 1, channel 3
      {0x92, 0x13, 4, 1, 2, 3, 0xFFFFFFFF, 7},   // socket 1 directly above the channel bits
      {0x71, 0x10, 4, 2, 1, 3, 0xD, 5},          // die id 3 reaches beyond the one die bit
      {0x15, 0x15, 1, 1, 1, 0, 0, 0},            // no interleave
  };
  for (const Row& r : rows) {
    EXPECT_EQ(atd::formCsId(r.cs, r.dst, r.chans, r.dies, r.sockets, m), r.formed)
        << std::hex << r.cs << " " << r.dst;
    EXPECT_EQ(atd::computeCsId(r.cs, r.dst, r.chans, r.dies, r.sockets, r.n, m), r.inserted)
        << std::hex << r.cs << " " << r.dst;
  }
}

TEST(LogicalChannelMap, FirstMatchingNibbleOrEight) {
  EXPECT_EQ(atd::logicalIndexOf(0xFF452301, 1), 0u);
  EXPECT_EQ(atd::logicalIndexOf(0xFF452301, 5), 4u);
  EXPECT_EQ(atd::logicalIndexOf(0xFF452301, 6), 8u);  // missing
  EXPECT_EQ(atd::logicalIndexOf(0x11111111, 1), 0u);  // first match wins
  EXPECT_EQ(atd::logicalIndexOf(0xFF452301, 0xF), 6u);
}

}  // namespace
