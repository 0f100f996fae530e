// The EDK II instance of the HOB-list lookups (diag/hob_list.h) over MdePkg's
// HobLib: its constructor (DxeHobLib) found the list in the system
// configuration table before the driver's entry, and its GetNextGuidHob walks
// the list. The host build links diag/hob_list.cpp instead, which does the
// same walk over the simulator's list (and also stops at a HOB shorter than
// its header, which only a test builds: HobLib trusts the list the earlier
// boot phase wrote).
#include "diag/hob_list.h"

extern "C" {
#include <Library/HobLib.h>
}

namespace diag {

EFI_STATUS HobListConstructor() {
  return ::GetHobList() != nullptr ? EFI_SUCCESS : EFI_NOT_FOUND;
}

const void* GetHobList() {
  return ::GetHobList();
}

const EFI_HOB_GUID_TYPE* GetNextGuidHob(const EFI_GUID& name, const void* start) {
  if (start == nullptr) return nullptr;
  return static_cast<const EFI_HOB_GUID_TYPE*>(::GetNextGuidHob(&name, start));
}

const EFI_HOB_GUID_TYPE* GetFirstGuidHob(const EFI_GUID& name) {
  if (::GetHobList() == nullptr) return nullptr;
  return static_cast<const EFI_HOB_GUID_TYPE*>(::GetFirstGuidHob(&name));
}

void ResetHobListCache() {}

}  // namespace diag
