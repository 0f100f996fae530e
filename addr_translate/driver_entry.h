// Image entry of AddrTranslateDxe: the library constructors in their order,
// then the driver entry, which installs TranslationProtocol.
#pragma once

#include "efi/uefi.h"

namespace atd {

// Constructors, then the driver entry; returns the driver entry's status.
EFI_STATUS ImageEntry(EFI_HANDLE imageHandle, EFI_SYSTEM_TABLE* systemTable);

// The library constructors: keep gST/gBS, look the HOB list up, set the heap
// list up, initialise the diagnostic back-ends. Their results are not used.
void RunConstructors(EFI_HANDLE imageHandle, EFI_SYSTEM_TABLE* systemTable);

// Allocates and fills TranslationProtocol, binds to MP services and
// PlatformTopologyProtocol, and installs the protocol on a new handle.
EFI_STATUS DriverEntry(EFI_HANDLE imageHandle, EFI_SYSTEM_TABLE* systemTable);

}  // namespace atd
