// The module entry of AddrTranslateDxe in the EDK II build: the INF's
// ENTRY_POINT, called by UefiDriverEntryPoint's _ModuleEntryPoint (the PE
// entry, UEFI calling convention) after the library constructors.
#include "addr_translate/driver_entry.h"

// startup/image_version.c: "tivfw version X.Y.Z", which the image carries
// though no code reads it (the link would drop it without the reference below).
extern "C" const char TivImageVersion[];

extern "C" EFI_STATUS EFIAPI AddrTranslateDxeEntry(EFI_HANDLE imageHandle,
                                                   EFI_SYSTEM_TABLE* systemTable) {
  __asm__ __volatile__("" : : "r"(TivImageVersion));
  return atd::ImageEntry(imageHandle, systemTable);
}
