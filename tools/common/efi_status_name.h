// The names of EFI_STATUS codes, as the UEFI specification gives them.
#pragma once

#include "tools/common/efi_status_names.h"

#include <cstdint>
#include <string>

namespace tools {

// The name, or the code as hex (0x8000000000000020) when it has none here.
std::string EfiStatusText(uint64_t status);

}  // namespace tools
