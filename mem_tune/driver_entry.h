// Image entry of MemTuneSmm.
#pragma once

#include "efi/uefi.h"

namespace mts {

EFI_STATUS ImageEntry(EFI_HANDLE imageHandle, EFI_SYSTEM_TABLE* systemTable);

}  // namespace mts
