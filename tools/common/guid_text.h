// GUIDs as people write them: registry format, upper case
// (3FDDA605-A76E-4F46-AD29-12F4531B3D08), from the 16 bytes of the EFI_GUID
// layout (the first three fields little-endian, then eight bytes).
#pragma once

#include <cstdint>
#include <string>

namespace tools {

std::string GuidText(const uint8_t* bytes);

}  // namespace tools
