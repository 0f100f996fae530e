// Image entry of AddrTranslateDxe: the library constructors in their order,
// then the driver entry, which installs TranslationProtocol.
#pragma once

#include "efi/uefi.h"

namespace atd {

EFI_STATUS ImageEntry(EFI_HANDLE imageHandle, EFI_SYSTEM_TABLE* systemTable);

}  // namespace atd
