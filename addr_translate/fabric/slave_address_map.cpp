#include "addr_translate/fabric/slave_address_map.h"

#include "addr_translate/fabric/fabric_access.h"
#include "diag/diag_print.h"

namespace atd {

bool readSlaveAddressMap(uint32_t node, uint32_t instance, unsigned mapNumber,
                         FabricIdLayout layout, const AddressMapMessages& messages,
                         bool stopIfInvalid, SlaveAddressMap* out) {
  using namespace fabric_reg;
  using diag::DiagLevelTranslation;
  using diag::DiagPrint;

  out->dramBaseReg = readFabricRegister(node, DramBaseReg(mapNumber), instance);
  out->dramLimitReg = readFabricRegister(node, DramLimitReg(mapNumber), instance);
  if (messages.registers != nullptr)
    DiagPrint(DiagLevelTranslation, messages.registers, out->dramBaseReg, out->dramLimitReg);
  out->map = decodeDramAddressMap(layout, out->dramBaseReg, out->dramLimitReg);
  if (stopIfInvalid && !out->map.valid) return false;

  DiagPrint(DiagLevelTranslation, messages.base, out->map.dramBaseAddr);
  DiagPrint(DiagLevelTranslation, messages.limit, out->map.dramLimitAddr);
  out->dramHoleBase = decodeDramHoleBase(readFabricRegister(node, DramHoleControl::kReg, instance));
  DiagPrint(DiagLevelTranslation, messages.hole, out->map.holeEn ? 1 : 0, out->dramHoleBase);
  return true;
}

}  // namespace atd
