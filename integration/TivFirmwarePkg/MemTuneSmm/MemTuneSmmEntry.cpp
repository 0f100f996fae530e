// The module entry of MemTuneSmm in the EDK II build: the INF's ENTRY_POINT,
// called by UefiDriverEntryPoint's _ModuleEntryPoint (the PE entry, UEFI
// calling convention) after the library constructors.
#include "mem_tune/driver_entry.h"

extern "C" EFI_STATUS EFIAPI MemTuneSmmEntry(EFI_HANDLE imageHandle,
                                             EFI_SYSTEM_TABLE* systemTable) {
  return mts::ImageEntry(imageHandle, systemTable);
}
