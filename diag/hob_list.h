// The HOB list handed over by the earlier boot phase, found once in the
// system configuration table and cached, and the walk over its
// GUID-extension HOBs.
#pragma once

#include "efi/uefi.h"
#include "pi/hob.h"

namespace diag {

// Library constructor: looks the HOB list up in gST's configuration table and
// caches it. EFI_NOT_FOUND (and an empty list from then on) when the table has
// no HOB-list entry.
EFI_STATUS HobListConstructor();

// The cached list (looked up on first use if the constructor has not run);
// null when there is none.
const void* GetHobList();

// The first GUID-extension HOB named `name` at or after `start`, or null at
// the end of the list.
const EFI_HOB_GUID_TYPE* GetNextGuidHob(const EFI_GUID& name, const void* start);
// The first GUID-extension HOB named `name` in the list, or null.
const EFI_HOB_GUID_TYPE* GetFirstGuidHob(const EFI_GUID& name);

// The HOB after `hob` in the list.
inline const void* NextHob(const void* hob) {
  const auto* h = static_cast<const EFI_HOB_GENERIC_HEADER*>(hob);
  return static_cast<const uint8_t*>(hob) + h->HobLength;
}

// Forgets the cached list (tests start every simulated boot afresh).
void ResetHobListCache();

}  // namespace diag
