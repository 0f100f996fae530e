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

TEST(DecodeDramAddressMap, BaseLimitGranularityAndFlags) {
  const auto m = atd::decodeDramAddressMap(FabricIdLayout::Combined, 0x00001003, 0x00001000);
  EXPECT_TRUE(m.valid);
  EXPECT_TRUE(m.holeEn);
  EXPECT_EQ(m.dramBaseAddr, 0x10000000u);
  EXPECT_EQ(m.dramLimitAddr, 0x1FFFFFFFu);
  const auto top = atd::decodeDramAddressMap(FabricIdLayout::Extended, 0xFFFFF000, 0xFFFFF000);
  EXPECT_FALSE(top.valid);
  EXPECT_EQ(top.dramBaseAddr, 0xFFFFF0000000ULL);
  EXPECT_EQ(top.dramLimitAddr, 0xFFFFFFFFFFFFULL);
}

TEST(DecodeDramAddressMap, FieldsSitElsewhereInEachLayout) {
  // base: chan bits 7:4 = 0xD, sel 10:8 = 3; limit: die 11:10 = 2, socket 8, dst 7:0 = 0x5A.
  const auto c = atd::decodeDramAddressMap(FabricIdLayout::Combined, 0x000003D1, 0x0000095A);
  EXPECT_EQ(c.chanIntlvCode, 0xD);
  EXPECT_EQ(c.intLvAddrSel, 3);
  EXPECT_EQ(c.dieIntlvCode, 2);
  EXPECT_EQ(c.socketIntlvBit, 1);
  EXPECT_EQ(c.dstFabricId, 0x5Au);
  // Extended: chan 5:2 = 0xE, die 7:6 = 1, socket 8 = 1, sel 11:9 = 4; dst 9:0 = 0x35A.
  const uint32_t base = 1 | (0xE << 2) | (1 << 6) | (1 << 8) | (4 << 9);
  const auto e = atd::decodeDramAddressMap(FabricIdLayout::Extended, base, 0x0000035A);
  EXPECT_EQ(e.chanIntlvCode, 0xE);
  EXPECT_EQ(e.dieIntlvCode, 1);
  EXPECT_EQ(e.socketIntlvBit, 1);
  EXPECT_EQ(e.intLvAddrSel, 4);
  EXPECT_EQ(e.dstFabricId, 0x35Au);
  EXPECT_EQ(atd::decodeIntLvAddrBit(3, base), 12);
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

TEST(ChannelCodes, EachOperationReadsTheCodeByItsOwnTable) {
  struct Row {
    uint8_t code;
    uint8_t hitChannels, hitBits, normBits, sysChannels, sysBits;
    bool hashed, split, six;
  };
  const Row rows[] = {
      {0, 1, 0, 0, 1, 0, false, false, false},  {1, 2, 1, 1, 2, 1, false, false, false},
      {2, 1, 0, 0, 1, 0, false, false, false},  {3, 4, 2, 2, 4, 2, false, false, false},
      {4, 1, 0, 0, 1, 0, false, false, false},  {5, 8, 3, 3, 8, 3, false, false, false},
      {6, 6, 3, 3, 6, 3, false, false, true},   {7, 1, 0, 4, 1, 0, false, false, false},
      {8, 1, 0, 1, 1, 0, false, false, false},  {9, 1, 0, 0, 1, 0, false, false, false},
      {10, 1, 0, 0, 1, 0, false, false, false}, {11, 1, 0, 0, 1, 0, false, false, false},
      {12, 2, 1, 1, 2, 1, true, false, false},  {13, 4, 2, 2, 4, 2, true, true, false},
      {14, 8, 3, 3, 8, 3, true, true, false},   {15, 1, 0, 0, 1, 0, false, false, false},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(+r.code);
    const auto hit = atd::checkDramHitChannels(r.code);
    const auto norm = atd::calcNormAddrChannels(r.code);
    const auto sys = atd::calcSysAddrChannels(r.code);
    EXPECT_EQ(hit.channels, r.hitChannels);
    EXPECT_EQ(hit.bits, r.hitBits);
    EXPECT_EQ(norm.bits, r.normBits);
    EXPECT_EQ(sys.channels, r.sysChannels);
    EXPECT_EQ(sys.bits, r.sysBits);
    EXPECT_EQ(sys.hashed, r.hashed);
    EXPECT_EQ(sys.split, r.split);
    EXPECT_EQ(norm.split, r.split);
    EXPECT_EQ(hit.sixChannel, r.six);
    EXPECT_EQ(norm.sixChannel, r.six);
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
