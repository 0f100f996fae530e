#include "apps/tiv_tool/core/number_text.h"

#include "efi/uefi.h"

namespace tivtool {

bool ParseNumber(const char* text, uint64_t* value) {
  uint64_t v = 0;
  const bool hex = text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
  const char* p = hex ? text + 2 : text;
  if (*p == '\0') return false;
  for (; *p != '\0'; ++p) {
    const char c = *p;
    int d = -1;
    if (c >= '0' && c <= '9') d = c - '0';
    if (hex && c >= 'a' && c <= 'f') d = c - 'a' + 10;
    if (hex && c >= 'A' && c <= 'F') d = c - 'A' + 10;
    if (d < 0) return false;
    const unsigned base = hex ? 16 : 10;
    if (v > (UINT64_MAX - static_cast<uint64_t>(d)) / base) return false;
    v = v * base + static_cast<uint64_t>(d);
  }
  *value = v;
  return true;
}

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

}  // namespace tivtool
