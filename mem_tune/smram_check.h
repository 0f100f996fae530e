// Whether memory named by an address that code outside SMM can influence
// reaches into SMRAM. The SMI handler refuses to touch such memory: writing
// there would let a caller corrupt SMM, reading there would leak it.
#pragma once

#include "efi/uefi.h"

namespace mts {

// True when [address, address + length) (a zero length: the byte at
// `address`) overlaps a collected SMRAM range, or wraps around the address
// space, or when the SMRAM map is unknown (then no outside address can be
// vouched for).
bool OverlapsSmram(UINT64 address, UINT64 length);

}  // namespace mts
