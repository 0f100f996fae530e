// efi_main of the MemTuneSmm image; not EFIAPI (gnu-efi's start-up code
// converts the calling convention).
#include "mem_tune/driver_entry.h"

extern "C" EFI_STATUS efi_main(EFI_HANDLE imageHandle, EFI_SYSTEM_TABLE* systemTable) {
  return mts::ImageEntry(imageHandle, systemTable);
}
