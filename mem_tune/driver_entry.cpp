#include "mem_tune/driver_entry.h"

#include "hw/hw.h"
#include "mem_tune/driver_globals.h"
#include "mem_tune/library_constructor.h"
#include "mem_tune/mapped_memory_check.h"
#include "mem_tune_provider.h"
#include "mem_tune/smi_handler.h"

namespace mts {

uint32_t ProcessorSignature() {
  return hw::Cpuid(0x80000001).eax & kSignatureMask;
}

EFI_STATUS DriverEntry() {
  const uint32_t signature = ProcessorSignature();
  if (signature != kSignatureTwoChannels && signature != kSignatureEightChannels &&
      signature != kSignatureEightChannelsOtherDies)
    return EFI_SUCCESS;  // not a processor this service tunes: stay idle

  void* iface = nullptr;
  EFI_STATUS status =
      gSmst->SmmLocateProtocol(uefi::GuidArg(kSwSmiDispatchProtocolGuid), nullptr, &iface);
  if (EFI_ERROR(status)) return status;
  auto* dispatch = static_cast<SW_SMI_DISPATCH_PROTOCOL*>(iface);
  if (dispatch == nullptr) return EFI_NOT_FOUND;

  void* provider = nullptr;
  if (!EFI_ERROR(gBS->LocateProtocol(uefi::GuidArg(kMemTuneProviderGuid), nullptr, &provider)) &&
      provider != nullptr) {
    const auto* p = static_cast<const MemTuneProvider*>(provider);
    gMailbox = reinterpret_cast<MemTuneMailbox*>(static_cast<uintptr_t>(p->MailboxAddress));
    gSettingsRecord =
        reinterpret_cast<const uint8_t*>(static_cast<uintptr_t>(p->SettingsRecordAddress));
    // Only now, while boot services exist, can the memory map tell whether
    // SMM will still reach these records after the platform locks it.
    if (gMailbox != nullptr)
      gSharedMemoryMapped = SharedRecordsStayMapped(p->MailboxAddress, sizeof(MemTuneMailbox),
                                                    p->SettingsRecordAddress, kSettingsRecordSize);
  }

  void* tokens = nullptr;
  gSmst->SmmLocateProtocol(uefi::GuidArg(kConfigTokenServiceGuid), nullptr, &tokens);
  gTokenService = static_cast<ConfigTokenService*>(tokens);

  SW_SMI_REGISTER_CONTEXT context{};
  context.SwSmiInputValue = kMemTuneSwSmiValue;
  context.DispatchFlags = kMemTuneSwSmiFlags;
  EFI_HANDLE handle = nullptr;
  return dispatch->Register(dispatch, MemTuneSmiHandler, &context, &handle);
}

EFI_STATUS ImageEntry(EFI_HANDLE, EFI_SYSTEM_TABLE* systemTable) {
  EFI_STATUS status = RunLibraryConstructors(systemTable);
  if (EFI_ERROR(status)) {
    RunLibraryDestructor();
    return status;
  }
  EFI_STATUS imageStatus = EFI_LOAD_ERROR;
  const EFI_STATUS result = DriverEntry();
  // A result replaces the stored status when it is a success or the stored
  // status is an error.
  if (!EFI_ERROR(result) || EFI_ERROR(imageStatus)) imageStatus = result;
  if (EFI_ERROR(imageStatus)) RunLibraryDestructor();
  return imageStatus;
}

}  // namespace mts
