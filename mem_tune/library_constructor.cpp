#include "mem_tune/library_constructor.h"

#include "mem_tune/driver_globals.h"
#include "pi/smm_access2.h"
#include "pi/smm_base2.h"

namespace mts {

namespace {

// The driver is loaded once; every load starts from a clean state.
void ResetDriverState() {
  gST = nullptr;
  gBS = nullptr;
  gSmst = nullptr;
  gSmramRanges = nullptr;
  gSmramRangeCount = 0;
  gEcamBase = 0;
  gEcamSize = 0;
  gEcamReady = FALSE;
  gMailbox = nullptr;
  gSettingsRecord = nullptr;
  gSharedMemoryMapped = FALSE;
  gTokenService = nullptr;
  gSetupWorkingCopy = nullptr;
  gSetupWorkingCopySize = 0;
  gSetupHoldFlag = FALSE;
}

EFI_STATUS LocateSmst() {
  void* iface = nullptr;
  EFI_STATUS status = gBS->LocateProtocol(uefi::GuidArg(kSmmBase2ProtocolGuid), nullptr, &iface);
  if (EFI_ERROR(status)) return status;
  if (iface == nullptr) return EFI_NOT_FOUND;
  auto* base2 = static_cast<EFI_SMM_BASE2_PROTOCOL*>(iface);
  EFI_SMM_SYSTEM_TABLE2* smst = nullptr;
  status = base2->GetSmstLocation(base2, &smst);
  if (EFI_ERROR(status)) return status;
  if (smst == nullptr) return EFI_NOT_FOUND;
  gSmst = smst;
  return EFI_SUCCESS;
}

// The list stays null (count 0) when the map cannot be read completely.
void CollectSmramRanges() {
  void* iface = nullptr;
  if (EFI_ERROR(gBS->LocateProtocol(uefi::GuidArg(kSmmAccess2ProtocolGuid), nullptr, &iface)) ||
      iface == nullptr)
    return;
  auto* access = static_cast<EFI_SMM_ACCESS2_PROTOCOL*>(iface);
  UINTN size = 0;
  access->GetCapabilities(access, &size, nullptr);  // learns the size of the map
  void* list = nullptr;
  if (EFI_ERROR(gSmst->SmmAllocatePool(EfiRuntimeServicesData, size, &list))) list = nullptr;
  if (list == nullptr) return;
  gSmramRanges = static_cast<EFI_SMRAM_DESCRIPTOR*>(list);
  if (EFI_ERROR(access->GetCapabilities(access, &size, gSmramRanges))) {
    gSmramRangeCount = 0;  // the buffer holds no map; trust none of it
    return;
  }
  gSmramRangeCount = size / sizeof(EFI_SMRAM_DESCRIPTOR);
}

}  // namespace

EFI_STATUS RunLibraryConstructors(EFI_SYSTEM_TABLE* systemTable) {
  ResetDriverState();
  gST = systemTable;
  gBS = systemTable->BootServices;
  const EFI_STATUS status = LocateSmst();
  if (EFI_ERROR(status)) return status;
  CollectSmramRanges();
  gEcamBase = kEcamBase;
  gEcamSize = kEcamSize;
  gEcamReady = TRUE;
  return EFI_SUCCESS;
}

void RunLibraryDestructor() {
  if (gSmramRanges == nullptr) return;
  // The list always comes from SmmAllocatePool (it exists only when the SMM
  // system table was found), so it goes back there, whatever the map says.
  void* list = gSmramRanges;
  gSmramRanges = nullptr;
  gSmramRangeCount = 0;
  gSmst->SmmFreePool(list);
}

}  // namespace mts
