#include "addr_translate/fabric/calc_sys_addr.h"

#include "addr_translate/fabric/fabric_access.h"
#include "addr_translate/fabric/slave_address_map.h"
#include "diag/diag_print.h"
#include "addr_translate/translation_stops.h"
#include "diag/fatal_stop.h"
#include "normalized_address.h"

namespace atd {

namespace {
using namespace fabric_reg;
using diag::DiagLevelTranslation;
using diag::DiagPrint;

constexpr AddressMapMessages kMessages = {
    "calcSysAddr: dramBaseReg = 0x%08X, dramLimitReg = 0x%08X\n",
    "calcSysAddr: dramBaseAddr = 0x%016lX\n", "calcSysAddr: dramLimitAddr = 0x%016lX\n",
    "calcSysAddr: holeEn = %d, dramHoleBase = 0x%016lX\n"};
}  // namespace

uint64_t calcSysAddr(uint64_t normalizedAddress, uint32_t socket, uint32_t die, uint32_t channel) {
  const FabricIdMasks masks = readFabricIdMasks();

  const uint32_t node = nodeIdFrom(socket, die, masks);
  DiagPrint(DiagLevelTranslation,
            "calcSysAddr: calcSysAddr = 0x%016lX, nodeId = %d, channel = %d\n", normalizedAddress,
            node, channel);

  // The channel number is the slave's instance id on its node.
  const uint32_t csFabricId =
      BlockFabricId::FabricId::Get(readFabricRegister(node, BlockFabricId::kReg, channel));
  DiagPrint(DiagLevelTranslation, "calcSysAddr: csInstanceId = %d, csFabricId = %x\n", channel,
            csFabricId);

  const uint32_t reg1B4 = readFabricRegister(node, HiAddrOffsetControl::kReg, channel);
  uint64_t hiAddrOffset = decodeHiAddrOffset(masks.layout, reg1B4);
  unsigned mapRegNumber = 0;
  if (HiAddrOffsetControl::Enable::Get(reg1B4) != 0 && normalizedAddress >= hiAddrOffset)
    mapRegNumber = 1;
  else
    hiAddrOffset = 0;
  DiagPrint(DiagLevelTranslation, "calcSysAddr: mapRegNumber = %d, hiAddrOffset = 0x%016lX\n",
            mapRegNumber, hiAddrOffset);

  SlaveAddressMap slave;
  if (!readSlaveAddressMap(node, channel, mapRegNumber, masks.layout, kMessages,
                           /*stopIfInvalid=*/true, &slave))
    return kInvalidAddress;  // no message of its own
  const DramAddressMap& map = slave.map;
  const uint64_t holeBase = slave.dramHoleBase;
  const uint32_t baseReg = slave.dramBaseReg;

  const ChannelInterleave ch = calcSysAddrChannels(map.chanIntlvCode);
  if (ch.sixChannel && masks.layout == FabricIdLayout::Combined)
    diag::FatalStop(kStopSixChannelCombined);  // on return: handled as six channels
  const uint32_t b = decodeIntLvAddrBit(intLvAddrBitVariant(masks.layout), baseReg);
  const uint32_t numDie = numDieInterleaved(map.dieIntlvCode);
  const uint32_t numSockets = numSocketsInterleaved(map.socketIntlvBit);
  const uint32_t n = ch.bits + map.dieIntlvCode + map.socketIntlvBit;
  DiagPrint(DiagLevelTranslation,
            "calcSysAddr: intLvAddrBit = %d, numSocketsInterleaved = %d, numDieInterleaved = %d, "
            "numChanInterleaved = %d, numInterleaveBits = %d, hashEnabled = %d\n",
            b, numSockets, numDie, ch.channels, n, ch.hashed ? 1 : 0);

  const uint64_t preNormAddr = normalizedAddress - hiAddrOffset;
  DiagPrint(DiagLevelTranslation, "calcSysAddr: preNormAddr = 0x%016lX\n", preNormAddr);

  uint64_t s;
  if (n != 0 && !ch.sixChannel) {
    const uint32_t firstDieIdBit = log2Count(ch.channels);
    const uint32_t firstSocketIdBit = firstDieIdBit + log2Count(numDie);
    DiagPrint(DiagLevelTranslation,
              "calcSysAddr: numDieInterleaved = %d, numChanInterleaved = %d, csId = 0x%x, "
              "firstSocketIdBit = %d, firstDieIdBit = %d\n",
              numDie, ch.channels,
              formCsId(csFabricId, map.dstFabricId, ch.channels, numDie, numSockets, masks),
              firstSocketIdBit, firstDieIdBit);
    // Only the interleave field's bits of csId reach the address.
    const uint32_t csId =
        computeCsId(csFabricId, map.dstFabricId, ch.channels, numDie, numSockets, n, masks);

    s = spreadAddress(preNormAddr, b, n, ch.split) + map.dramBaseAddr;
    if (map.holeEn && s >= holeBase) {
      DiagPrint(DiagLevelTranslation, "dramHoleBase = 0x%016lX, adjust = 0x%016lX\n", holeBase,
                holeAdjust(holeBase));
      s += holeAdjust(holeBase);
    }
    if (ch.hashed)
      s = insertHashBits(s, b, map.chanIntlvCode, csId, masks.hash);
    else
      s |= uint64_t{static_cast<uint32_t>(csId << b)};
    DiagPrint(DiagLevelTranslation, "calcSysAddr: deIntLvAddr = 0x%016lX\n", s);
  } else {
    uint64_t deIntLvAddr = preNormAddr;
    if (ch.sixChannel) {
      const uint32_t p =
          NonPow2Size::NonPow2SizeBits::Get(readFabricRegister(node, NonPow2Size::kReg, channel));
      if (channel >= 8) diag::FatalStop(kStopSixChannelChannel);
      const FabricReg mapReg =
          socket != 0 ? LogicalChannelMap::kOtherSockets : LogicalChannelMap::kSocket0;
      const uint32_t g = logicalIndexOf(readFabricRegister(0, mapReg, kBroadcastInstance), channel);
      deIntLvAddr = sixChannelDeinterleave(preNormAddr, b, n, p, g, masks.hash);
    }
    DiagPrint(DiagLevelTranslation, "calcSysAddr: deIntLvAddr = 0x%016lX\n", deIntLvAddr);
    s = deIntLvAddr + map.dramBaseAddr;
    if (map.holeEn && s >= holeBase) {
      DiagPrint(DiagLevelTranslation, "calcSysAddr: dramHoleBase = 0x%016lX, adjust = 0x%016lX\n",
                holeBase, holeAdjust(holeBase));
      s += holeAdjust(holeBase);
    }
  }

  return s > map.dramLimitAddr ? kInvalidAddress : s;
}

}  // namespace atd
