#include "addr_translate/translation_slots.h"

#include "addr_translate/dram/translate_norm_to_dram_addr.h"
#include "addr_translate/fabric/calc_norm_addr.h"
#include "addr_translate/fabric/calc_sys_addr.h"

namespace atd {

EFI_STATUS EFIAPI NormalizedToSystem(const NormalizedAddress* In, UINT64* SystemAddress,
                                     DramAddress* Dram) {
  // Callers outside the driver hand these in; a null one is refused rather
  // than written through.
  if (In == nullptr || SystemAddress == nullptr || Dram == nullptr) return EFI_INVALID_PARAMETER;

  translate_norm_to_dram_addr(In->normalizedAddr, In->socketId, In->dieId, In->channelId, Dram);
  const uint64_t system = calcSysAddr(In->normalizedAddr, In->socketId, In->dieId, In->channelId);
  *SystemAddress = system;
  return system == kInvalidAddress ? EFI_INVALID_PARAMETER : EFI_SUCCESS;
}

EFI_STATUS EFIAPI SystemToNormalized(const UINT64* SystemAddress, NormalizedAddress* Out,
                                     DramAddress* Dram) {
  if (SystemAddress == nullptr || Out == nullptr || Dram == nullptr) return EFI_INVALID_PARAMETER;

  // calcNormAddr never writes the last four bytes of its record; copying them
  // would hand the caller whatever its stack held. The caller's bytes stay.
  const NormalizedAddress n = calcNormAddr(*SystemAddress);
  Out->normalizedAddr = n.normalizedAddr;
  Out->socketId = n.socketId;
  Out->dieId = n.dieId;
  Out->channelId = n.channelId;
  Out->reserved = n.reserved;
  if (Out->normalizedAddr == kInvalidAddress) return EFI_INVALID_PARAMETER;

  translate_norm_to_dram_addr(Out->normalizedAddr, Out->socketId, Out->dieId, Out->channelId, Dram);
  return EFI_SUCCESS;
}

}  // namespace atd
