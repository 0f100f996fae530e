/* What MdePkg's DxeHobLib (built here from its own source) takes from other
 * library classes: the HOB-list GUID (AutoGen.c in a module build),
 * UefiLib's EfiGetSystemConfigurationTable, which finds the list in
 * gTivHobListBuffer, and BaseMemoryLib's CompareGuid. */
#include <Uefi.h>

#include <Guid/HobList.h>
#include <Library/BaseMemoryLib.h>
#include <Library/UefiLib.h>

#include "tests/edk2/support/edk2_stand_ins.h"

EFI_GUID gEfiHobListGuid = HOB_LIST_GUID;
uint64_t gTivHobListBuffer[kTivHobListWords];

EFI_STATUS EFIAPI EfiGetSystemConfigurationTable(EFI_GUID* TableGuid, VOID** Table) {
  if (!CompareGuid(TableGuid, &gEfiHobListGuid)) return EFI_NOT_FOUND;
  *Table = gTivHobListBuffer;
  return EFI_SUCCESS;
}

BOOLEAN EFIAPI CompareGuid(CONST GUID* Guid1, CONST GUID* Guid2) {
  const UINT8* a = (const UINT8*)Guid1;
  const UINT8* b = (const UINT8*)Guid2;
  for (UINTN i = 0; i < sizeof(GUID); ++i) {
    if (a[i] != b[i]) return FALSE;
  }
  return TRUE;
}
