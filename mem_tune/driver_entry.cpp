#include "mem_tune/driver_entry.h"

#include "hw/hw.h"
#include "mem_tune/driver_globals.h"
#include "mem_tune/library_constructor.h"
#include "mem_tune/mapped_memory_check.h"
#include "mem_tune_provider.h"
#include "mem_tune/smi_handler.h"

namespace mts {

namespace {

// One read of a 64-bit word of the provider's interface, byte by byte. The
// interface lies outside SMRAM, where another agent may rewrite it: each
// address is read once, and the value checked is the value kept.
uint64_t ReadProviderWord(const void* iface, size_t offset) {
  const volatile uint8_t* bytes = static_cast<const volatile uint8_t*>(iface) + offset;
  uint64_t value = 0;
  for (unsigned i = 0; i < 8; ++i) value |= uint64_t{bytes[i]} << (8 * i);
  return value;
}

}  // namespace

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
    const uint64_t mailbox = ReadProviderWord(provider, offsetof(MemTuneProvider, MailboxAddress));
    const uint64_t settings =
        ReadProviderWord(provider, offsetof(MemTuneProvider, SettingsRecordAddress));
    gMailbox = reinterpret_cast<MemTuneMailbox*>(static_cast<uintptr_t>(mailbox));
    gSettingsRecord = reinterpret_cast<const uint8_t*>(static_cast<uintptr_t>(settings));
    // Only now, while boot services exist, can the memory map tell whether
    // SMM will still reach these records after the platform locks it.
    if (gMailbox != nullptr)
      gSharedMemoryMapped =
          SharedRecordsStayMapped(mailbox, sizeof(MemTuneMailbox), settings, kSettingsRecordSize);
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
