#include "addr_translate/driver_entry.h"

#include "addr_translate/driver_globals.h"
#include "addr_translate/errors/error_slots.h"
#include "addr_translate/translation_slots.h"
#include "diag/boot_services_table.h"
#include "diag/diag_print.h"
#include "diag/heap_records.h"
#include "diag/hob_list.h"
#include "translation_protocol.h"

namespace atd {

void RunConstructors(EFI_HANDLE, EFI_SYSTEM_TABLE* systemTable) {
  diag::gST = systemTable;
  diag::gBS = systemTable->BootServices;
  diag::HobListConstructor();
  diag::HeapListConstructor();
  diag::DiagInitializeBackends();
}

EFI_STATUS DriverEntry(EFI_HANDLE, EFI_SYSTEM_TABLE*) {
  EFI_BOOT_SERVICES* bs = diag::gBS;

  void* memory = nullptr;
  EFI_STATUS status = bs->AllocatePool(EfiBootServicesData, sizeof(TranslationProtocol), &memory);
  if (status != EFI_SUCCESS) return status;
  auto* record = static_cast<TranslationProtocol*>(memory);
  // A step that fails leaves the record unreachable: nothing was installed
  // with it, and the failed image is not started again.
  const auto fail = [bs, record](EFI_STATUS why) {
    bs->FreePool(record);
    return why;
  };

  if (gMpServices == nullptr) {
    void* mp = nullptr;
    status = bs->LocateProtocol(uefi::GuidArg(kMpServicesProtocolGuid), nullptr, &mp);
    if (status != EFI_SUCCESS) return fail(status);
    // A producer that installed a null interface has no services to offer.
    if (mp == nullptr) return fail(EFI_NOT_FOUND);
    gMpServices = static_cast<EFI_MP_SERVICES_PROTOCOL*>(mp);
  }

  void* topology = nullptr;
  status = bs->LocateProtocol(uefi::GuidArg(gPlatformTopologyProtocolGuid), nullptr, &topology);
  if (status != EFI_SUCCESS) return fail(status);
  if (topology == nullptr) return fail(EFI_NOT_FOUND);
  gPlatformTopology = static_cast<const PlatformTopologyProtocol*>(topology);
  gChannelConfigTable = static_cast<ChannelConfigTable*>(gPlatformTopology->channelConfigTable);

  // Only asked so that MP services have counted the processors; the answer
  // is not needed here.
  UINTN processors = 0;
  UINTN enabled = 0;
  gMpServices->GetNumberOfProcessors(gMpServices, &processors, &enabled);

  record->NormalizedToSystem = NormalizedToSystem;
  record->SystemToNormalized = SystemToNormalized;
  record->AppendBertRecord = AppendBertRecord;
  record->AddHestErrorSource = AddHestErrorSource;
  record->CaptureMcaBanks = CaptureMcaBanks;
  record->AddHestErrorSources = AddHestErrorSources;

  EFI_HANDLE handle = nullptr;
  status = bs->InstallProtocolInterface(&handle, uefi::GuidArg(gTranslationProtocolGuid),
                                        EFI_NATIVE_INTERFACE, record);
  // A warning still installed the record: it is passed on, the record kept.
  return EFI_ERROR(status) ? fail(EFI_PROTOCOL_ERROR) : status;
}

EFI_STATUS ImageEntry(EFI_HANDLE imageHandle, EFI_SYSTEM_TABLE* systemTable) {
  RunConstructors(imageHandle, systemTable);
  return DriverEntry(imageHandle, systemTable);
}

}  // namespace atd
