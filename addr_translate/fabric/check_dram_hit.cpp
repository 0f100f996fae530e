#include "addr_translate/fabric/check_dram_hit.h"

#include "addr_translate/fabric/fabric_access.h"
#include "diag/diag_print.h"
#include "addr_translate/translation_stops.h"
#include "diag/fatal_stop.h"

namespace atd {

namespace {

using namespace fabric_reg;
using diag::DiagLevelTranslation;
using diag::DiagPrint;

}  // namespace

uint32_t checkDramHit(uint64_t systemAddress) {
  uint64_t a = systemAddress;

  const uint32_t reg208 = readFabricRegister(0, SystemFabricIdMask0::kReg, kBroadcastInstance);
  const FabricIdLayout layout = decodeFabricIdLayout(reg208);

  const uint32_t ccmInstanceId = findCcmInstance();
  DiagPrint(DiagLevelTranslation, "checkDramHit: ccmInstanceId = %d\n", ccmInstanceId);

  HashEnables hash{1, 1, 1};
  if (layout == FabricIdLayout::Extended)
    hash = decodeHashEnables(readFabricRegister(0, HashControl::kReg, kBroadcastInstance));

  // The first valid map that contains the address decides.
  DramAddressMap map{};
  uint32_t baseReg = 0;
  bool found = false;
  for (unsigned m = 0; m < kMapCount && !found; ++m) {
    baseReg = readFabricRegister(0, DramBaseReg(m), ccmInstanceId);
    if (DramBaseAddress::Valid::Get(baseReg) == 0) continue;
    const uint32_t limitReg = readFabricRegister(0, DramLimitReg(m), ccmInstanceId);
    map = decodeDramAddressMap(layout, baseReg, limitReg);
    found = map.dramBaseAddr <= a && a <= map.dramLimitAddr;
  }
  if (!found) return kNoOwner;

  // Where die and socket bits go in a fabric id.
  FabricIdMasks masks{};
  if (layout == FabricIdLayout::Combined) {
    masks = decodeFabricIdMasks(
        readFabricRegister(0, SystemFabricIdMask0::kReg, kBroadcastInstance), 0, 0);
  } else {
    masks = decodeFabricIdMasks(
        reg208, readFabricRegister(0, SystemFabricIdMask1::kReg, kBroadcastInstance), 0);
  }
  masks.hash = hash;

  const uint32_t b = decodeIntLvAddrBit(intLvAddrBitVariant(layout), baseReg);
  const ChannelInterleave ch = checkDramHitChannels(map.chanIntlvCode);

  if (ch.sixChannel) {
    const uint64_t holeBase =
        decodeDramHoleBase(readFabricRegister(0, DramHoleControl::kReg, ccmInstanceId));
    if (map.holeEn) {
      if (a >= 0x100000000ULL) {
        DiagPrint(DiagLevelTranslation,
                  "checkDramHit: DramHoleBase = 0x%016lX, adjust = 0x%016lX\n", holeBase,
                  holeAdjust(holeBase));
        a -= holeAdjust(holeBase);
        DiagPrint(DiagLevelTranslation, "checkDramHit: adjSysAddr = 0x%016lX\n", a);
      } else if (a >= holeBase) {
        DiagPrint(DiagLevelTranslation,
                  "CheckDramHit was given a system address 0x%016lX that was an MMIO address\n", a);
        diag::FatalStop(kStopSixChannelMmio);  // on return: no hole adjustment
      }
    }
    a -= map.dramBaseAddr;
    DiagPrint(DiagLevelTranslation, "adjSysAddr = 0x%016lX\n", a);
  }

  const uint32_t result = selectTarget(a, map, ch, b, masks);
  if (!ch.sixChannel) return result;

  // Six channels: the result is a logical id; the logical channel map of its
  // socket names the physical coherent slave.
  const uint32_t socketBits = result & masks.socketMask;
  const uint32_t comp = result & ~masks.socketMask;
  if (comp >= 8) {
    diag::FatalStop(kStopSixChannelLogicalId);
    return kNoOwner;  // a map has eight entries: there is no owner to name
  }
  const FabricReg mapReg = (socketBits >> masks.socketShift) != 0 ? LogicalChannelMap::kOtherSockets
                                                                  : LogicalChannelMap::kSocket0;
  const uint32_t logicalMap = readFabricRegister(0, mapReg, kBroadcastInstance);
  return ((logicalMap >> (4 * comp)) & 0xF) + socketBits;
}

}  // namespace atd
