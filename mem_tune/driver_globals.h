// MemTuneSmm's driver-wide state. Set once by the library constructors and
// the driver entry; the SMI handler reads it (and keeps the setup working
// copy). Constant-initialised: no global constructors.
#pragma once

#include "efi/uefi.h"
#include "mem_tune/config_token.h"
#include "mem_tune_provider.h"
#include "mem_tune_mailbox.h"
#include "pi/smm_access2.h"
#include "pi/smm_system_table.h"

namespace mts {

extern EFI_SYSTEM_TABLE* gST;
extern EFI_BOOT_SERVICES* gBS;
extern EFI_SMM_SYSTEM_TABLE2* gSmst;

// SMRAM map from EFI_SMM_ACCESS2_PROTOCOL.GetCapabilities. Null (and a count
// of 0) when the map could not be read.
extern EFI_SMRAM_DESCRIPTOR* gSmramRanges;
extern UINTN gSmramRangeCount;

// The PCI Express configuration window the memory-controller readout uses.
extern UINT64 gEcamBase;
extern UINT64 gEcamSize;
extern BOOLEAN gEcamReady;

// From MemTuneProvider; null when the provider was not found.
extern MemTuneMailbox* gMailbox;
extern const uint8_t* gSettingsRecord;
// Whether the mailbox and the settings record lie wholly in memory that stays
// mapped in SMM, by the memory map taken at entry (false when it could not be
// taken).
extern BOOLEAN gSharedMemoryMapped;
// From SmmLocateProtocol; null when the service was not found.
extern ConfigTokenService* gTokenService;

// Working copy of the setup variable: allocated on the first update, grown
// when a later variable is larger, never freed.
extern uint8_t* gSetupWorkingCopy;
extern UINTN gSetupWorkingCopySize;
extern BOOLEAN gSetupHoldFlag;

}  // namespace mts
