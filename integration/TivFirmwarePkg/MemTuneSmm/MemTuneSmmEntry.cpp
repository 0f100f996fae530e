// The module entry of MemTuneSmm in the EDK II build: the INF's ENTRY_POINT,
// called by UefiDriverEntryPoint's _ModuleEntryPoint (the PE entry, UEFI
// calling convention) after the library constructors.
#include "mem_tune/driver_entry.h"

// startup/image_version.c: "tivfw version X.Y.Z", which the image carries
// though no code reads it (the link would drop it without the reference below).
extern "C" const char TivImageVersion[];

extern "C" EFI_STATUS EFIAPI MemTuneSmmEntry(EFI_HANDLE imageHandle,
                                             EFI_SYSTEM_TABLE* systemTable) {
  __asm__ __volatile__("" : : "r"(TivImageVersion));
  return mts::ImageEntry(imageHandle, systemTable);
}
