// The system table and boot services kept by the first constructor of
// AddrTranslateDxe; read by everything that allocates, locates or installs.
#pragma once

#include "efi/uefi.h"

namespace diag {

extern EFI_SYSTEM_TABLE* gST;
extern EFI_BOOT_SERVICES* gBS;

}  // namespace diag
