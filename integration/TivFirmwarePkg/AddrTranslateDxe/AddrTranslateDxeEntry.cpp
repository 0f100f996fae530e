// The module entry of AddrTranslateDxe in the EDK II build: the INF's
// ENTRY_POINT, called by UefiDriverEntryPoint's _ModuleEntryPoint (the PE
// entry, UEFI calling convention) after the library constructors.
#include "addr_translate/driver_entry.h"

extern "C" EFI_STATUS EFIAPI AddrTranslateDxeEntry(EFI_HANDLE imageHandle,
                                                   EFI_SYSTEM_TABLE* systemTable) {
  return atd::ImageEntry(imageHandle, systemTable);
}
