// ConfigTokenService: published in the SMM protocol database by another SMM
// component; it stores the platform's configuration tokens, named by 32-bit
// numbers. MemTuneSmm uses its three write operations.
#pragma once

#include "efi/uefi.h"

#include <cstddef>
#include <cstdint>

namespace mts {

constexpr EFI_GUID kConfigTokenServiceGuid = {
    0x8151730C, 0xE1D3, 0x4C8C, {0x91, 0x7B, 0xA3, 0x9B, 0x7E, 0xD4, 0x82, 0x65}};

struct ConfigTokenService;

typedef EFI_STATUS(EFIAPI* CONFIG_TOKEN_WRITE8)(ConfigTokenService* This, UINT8 Selector,
                                                UINT32 Token, UINT8 Value);
typedef EFI_STATUS(EFIAPI* CONFIG_TOKEN_WRITE16)(ConfigTokenService* This, UINT8 Selector,
                                                 UINT32 Token, UINT16 Value);
typedef EFI_STATUS(EFIAPI* CONFIG_TOKEN_WRITE32)(ConfigTokenService* This, UINT8 Selector,
                                                 UINT32 Token, UINT32 Value);

// Only the three write operations are used; the other slots belong to the
// service.
struct ConfigTokenService {
  uint8_t OtherOperations[0x88];
  CONFIG_TOKEN_WRITE8 Write8;
  uint8_t OtherOperations90[8];
  CONFIG_TOKEN_WRITE16 Write16;
  uint8_t OtherOperationsA0[8];
  CONFIG_TOKEN_WRITE32 Write32;
};
static_assert(offsetof(ConfigTokenService, Write8) == 0x88);
static_assert(offsetof(ConfigTokenService, Write16) == 0x98);
static_assert(offsetof(ConfigTokenService, Write32) == 0xA8);

}  // namespace mts
