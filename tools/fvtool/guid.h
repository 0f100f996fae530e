// GUIDs as firmware stores them (the EFI_GUID layout: the first three fields
// little-endian, then eight bytes) and as people write them (registry format,
// 3FDDA605-A76E-4F46-AD29-12F4531B3D08, or the C initialiser of a DEC file).
#pragma once

#include "tools/fvtool/bytes.h"

#include <array>
#include <compare>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace fvtool {

struct Guid {
  std::array<uint8_t, 16> bytes{};

  static Guid At(ByteView buf, std::size_t offset);
  static Guid FromFields(uint32_t d1, uint16_t d2, uint16_t d3, std::array<uint8_t, 8> d4);
  // Registry format, upper case.
  std::string Text() const;

  friend auto operator<=>(const Guid&, const Guid&) = default;
};

// "3FDDA605-A76E-4F46-AD29-12F4531B3D08" (either case).
std::optional<Guid> ParseRegistryGuid(std::string_view text);
// "{0x3fdda605, 0xa76e, 0x4f46, {0xad, 0x29, 0x12, 0xf4, 0x53, 0x1b, 0x3d, 0x08}}".
std::optional<Guid> ParseCGuid(std::string_view text);

}  // namespace fvtool
