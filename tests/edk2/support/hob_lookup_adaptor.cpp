// Calls diag/edk2/hob_list_edk2.cpp's lookups with MdePkg's types (this file
// is built with TIV_EDK2) for tests that know the GUID only as bytes.
#include "diag/hob_list.h"
#include "tests/edk2/support/edk2_stand_ins.h"

#include <cstring>

extern "C" const void* TivEdk2GuidHob(const uint8_t name[16], const void* after) {
  EFI_GUID guid;
  std::memcpy(&guid, name, sizeof guid);
  if (after == nullptr) return diag::GetFirstGuidHob(guid);
  return diag::GetNextGuidHob(guid, diag::NextHob(after));
}
