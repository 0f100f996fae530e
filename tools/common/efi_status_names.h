// The names of EFI_STATUS codes, as the UEFI specification gives them.
// Freestanding: the shell tool's image compiles efi_status_names.cpp too.
#pragma once

#include <stdint.h>

namespace tools {

// "EFI_NOT_FOUND" for 0x800000000000000E; null for a code without a name here.
const char* EfiStatusName(uint64_t status);

}  // namespace tools
