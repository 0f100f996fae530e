#include "mem_tune/driver_globals.h"

namespace mts {

EFI_SYSTEM_TABLE* gST = nullptr;
EFI_BOOT_SERVICES* gBS = nullptr;
EFI_SMM_SYSTEM_TABLE2* gSmst = nullptr;
EFI_SMRAM_DESCRIPTOR* gSmramRanges = nullptr;
UINTN gSmramRangeCount = 0;
UINT64 gEcamBase = 0;
UINT64 gEcamSize = 0;
BOOLEAN gEcamReady = FALSE;
MemTuneMailbox* gMailbox = nullptr;
const uint8_t* gSettingsRecord = nullptr;
BOOLEAN gSharedMemoryMapped = FALSE;
ConfigTokenService* gTokenService = nullptr;
uint8_t* gSetupWorkingCopy = nullptr;
UINTN gSetupWorkingCopySize = 0;
BOOLEAN gSetupHoldFlag = FALSE;

}  // namespace mts
