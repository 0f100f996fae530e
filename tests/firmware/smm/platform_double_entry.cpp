// Entry of SmmPlatformDouble: the provider first (MemTuneSmm reads it at its
// entry), then the two SMM protocols MemTuneSmm's dependency expression waits
// for, the dispatch protocol last.
#include "pi/smm_base2.h"
#include "tests/firmware/smm/debug_console.h"
#include "tests/firmware/smm/platform_double.h"

namespace fwtest {

EFI_BOOT_SERVICES* gDoubleBS = nullptr;
EFI_SMM_SYSTEM_TABLE2* gDoubleSmst = nullptr;

UINT64 AllocatePage(EFI_MEMORY_TYPE type) {
  EFI_PHYSICAL_ADDRESS page = 0;
  if (EFI_ERROR(gDoubleBS->AllocatePages(AllocateAnyPages, type, 1, &page))) return 0;
  auto* bytes = reinterpret_cast<volatile uint8_t*>(page);
  for (unsigned i = 0; i < 0x1000; ++i) bytes[i] = 0;
  return page;
}

namespace {

EFI_STATUS Fail(const char* what, EFI_STATUS status) {
  DebugText("SmmPlatformDouble: ");
  DebugText(what);
  DebugText(" failed: ");
  DebugHex(status, 16);
  DebugText("\n");
  return status;
}

}  // namespace

}  // namespace fwtest

extern "C" EFI_STATUS efi_main(EFI_HANDLE, EFI_SYSTEM_TABLE* systemTable) {
  using namespace fwtest;
  DebugText("SmmPlatformDouble: entry\n");
  gDoubleBS = systemTable->BootServices;
  void* iface = nullptr;
  EFI_STATUS status =
      gDoubleBS->LocateProtocol(uefi::GuidArg(kSmmBase2ProtocolGuid), nullptr, &iface);
  if (EFI_ERROR(status)) return Fail("LocateProtocol(SMM base2)", status);
  auto* base2 = static_cast<EFI_SMM_BASE2_PROTOCOL*>(iface);
  status = base2->GetSmstLocation(base2, &gDoubleSmst);
  if (EFI_ERROR(status)) return Fail("GetSmstLocation", status);
  using Install = EFI_STATUS (*)();
  const Install installs[] = {InstallMemTuneProviderDouble, InstallConfigTokenDouble,
                              InstallSwSmiDispatchDouble};
  for (Install install : installs) {
    status = install();
    if (EFI_ERROR(status)) return status;
  }
  DebugText("SmmPlatformDouble: ready\n");
  return EFI_SUCCESS;
}
