// efi_main of the AddrTranslateDxe image. gnu-efi's start-up code converts the
// firmware's calling convention and calls this with the System V convention,
// so it is deliberately not EFIAPI.
#include "addr_translate/driver_entry.h"

extern "C" EFI_STATUS efi_main(EFI_HANDLE imageHandle, EFI_SYSTEM_TABLE* systemTable) {
  return atd::ImageEntry(imageHandle, systemTable);
}
