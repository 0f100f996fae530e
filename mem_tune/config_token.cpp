#include "mem_tune/config_token.h"

#include "mem_tune/driver_globals.h"

namespace mts {

EFI_STATUS WriteConfigToken(uint16_t item, uint32_t value) {
  const ConfigTokenRow* row = FindConfigToken(item);
  if (row == nullptr) return EFI_NOT_FOUND;
  // No service at entry: the write cannot be made, and the caller learns so.
  if (gTokenService == nullptr) return EFI_NOT_READY;
  switch (row->width) {
    case 1:
      return gTokenService->Write8(gTokenService, kConfigTokenSelector, row->token,
                                   static_cast<UINT8>(value & 0xFF));
    case 2:
      return gTokenService->Write16(gTokenService, kConfigTokenSelector, row->token,
                                    static_cast<UINT16>(value & 0xFFFF));
    case 4:
      return gTokenService->Write32(gTokenService, kConfigTokenSelector, row->token, value);
    default:
      return EFI_SUCCESS;
  }
}

}  // namespace mts
