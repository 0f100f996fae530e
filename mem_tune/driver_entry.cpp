// Placeholder image entry until the SMM service lands.
#include "mem_tune/driver_entry.h"

namespace mts {

EFI_STATUS ImageEntry(EFI_HANDLE, EFI_SYSTEM_TABLE*) { return EFI_UNSUPPORTED; }

}  // namespace mts
