// The two translation operations of TranslationProtocol (slots 1 and 2): they
// chain the fabric and DRAM translations and turn the results into a status.
#pragma once

#include "translation_protocol.h"

namespace atd {

// Slot 1: DRAM coordinates first (always written), then the system address
// (always stored). EFI_INVALID_PARAMETER when the system address is all ones
// or a pointer argument is null.
EFI_STATUS EFIAPI NormalizedToSystem(const NormalizedAddress* In, UINT64* SystemAddress,
                                     DramAddress* Dram);

// Slot 2: the normalized record into *Out (its last four bytes keep the
// caller's values, calcNormAddr leaves them unwritten); the DRAM coordinates
// only when the address is DRAM. EFI_INVALID_PARAMETER when the normalized
// address is all ones (Dram untouched) or a pointer argument is null.
EFI_STATUS EFIAPI SystemToNormalized(const UINT64* SystemAddress, NormalizedAddress* Out,
                                     DramAddress* Dram);

}  // namespace atd
