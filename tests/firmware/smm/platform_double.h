// SmmPlatformDouble: an SMM driver that stands in for the platform components
// MemTuneSmm binds to, so the real driver can run under a real SMM core
// (OVMF, which has none of them):
//   - MemTuneProvider in the boot-services database, with a mailbox and a
//     settings record in reserved memory;
//   - ConfigTokenService in the SMM database, logging every write into
//     reserved memory (TokenLogProtocol gives the log's address);
//   - SwSmiDispatchProtocol in the SMM database, dispatching from a root SMI
//     handler that looks at the APM command port 0xB2.
// Their layouts are written here from the interface descriptions, not taken
// from MemTuneSmm's headers, so a wrong offset on either side shows.
#pragma once

#include "efi/uefi.h"
#include "pi/smm_system_table.h"

namespace fwtest {

extern EFI_BOOT_SERVICES* gDoubleBS;
extern EFI_SMM_SYSTEM_TABLE2* gDoubleSmst;

// Each returns the first failing status (and says so on the debug console).
EFI_STATUS InstallMemTuneProviderDouble();
EFI_STATUS InstallConfigTokenDouble();
EFI_STATUS InstallSwSmiDispatchDouble();

// One zero-filled page of `type` (reserved memory stays mapped in SMM after
// it is locked); 0 on failure.
UINT64 AllocatePage(EFI_MEMORY_TYPE type);

}  // namespace fwtest
