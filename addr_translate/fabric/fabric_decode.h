// Pure decoding of the data-fabric address map: register values in, decoded
// description out, plus the interleave arithmetic the three translations
// share. Nothing here touches hardware.
#pragma once

#include "registers/fabric_id_masks.h"

#include <cstdint>

namespace atd {

// The decoded base/limit register pair of one DRAM address map.
struct DramAddressMap {
  bool valid;
  bool holeEn;
  uint8_t chanIntlvCode;   // 4 bits
  uint8_t dieIntlvCode;    // 2 bits
  uint8_t socketIntlvBit;  // 1 bit
  uint8_t intLvAddrSel;    // 3 bits
  uint32_t dstFabricId;
  uint64_t dramBaseAddr;
  uint64_t dramLimitAddr;  // last byte, inclusive
};

// One row of an operation's channel-code table.
struct ChannelInterleave {
  uint8_t channels;  // numChanInterleaved
  uint8_t bits;      // channel bits of the interleave field
  bool hashed;       // codes 12, 13, 14
  bool split;        // codes 13, 14: one bit at intLvAddrBit, the rest from bit 12
  bool sixChannel;   // code 6
};

// Layout select of F1x208 bits 7:0.
FabricIdLayout decodeFabricIdLayout(uint32_t reg208);

// The fabric-id description. reg20C and reg3F8 are used only in the Extended
// layout.
FabricIdMasks decodeFabricIdMasks(uint32_t reg208, uint32_t reg20C, uint32_t reg3F8);
HashEnables decodeHashEnables(uint32_t reg3F8);

// Interleave start bit from a DRAM base register; variant 2 = Combined
// layout (bits 10:8), 3 = Extended (bits 11:9). Reserved selects give 1.
uint8_t decodeIntLvAddrBit(uint8_t variant, uint32_t dramBaseReg);
inline uint8_t intLvAddrBitVariant(FabricIdLayout l) {
  return l == FabricIdLayout::Extended ? 3 : 2;
}

DramAddressMap decodeDramAddressMap(FabricIdLayout layout, uint32_t dramBaseReg,
                                    uint32_t dramLimitReg);

uint32_t numDieInterleaved(uint8_t dieIntlvCode);  // 0->1, 1->2, 2->4, 3->1
inline uint32_t numSocketsInterleaved(uint8_t socketIntlvBit) {
  return socketIntlvBit + 1u;
}

// The three operations' own readings of chanIntlvCode.
ChannelInterleave checkDramHitChannels(uint8_t chanIntlvCode);
ChannelInterleave calcNormAddrChannels(uint8_t chanIntlvCode);
ChannelInterleave calcSysAddrChannels(uint8_t chanIntlvCode);

// Fabric id <-> node, socket, die, instance.
uint32_t nodeIdOf(uint32_t fabricId, const FabricIdMasks& m);
uint32_t socketIdOf(uint32_t fabricId, const FabricIdMasks& m);
uint32_t dieIdOf(uint32_t fabricId, const FabricIdMasks& m);
uint8_t instanceIdOf(uint32_t fabricId, const FabricIdMasks& m);
uint32_t nodeIdFrom(uint32_t socket, uint32_t die, const FabricIdMasks& m);

// dramHoleBase from F0x104, and what addresses at or above it are lowered by.
uint64_t decodeDramHoleBase(uint32_t reg104);
inline uint64_t holeAdjust(uint64_t dramHoleBase) {
  return 0x100000000ULL - dramHoleBase;
}

// hiAddrOffset from F0x1B4 (the enable bit is not part of it).
uint64_t decodeHiAddrOffset(FabricIdLayout layout, uint32_t reg1B4);

// Hash terms: one bit each.
uint32_t hashTerm12(uint64_t a, const HashEnables& e);
uint32_t hashTerm13(uint64_t a, const HashEnables& e);
uint32_t hashTerm14(uint64_t a, const HashEnables& e);
uint32_t sixWayTerm0(uint64_t a, const HashEnables& e);
uint32_t sixWayTerm1(uint64_t a, const HashEnables& e);
uint32_t sixWayTerm2(uint64_t a, const HashEnables& e);

// ---- checkDramHit arithmetic ------------------------------------------------

// Logical six-channel index 0..7 of address `a` (base and hole removed):
// the raw pattern of the three hashed channel bits from bit b.
uint32_t sixChannelPattern(uint64_t a, uint32_t b, const HashEnables& e);

// The fabric's target selection for address `a` in `map`: dstFabricId plus
// the channel offset, with the die and socket bits ORed in. For a six-channel
// map the result is the logical id (logical index plus socket bits) that the
// logical channel map still has to resolve.
uint32_t selectTarget(uint64_t a, const DramAddressMap& map, const ChannelInterleave& ch,
                      uint32_t intLvAddrBit, const FabricIdMasks& m);

// ---- calcNormAddr arithmetic ------------------------------------------------

// The two-bit SixWayMsb marker 3 << (p - n + 14) at every position from 0 to
// 63 (at 63 only its low bit remains), 0 where the shift count would be
// negative or 64 or more. The start bit b does not limit it.
uint64_t sixWayMarker(uint32_t nonPow2SizeBits, uint32_t n, uint32_t b);
// Low bit of the SixWayMsb field that the way back reads, or -1 when the
// field does not lie between the start bit and bit 63 (its arithmetic needs
// the field above the start bit).
int32_t sixWayMsbLowBit(uint32_t nonPow2SizeBits, uint32_t n, uint32_t b);

// Address `a` (base and hole removed) with its n interleave bits from b
// dropped; `split` for codes 13 and 14, `marker` ORed in (six-channel).
uint64_t removeInterleaveBits(uint64_t a, uint32_t b, uint32_t n, bool split, uint64_t marker);

// ---- calcSysAddr arithmetic -------------------------------------------------

// csId as calcSysAddr forms and reports it, in 32 bits: the channel-bit
// difference (which wraps when the channel's bits are below the map's first
// channel's), ORed with the die and socket ids above the channel bits.
uint32_t formCsId(uint32_t csFabricId, uint32_t dstFabricId, uint32_t numChan, uint32_t numDie,
                  uint32_t numSockets, const FabricIdMasks& m);
// The part of csId that goes into the address: the position of the channel
// within the interleave, channel part first (the difference cut to the channel
// bits), then die and socket ids; only the n bits of the interleave field.
uint32_t computeCsId(uint32_t csFabricId, uint32_t dstFabricId, uint32_t numChan, uint32_t numDie,
                     uint32_t numSockets, uint32_t numInterleaveBits, const FabricIdMasks& m);
uint32_t log2Count(uint32_t count);  // 1->0, 2->1, 4->2, 8->3

// Opens the n-bit interleave gap (zeros) in a normalized address.
uint64_t spreadAddress(uint64_t preNormAddr, uint32_t b, uint32_t n, bool split);

// Fills the hashed channel bits of system address s (codes 12, 13, 14).
uint64_t insertHashBits(uint64_t s, uint32_t b, uint8_t chanIntlvCode, uint32_t csId,
                        const HashEnables& e);

// Logical six-channel index of a physical channel: first matching nibble of
// the logical channel map, 8 when none matches.
uint32_t logicalIndexOf(uint32_t logicalChannelMap, uint32_t channel);

// Six-channel re-insertion: deIntLvAddr (before base and hole) from the
// normalized address, nonPow2SizeBits p and logical index g.
uint64_t sixChannelDeinterleave(uint64_t preNormAddr, uint32_t b, uint32_t n, uint32_t p,
                                uint32_t g, const HashEnables& e);

}  // namespace atd
