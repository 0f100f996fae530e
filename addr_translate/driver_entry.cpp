// Placeholder image entry until the driver frame lands.
#include "addr_translate/driver_entry.h"

#include "diag/boot_services_table.h"

namespace atd {

EFI_STATUS ImageEntry(EFI_HANDLE, EFI_SYSTEM_TABLE* systemTable) {
  diag::gST = systemTable;
  diag::gBS = systemTable->BootServices;
  return EFI_UNSUPPORTED;
}

}  // namespace atd
