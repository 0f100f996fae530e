#include "diag/boot_services_table.h"

namespace diag {

EFI_SYSTEM_TABLE* gST = nullptr;
EFI_BOOT_SERVICES* gBS = nullptr;

}  // namespace diag
