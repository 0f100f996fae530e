// Placeholders until the machine-check snapshot and the ACPI appends land.
#include "addr_translate/errors/error_slots.h"

namespace atd {

EFI_STATUS EFIAPI AppendBertRecord(const VOID*, UINT32, UINT8, UINT8) { return EFI_UNSUPPORTED; }
EFI_STATUS EFIAPI AddHestErrorSource(const VOID*, UINT32, UINT32, UINT64) {
  return EFI_UNSUPPORTED;
}
EFI_STATUS EFIAPI CaptureMcaBanks(McaBankSnapshot*) { return EFI_UNSUPPORTED; }
EFI_STATUS EFIAPI AddHestErrorSources(const VOID*, UINT32, UINT32, UINT64) {
  return EFI_UNSUPPORTED;
}

}  // namespace atd
