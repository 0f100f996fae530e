#include "tools/common/efi_status_name.h"

#include "efi/uefi.h"
#include "tools/common/hex_text.h"

namespace tools {

std::string EfiStatusText(uint64_t status) {
  const char* name = EfiStatusName(status);
  return name ? name : Hex(status);
}

}  // namespace tools
