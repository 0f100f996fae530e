#include "addr_translate/fabric/fabric_decode.h"

#include "registers/fabric_registers.h"

namespace atd {

namespace {

using namespace fabric_reg;

constexpr uint32_t bitOf(uint64_t a, uint32_t k) {
  return static_cast<uint32_t>((a >> k) & 1u);
}

// 2^k - 1 for k in 0..64.
constexpr uint64_t lowMask(uint32_t k) {
  return k >= 64 ? ~0ULL : ((1ULL << k) - 1);
}

constexpr uint64_t withBit(uint64_t v, uint32_t k, uint32_t bit) {
  return (v & ~(1ULL << k)) | (uint64_t{bit & 1u} << k);
}

// Rows indexed by chanIntlvCode 0..15: {channels, bits, hashed, split, six}.
// checkDramHit: codes 7 and 8 are one channel; hashed codes count their bits.
constexpr ChannelInterleave kCheckDramHitTable[16] = {
    {1, 0, false, false, false}, {2, 1, false, false, false}, {1, 0, false, false, false},
    {4, 2, false, false, false}, {1, 0, false, false, false}, {8, 3, false, false, false},
    {6, 3, false, false, true},  {1, 0, false, false, false}, {1, 0, false, false, false},
    {1, 0, false, false, false}, {1, 0, false, false, false}, {1, 0, false, false, false},
    {2, 1, true, false, false},  {4, 2, true, true, false},   {8, 3, true, true, false},
    {1, 0, false, false, false},
};

// calcNormAddr: only the number of bits removed matters; code 7 removes four
// bits and code 8 one, although the other two operations see one channel.
constexpr ChannelInterleave kCalcNormAddrTable[16] = {
    {1, 0, false, false, false}, {2, 1, false, false, false},  {1, 0, false, false, false},
    {4, 2, false, false, false}, {1, 0, false, false, false},  {8, 3, false, false, false},
    {6, 3, false, false, true},  {16, 4, false, false, false}, {2, 1, false, false, false},
    {1, 0, false, false, false}, {1, 0, false, false, false},  {1, 0, false, false, false},
    {2, 1, true, false, false},  {4, 2, true, true, false},    {8, 3, true, true, false},
    {1, 0, false, false, false},
};

// calcSysAddr decodes the codes exactly as checkDramHit does.
constexpr const ChannelInterleave (&kCalcSysAddrTable)[16] = kCheckDramHitTable;

}  // namespace

FabricIdLayout decodeFabricIdLayout(uint32_t reg208) {
  return SystemFabricIdMask0::LayoutSelect::Get(reg208) == 0 ? FabricIdLayout::Combined
                                                             : FabricIdLayout::Extended;
}

HashEnables decodeHashEnables(uint32_t reg3F8) {
  return {static_cast<uint8_t>(HashControl::Hash64KEnable::Get(reg3F8)),
          static_cast<uint8_t>(HashControl::Hash2MEnable::Get(reg3F8)),
          static_cast<uint8_t>(HashControl::Hash1GEnable::Get(reg3F8))};
}

FabricIdMasks decodeFabricIdMasks(uint32_t reg208, uint32_t reg20C, uint32_t reg3F8) {
  FabricIdMasks m{};
  m.layout = decodeFabricIdLayout(reg208);
  if (m.layout == FabricIdLayout::Combined) {
    using R = SystemFabricIdMask0;
    m.socketMask = R::SocketMask::Get(reg208);
    m.socketShift = R::SocketShift::Get(reg208);
    m.dieMask = R::DieMask::Get(reg208);
    m.dieShift = R::DieShift::Get(reg208);
    m.nodeMask = m.dieMask | m.socketMask;
    m.hash = {1, 1, 1};
  } else {
    using R = SystemFabricIdMask1;
    const uint32_t nodeShift = R::NodeIdShift::Get(reg20C);
    m.socketMask = R::SocketIdMask::Get(reg20C) << nodeShift;
    m.socketShift = nodeShift + R::SocketShiftAboveNode::Get(reg20C);
    m.dieMask = R::DieIdMask::Get(reg20C) << nodeShift;
    m.dieShift = nodeShift;
    m.nodeMask = SystemFabricIdMask0::NodeMask::Get(reg208);
    m.hash = decodeHashEnables(reg3F8);
  }
  return m;
}

uint8_t decodeIntLvAddrBit(uint8_t variant, uint32_t dramBaseReg) {
  const uint32_t sel = variant == 2 ? DramBaseAddress::IntLvAddrSelCombined::Get(dramBaseReg)
                                    : DramBaseAddress::IntLvAddrSelExtended::Get(dramBaseReg);
  return sel <= 4 ? static_cast<uint8_t>(8 + sel) : 1;
}

DramAddressMap decodeDramAddressMap(FabricIdLayout layout, uint32_t base, uint32_t limit) {
  using B = DramBaseAddress;
  using L = DramLimitAddress;
  DramAddressMap m{};
  m.valid = B::Valid::Get(base) != 0;
  m.holeEn = B::HoleEn::Get(base) != 0;
  if (layout == FabricIdLayout::Combined) {
    m.chanIntlvCode = static_cast<uint8_t>(B::ChanIntlvCombined::Get(base));
    m.dieIntlvCode = static_cast<uint8_t>(L::DieIntlvCombined::Get(limit));
    m.socketIntlvBit = static_cast<uint8_t>(L::SocketIntlvCombined::Get(limit));
    m.intLvAddrSel = static_cast<uint8_t>(B::IntLvAddrSelCombined::Get(base));
    m.dstFabricId = L::DstFabricIdCombined::Get(limit);
  } else {
    m.chanIntlvCode = static_cast<uint8_t>(B::ChanIntlvExtended::Get(base));
    m.dieIntlvCode = static_cast<uint8_t>(B::DieIntlvExtended::Get(base));
    m.socketIntlvBit = static_cast<uint8_t>(B::SocketIntlvExtended::Get(base));
    m.intLvAddrSel = static_cast<uint8_t>(B::IntLvAddrSelExtended::Get(base));
    m.dstFabricId = L::DstFabricIdExtended::Get(limit);
  }
  m.dramBaseAddr = uint64_t{B::Address::Get(base)} << 28;
  m.dramLimitAddr = (uint64_t{L::Address::Get(limit)} << 28) | 0xFFFFFFFULL;
  return m;
}

uint32_t numDieInterleaved(uint8_t dieIntlvCode) {
  switch (dieIntlvCode & 3) {
    case 1:
      return 2;
    case 2:
      return 4;
    default:
      return 1;
  }
}

ChannelInterleave checkDramHitChannels(uint8_t code) {
  return kCheckDramHitTable[code & 0xF];
}
ChannelInterleave calcNormAddrChannels(uint8_t code) {
  return kCalcNormAddrTable[code & 0xF];
}
ChannelInterleave calcSysAddrChannels(uint8_t code) {
  return kCalcSysAddrTable[code & 0xF];
}

uint32_t nodeIdOf(uint32_t f, const FabricIdMasks& m) {
  return (f & m.nodeMask) >> m.dieShift;
}
uint32_t socketIdOf(uint32_t f, const FabricIdMasks& m) {
  return (f & m.socketMask) >> m.socketShift;
}
uint32_t dieIdOf(uint32_t f, const FabricIdMasks& m) {
  return (f & m.dieMask) >> m.dieShift;
}
uint8_t instanceIdOf(uint32_t f, const FabricIdMasks& m) {
  return static_cast<uint8_t>(f & ~m.nodeMask);
}
uint32_t nodeIdFrom(uint32_t socket, uint32_t die, const FabricIdMasks& m) {
  return (((die << m.dieShift) & m.dieMask) | ((socket << m.socketShift) & m.socketMask)) >>
         m.dieShift;
}

uint64_t decodeDramHoleBase(uint32_t reg104) {
  return uint64_t{DramHoleControl::HoleBase::Get(reg104)} << 24;
}

uint64_t decodeHiAddrOffset(FabricIdLayout layout, uint32_t reg1B4) {
  using R = HiAddrOffsetControl;
  return layout == FabricIdLayout::Combined ? uint64_t{R::OffsetCombined::Get(reg1B4)} << 28
                                            : uint64_t{R::OffsetExtended::Get(reg1B4)} << 28;
}

uint32_t hashTerm14(uint64_t a, const HashEnables& e) {
  return bitOf(a, 14) ^ (bitOf(a, 18) & e.hash64KEnable) ^ (bitOf(a, 23) & e.hash2MEnable) ^
         (bitOf(a, 32) & e.hash1GEnable);
}
uint32_t hashTerm12(uint64_t a, const HashEnables& e) {
  return bitOf(a, 12) ^ (bitOf(a, 16) & e.hash64KEnable) ^ (bitOf(a, 21) & e.hash2MEnable) ^
         (bitOf(a, 30) & e.hash1GEnable);
}
uint32_t hashTerm13(uint64_t a, const HashEnables& e) {
  return bitOf(a, 13) ^ (bitOf(a, 17) & e.hash64KEnable) ^ (bitOf(a, 22) & e.hash2MEnable) ^
         (bitOf(a, 31) & e.hash1GEnable);
}
uint32_t sixWayTerm0(uint64_t a, const HashEnables& e) {
  return (bitOf(a, 23) & e.hash2MEnable) ^ (bitOf(a, 32) & e.hash1GEnable);
}
uint32_t sixWayTerm1(uint64_t a, const HashEnables& e) {
  return (bitOf(a, 21) & e.hash2MEnable) ^ (bitOf(a, 30) & e.hash1GEnable);
}
uint32_t sixWayTerm2(uint64_t a, const HashEnables& e) {
  return (bitOf(a, 22) & e.hash2MEnable) ^ (bitOf(a, 31) & e.hash1GEnable);
}

uint32_t sixChannelPattern(uint64_t a, uint32_t b, const HashEnables& e) {
  const uint32_t s0 = bitOf(a, b) ^ bitOf(a, b + 3) ^ sixWayTerm0(a, e);
  const uint32_t s1 = bitOf(a, b + 1) ^ sixWayTerm1(a, e);
  const uint32_t s2 = bitOf(a, b + 2) ^ sixWayTerm2(a, e);
  return s0 + 2 * s1 + 4 * s2;
}

uint32_t selectTarget(uint64_t a, const DramAddressMap& map, const ChannelInterleave& ch,
                      uint32_t b, const FabricIdMasks& m) {
  const uint32_t n = ch.bits + map.dieIntlvCode + map.socketIntlvBit;
  uint32_t result = map.dstFabricId;
  uint32_t pos = ch.sixChannel ? b : b + ch.bits;

  uint32_t offset = 0;
  if (ch.sixChannel) {
    offset = sixChannelPattern(a, b, m.hash);
    if (offset >= 6) offset = 2 * static_cast<uint32_t>((a >> (b + n)) % 3) + (offset & 1);
  } else if (ch.hashed) {
    offset = bitOf(a, b) ^ hashTerm14(a, m.hash);
    if (ch.bits >= 2) offset += 2 * hashTerm12(a, m.hash);
    if (ch.bits >= 3) offset += 4 * hashTerm13(a, m.hash);
  } else {
    offset = static_cast<uint32_t>((a >> b) & lowMask(ch.bits));
  }
  result += offset;

  const uint32_t dies = numDieInterleaved(map.dieIntlvCode);
  if (dies > 1) {
    const uint32_t d = dies == 2 ? 1 : 2;
    result |= static_cast<uint32_t>((a >> pos) & lowMask(d)) << m.dieShift;
    pos += d;
  }
  if (map.socketIntlvBit) result |= static_cast<uint32_t>((a >> pos) & 1) << m.socketShift;
  return result;
}

int32_t sixWayMsbLowBit(uint32_t p, uint32_t n, uint32_t b) {
  const int32_t low = static_cast<int32_t>(p) - static_cast<int32_t>(n) + 14;
  // The two-bit field must sit above the interleave start bit and inside 64 bits.
  if (low < static_cast<int32_t>(b) || low > 62) return -1;
  return low;
}

uint64_t sixWayMarker(uint32_t p, uint32_t n, uint32_t /*b*/) {
  const int32_t low = static_cast<int32_t>(p) - static_cast<int32_t>(n) + 14;
  // A shift count the type cannot take leaves no marker; every other position
  // is the fabric's own: below the start bit it lands among the low bits, and
  // at 63 only the field's low bit remains.
  if (low < 0 || low > 63) return 0;
  return 3ULL << low;
}

uint64_t removeInterleaveBits(uint64_t a, uint32_t b, uint32_t n, bool split, uint64_t marker) {
  if (n == 0) return a;
  const uint64_t low = a & lowMask(b);
  if (split) {
    // Bit b and bits 12..n+10 carry the interleave; with b at 11 or above the
    // field between them is empty.
    const uint64_t mid = b < 11 ? ((a >> (b + 1)) & lowMask(11 - b)) << b : 0;
    return low | mid | ((a >> (n + 11)) << 11);
  }
  return low | ((a >> (b + n)) << b) | marker;
}

uint32_t log2Count(uint32_t count) {
  uint32_t k = 0;
  while (k < 31 && (1u << (k + 1)) <= count) ++k;
  return k;
}

namespace {

// The channel's position in the interleave: the difference of the low
// fabric-id bits, in 32 bits (it wraps when the channel's bits are below those
// of the map's first channel).
uint32_t channelDifference(uint32_t csFabricId, uint32_t dstFabricId, uint32_t numChan) {
  if (numChan <= 1) return 0;
  const uint32_t k = (1u << log2Count(numChan)) - 1;
  return (csFabricId & k) - (dstFabricId & k);
}

// The die and socket ids placed above the channel bits.
uint32_t dieAndSocketBits(uint32_t csFabricId, uint32_t numChan, uint32_t numDie,
                          uint32_t numSockets, const FabricIdMasks& m) {
  const uint32_t firstDieIdBit = log2Count(numChan);
  const uint32_t firstSocketIdBit = firstDieIdBit + log2Count(numDie);
  uint32_t bits = 0;
  if (numDie > 1) bits |= ((csFabricId & m.dieMask) >> m.dieShift) << firstDieIdBit;
  if (numSockets > 1) bits |= ((csFabricId & m.socketMask) >> m.socketShift) << firstSocketIdBit;
  return bits;
}

}  // namespace

uint32_t formCsId(uint32_t csFabricId, uint32_t dstFabricId, uint32_t numChan, uint32_t numDie,
                  uint32_t numSockets, const FabricIdMasks& m) {
  return channelDifference(csFabricId, dstFabricId, numChan) |
         dieAndSocketBits(csFabricId, numChan, numDie, numSockets, m);
}

uint32_t computeCsId(uint32_t csFabricId, uint32_t dstFabricId, uint32_t numChan, uint32_t numDie,
                     uint32_t numSockets, uint32_t n, const FabricIdMasks& m) {
  // Only the channel bits of the difference are the position, so a wrapped
  // difference cannot spill into the die and socket bits.
  const uint32_t k = numChan > 1 ? (1u << log2Count(numChan)) - 1 : 0;
  const uint32_t csId = (channelDifference(csFabricId, dstFabricId, numChan) & k) |
                        dieAndSocketBits(csFabricId, numChan, numDie, numSockets, m);
  return static_cast<uint32_t>(csId & lowMask(n));
}

uint64_t spreadAddress(uint64_t pre, uint32_t b, uint32_t n, bool split) {
  const uint64_t low = pre & lowMask(b);
  if (!split) return ((pre >> b) << (b + n)) | low;
  const uint64_t mid = b < 11 ? ((pre >> b) & lowMask(11 - b)) << (b + 1) : 0;
  return low | mid | ((pre >> 11) << (n + 11));
}

uint64_t insertHashBits(uint64_t s, uint32_t b, uint8_t code, uint32_t csId, const HashEnables& e) {
  s = withBit(s, b, hashTerm14(s, e) ^ (csId & 1));
  if (code == 13 || code == 14) s = withBit(s, 12, hashTerm12(s, e) ^ ((csId >> 1) & 1));
  if (code == 14) s = withBit(s, 13, hashTerm13(s, e) ^ ((csId >> 2) & 1));
  return s;
}

uint32_t logicalIndexOf(uint32_t map, uint32_t channel) {
  for (uint32_t k = 0; k < 8; ++k)
    if (((map >> (4 * k)) & 0xF) == channel) return k;
  return 8;
}

uint64_t sixChannelDeinterleave(uint64_t pre, uint32_t b, uint32_t n, uint32_t p, uint32_t g,
                                const HashEnables& e) {
  const uint64_t low = pre & lowMask(b);
  const int32_t lowBit = sixWayMsbLowBit(p, n, b);
  const uint32_t m2 = lowBit < 0 ? 0 : static_cast<uint32_t>((pre >> lowBit) & 3);
  uint64_t t;
  uint32_t logical;
  if (m2 == 3) {
    // The channel's share of logical patterns 6 and 7: the upper bits of t
    // are the value q (0..2) that makes t mod 3 name this channel.
    const uint32_t k = static_cast<uint32_t>(lowBit) - b;
    t = (pre >> b) & lowMask(k);
    const uint64_t q = ((((b + p - 1) & 1) + 1) * (((g >> 1) & 3) + 3 - (t % 3))) % 3;
    t |= q << k;
    logical = 6 + (g & 1);
  } else {
    t = pre >> b;
    logical = g;
  }
  const uint64_t d = (t << (b + n)) | low;
  const uint64_t e0 = ((d >> (b + n)) ^ sixWayTerm0(d, e) ^ logical) & 1;
  const uint64_t e1 = ((uint64_t{sixWayTerm1(d, e)} << 1) ^ logical) & 2;
  const uint64_t e2 = ((uint64_t{sixWayTerm2(d, e)} << 2) ^ logical) & 4;
  return d | ((e0 + e1 + e2) << b);
}

}  // namespace atd
