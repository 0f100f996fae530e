// The names of EFI_STATUS codes, as the UEFI specification gives them.
#pragma once

#include <cstdint>
#include <string>

namespace tools {

// "EFI_NOT_FOUND" for 0x800000000000000E; null for a code without a name here.
const char* EfiStatusName(uint64_t status);

// The name, or the code as hex (0x8000000000000020) when it has none here.
std::string EfiStatusText(uint64_t status);

}  // namespace tools
