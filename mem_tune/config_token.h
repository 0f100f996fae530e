// Configuration-token writes. The platform keeps memory settings in tokens
// named by 32-bit numbers; ConfigTokenService (another SMM component,
// include/config_token_service.h) stores them. The dispatcher names settings by small item numbers,
// which ConfigTokenTable turns into a token number and a width.
#pragma once

#include "config_token_service.h"
#include "efi/uefi.h"

#include <cstddef>
#include <cstdint>

namespace mts {

// The selector argument every write passes.
constexpr UINT8 kConfigTokenSelector = 3;

struct ConfigTokenRow {
  uint32_t item;
  uint32_t token;
  uint32_t width;  // bytes: 1, 2 or 4
};

constexpr uint32_t kConfigTokenEnd = 0xFFFFFFFF;

constexpr ConfigTokenRow kConfigTokenTable[] = {
    {12, 0xE0604CE9, 1}, {13, 0xB2D12C4E, 1},
    {14, 0xB22E12F7, 1}, {15, 0xB3840F07, 1},
    {16, 0xA2D655C8, 1}, {17, 0x03E98A84, 1},
    {22, 0x593292BE, 1}, {34, 0xBBC7849A, 1},
    {35, 0x5B082A2B, 1}, {57, 0xE74CFD9B, 2},
    {36, 0x50B2D463, 1}, {37, 0xFC23535E, 1},
    {38, 0xB36B7473, 1}, {39, 0xDE1D6178, 1},
    {40, 0xEB6A9FE9, 1}, {41, 0x5782D479, 1},
    {42, 0x5C26F15B, 1}, {43, 0x4FC9F17E, 1},
    {44, 0x2BC2CA69, 1}, {45, 0x1A82F1F6, 2},
    {46, 0xC71A49AA, 1}, {47, 0x6A594A63, 1},
    {48, 0x91371469, 1}, {49, 0xA148AB5F, 1},
    {50, 0x86ED48B5, 1}, {51, 0x49714C55, 2},
    {52, 0x6D8E4884, 1}, {53, 0xEF6CF7B3, 2},
    {54, 0xFBB240FD, 1}, {55, 0x4A05C5E2, 2},
    {58, 0x2E199CAA, 1}, {59, 0x6AD7647F, 1},
    {60, 0xA1E46AFC, 1}, {61, 0x4DE9DD1F, 1},
    {62, 0xA95E4B3B, 1}, {63, 0x9E720EC8, 1},
    {64, 0x7636900E, 1}, {65, 0x8FD5A3D2, 1},
    {66, 0x88B9F33B, 1}, {67, 0xBDBA463D, 1},
    {68, 0x9CC11046, 1}, {69, 0xBFFF404B, 1},
    {70, 0xA80353D7, 1}, {71, 0x58BF5D3E, 1},
    {72, 0x5EF92FB0, 1}, {73, 0x6301BD18, 1},
    {74, 0xE033C709, 1}, {75, 0x7915D708, 4},
    {76, 0x0677966C, 1}, {77, 0x68444D72, 1},
    {78, 0xD98B8639, 1}, {79, 0xF4943BAD, 1},
    {80, 0x2D3BB9D8, 1}, {81, 0x264B7625, 1},
    {82, 0x1E974F51, 1}, {83, 0x3B1B99E9, 1},
    {84, 0x37D13B99, 1}, {85, 0xDB047BEB, 1},
    {86, 0xD8ADC426, 1}, {87, 0xF91E8072, 1},
    {88, 0x7BBE9AF1, 1}, {89, 0x1014364F, 1},
    {5, 0xCE0176EF, 1},  {6, 0x2606C42E, 1},
    {27, 0x4CAD640C, 1}, {91, 0xF1823F38, 1},
    {18, 0x6574B2C0, 1}, {kConfigTokenEnd, kConfigTokenEnd, 0},
};
static_assert(sizeof(kConfigTokenTable) / sizeof(kConfigTokenTable[0]) == 68);

// The row of `item`, or null (the end row is never returned).
constexpr const ConfigTokenRow* FindConfigToken(uint32_t item) {
  for (const ConfigTokenRow* r = kConfigTokenTable; r->item != kConfigTokenEnd; ++r)
    if (r->item == item) return r;
  return nullptr;
}

// Writes the token that `item` names with `value` cut to the token's width.
// EFI_NOT_FOUND for an item the table lacks; EFI_NOT_READY, without a call,
// when no token service was found at entry; EFI_SUCCESS without a call for a
// width other than 1, 2 or 4; otherwise the service's status.
EFI_STATUS WriteConfigToken(uint16_t item, uint32_t value);

}  // namespace mts
