#include "addr_translate/fabric/calc_norm_addr.h"

#include "addr_translate/fabric/check_dram_hit.h"
#include "addr_translate/fabric/fabric_access.h"
#include "addr_translate/fabric/slave_address_map.h"
#include "diag/diag_print.h"

namespace atd {

namespace {
using namespace fabric_reg;
using diag::DiagLevelTranslation;
using diag::DiagPrint;

constexpr AddressMapMessages kMessages = {nullptr, "calcNormAddr: dramBaseAddr = 0x%016lX\n",
                                          "calcNormAddr: dramLimitAddr = 0x%016lX\n",
                                          "calcNormAddr: holeEn = %d, dramHoleBase = 0x%016lX\n"};
}  // namespace

NormalizedAddress calcNormAddr(uint64_t systemAddress) {
  NormalizedAddress r;
  r.reserved = 0;

  const FabricIdMasks masks = readFabricIdMasks();

  const uint32_t csFabricId = checkDramHit(systemAddress);
  if (csFabricId == kNoOwner) {
    DiagPrint(DiagLevelTranslation,
              "calcNormAddr: checkDramHit return with failure --> system address does not locate "
              "in DRAM, fill normalizedAddr = 0xffffffff_ffffffff and return\n");
    r.normalizedAddr = kInvalidAddress;
    r.socketId = r.dieId = r.channelId = 0;
    return r;
  }
  DiagPrint(DiagLevelTranslation, "calcNormAddr: csFabricId = %08x\n", csFabricId);

  // From here on: the owning slave's own registers, through its node's window.
  const uint32_t node = nodeIdOf(csFabricId, masks);
  const uint32_t instance = instanceIdOf(csFabricId, masks);

  const uint32_t map1Base = readFabricRegister(node, DramBaseReg(1), instance);
  const bool useMap1 =
      DramBaseAddress::Valid::Get(map1Base) != 0 &&
      systemAddress >= decodeDramAddressMap(masks.layout, map1Base, 0).dramBaseAddr;
  // The valid bit and the limit are not tested: checkDramHit placed the address.
  SlaveAddressMap slave;
  readSlaveAddressMap(node, instance, useMap1 ? 1 : 0, masks.layout, kMessages,
                      /*stopIfInvalid=*/false, &slave);
  const DramAddressMap& map = slave.map;
  const uint64_t holeBase = slave.dramHoleBase;

  const uint32_t b = decodeIntLvAddrBit(intLvAddrBitVariant(masks.layout), slave.dramBaseReg);
  const ChannelInterleave ch = calcNormAddrChannels(map.chanIntlvCode);
  const uint32_t n = ch.bits + map.dieIntlvCode + map.socketIntlvBit;

  uint64_t sys = systemAddress;
  if (map.holeEn && sys >= holeBase) {
    DiagPrint(DiagLevelTranslation, "calcNormAddr: dramHoleBase = 0x%016lX, adjust = 0x%016lX\n",
              holeBase, holeAdjust(holeBase));
    sys -= holeAdjust(holeBase);
  }
  const uint64_t a = sys - map.dramBaseAddr;

  uint64_t marker = 0;
  if (ch.sixChannel && sixChannelPattern(a, b, masks.hash) >= 6) {
    // Logical patterns 6 and 7 are spread over the six channels; the
    // SixWayMsb field marks such an address in the channel.
    const uint32_t p =
        NonPow2Size::NonPow2SizeBits::Get(readFabricRegister(node, NonPow2Size::kReg, instance));
    marker = sixWayMarker(p, n, b);
  }
  uint64_t norm = removeInterleaveBits(a, b, n, ch.split, marker);

  if (useMap1)
    norm += decodeHiAddrOffset(masks.layout,
                               readFabricRegister(node, HiAddrOffsetControl::kReg, instance));

  r.normalizedAddr = norm;
  r.socketId = static_cast<uint8_t>(socketIdOf(csFabricId, masks));
  r.dieId = static_cast<uint8_t>(dieIdOf(csFabricId, masks));
  r.channelId = static_cast<uint8_t>(csFabricId & ~(masks.socketMask | masks.dieMask));
  return r;
}

}  // namespace atd
