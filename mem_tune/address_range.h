// The one way the SMI handler's checks bound a range of addresses.
#pragma once

#include "efi/uefi.h"

namespace mts {

// The last byte of [address, address + length), a zero length counting as the
// byte at `address`; false when the range runs past the end of the address
// space.
inline bool LastByteOfRange(UINT64 address, UINT64 length, UINT64* last) {
  if (length == 0) length = 1;
  *last = address + (length - 1);
  return *last >= address;
}

}  // namespace mts
