#include "tools/common/efi_status_names.h"

#include "efi/uefi.h"

namespace tools {

const char* EfiStatusName(uint64_t status) {
  struct Name {
    uint64_t status;
    const char* name;
  };
  static constexpr Name kNames[] = {
      {EFI_SUCCESS, "EFI_SUCCESS"},
      {EFI_LOAD_ERROR, "EFI_LOAD_ERROR"},
      {EFI_INVALID_PARAMETER, "EFI_INVALID_PARAMETER"},
      {EFI_UNSUPPORTED, "EFI_UNSUPPORTED"},
      {EFI_BAD_BUFFER_SIZE, "EFI_BAD_BUFFER_SIZE"},
      {EFI_BUFFER_TOO_SMALL, "EFI_BUFFER_TOO_SMALL"},
      {EFI_NOT_READY, "EFI_NOT_READY"},
      {EFI_DEVICE_ERROR, "EFI_DEVICE_ERROR"},
      {EFI_WRITE_PROTECTED, "EFI_WRITE_PROTECTED"},
      {EFI_OUT_OF_RESOURCES, "EFI_OUT_OF_RESOURCES"},
      {EFI_VOLUME_CORRUPTED, "EFI_VOLUME_CORRUPTED"},
      {EFI_VOLUME_FULL, "EFI_VOLUME_FULL"},
      {EFI_NO_MEDIA, "EFI_NO_MEDIA"},
      {EFI_MEDIA_CHANGED, "EFI_MEDIA_CHANGED"},
      {EFI_NOT_FOUND, "EFI_NOT_FOUND"},
      {EFI_ACCESS_DENIED, "EFI_ACCESS_DENIED"},
      {EFI_PROTOCOL_ERROR, "EFI_PROTOCOL_ERROR"},
  };
  for (const Name& n : kNames)
    if (n.status == status) return n.name;
  return nullptr;
}

}  // namespace tools
