#include "diag/hob_list.h"

#include "diag/boot_services_table.h"

namespace diag {

namespace {

const void* gHobList = nullptr;
bool gHobListLookedUp = false;

const void* FindHobListInConfigurationTable() {
  if (gST == nullptr || gST->ConfigurationTable == nullptr) return nullptr;
  for (UINTN i = 0; i < gST->NumberOfTableEntries; ++i) {
    const EFI_CONFIGURATION_TABLE& entry = gST->ConfigurationTable[i];
    if (uefi::SameGuid(entry.VendorGuid, kHobListGuid)) return entry.VendorTable;
  }
  return nullptr;
}

}  // namespace

EFI_STATUS HobListConstructor() {
  gHobList = FindHobListInConfigurationTable();
  gHobListLookedUp = true;
  return gHobList != nullptr ? EFI_SUCCESS : EFI_NOT_FOUND;
}

const void* GetHobList() {
  if (!gHobListLookedUp) HobListConstructor();
  return gHobList;
}

const EFI_HOB_GUID_TYPE* GetNextGuidHob(const EFI_GUID& name, const void* start) {
  for (const void* hob = start; hob != nullptr; hob = NextHob(hob)) {
    const auto* h = static_cast<const EFI_HOB_GENERIC_HEADER*>(hob);
    if (h->HobType == kHobTypeEndOfHobList) return nullptr;
    // A length shorter than a header would never move on: treat it as the end.
    if (h->HobLength < sizeof(EFI_HOB_GENERIC_HEADER)) return nullptr;
    if (h->HobType == kHobTypeGuidExtension && h->HobLength >= sizeof(EFI_HOB_GUID_TYPE)) {
      const auto* g = static_cast<const EFI_HOB_GUID_TYPE*>(hob);
      if (uefi::SameGuid(g->Name, name)) return g;
    }
  }
  return nullptr;
}

const EFI_HOB_GUID_TYPE* GetFirstGuidHob(const EFI_GUID& name) {
  return GetNextGuidHob(name, GetHobList());
}

void ResetHobListCache() {
  gHobList = nullptr;
  gHobListLookedUp = false;
}

}  // namespace diag
