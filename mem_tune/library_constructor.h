// The library constructors and destructor that run around MemTuneSmm's
// driver entry: SMM system table, SMRAM map, PCI Express window.
#pragma once

#include "efi/uefi.h"

namespace mts {

constexpr UINT64 kEcamBase = 0xE0000000ULL;
constexpr UINT64 kEcamSize = 0x10000000ULL;

// Resets the driver state, then keeps the tables, finds the SMM system table,
// reads the SMRAM map and sets up the PCI Express window. An error only when
// there is no SMM system table (nothing else could work without it).
EFI_STATUS RunLibraryConstructors(EFI_SYSTEM_TABLE* systemTable);

// Frees the SMRAM range list through SmmFreePool, where it came from.
void RunLibraryDestructor();

}  // namespace mts
