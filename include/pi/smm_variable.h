// EFI_SMM_VARIABLE_PROTOCOL: the UEFI variable services as SMM code reaches
// them (PI specification, volume 4): the four runtime-service signatures.
#pragma once

#include "efi/uefi.h"

#ifdef TIV_EDK2
// The EDK II build: MdeModulePkg's definitions, the GUID from AutoGen.c.
#include <Protocol/SmmVariable.h>

inline constexpr const EFI_GUID& kSmmVariableProtocolGuid = gEfiSmmVariableProtocolGuid;
#else
#include <cstddef>

constexpr EFI_GUID kSmmVariableProtocolGuid = {
    0xED32D533, 0x99E6, 0x4209, {0x9C, 0xC0, 0x2D, 0x72, 0xCD, 0xD9, 0x98, 0xA7}};

typedef EFI_STATUS(EFIAPI* EFI_QUERY_VARIABLE_INFO_SMM)(UINT32 Attributes,
                                                        UINT64* MaximumVariableStorageSize,
                                                        UINT64* RemainingVariableStorageSize,
                                                        UINT64* MaximumVariableSize);

struct EFI_SMM_VARIABLE_PROTOCOL {
  EFI_GET_VARIABLE SmmGetVariable;
  EFI_GET_NEXT_VARIABLE_NAME SmmGetNextVariableName;
  EFI_SET_VARIABLE SmmSetVariable;
  EFI_QUERY_VARIABLE_INFO_SMM SmmQueryVariableInfo;
};
static_assert(offsetof(EFI_SMM_VARIABLE_PROTOCOL, SmmGetVariable) == 0);
static_assert(offsetof(EFI_SMM_VARIABLE_PROTOCOL, SmmGetNextVariableName) == 8);
static_assert(offsetof(EFI_SMM_VARIABLE_PROTOCOL, SmmSetVariable) == 16);
static_assert(offsetof(EFI_SMM_VARIABLE_PROTOCOL, SmmQueryVariableInfo) == 24);
static_assert(sizeof(EFI_SMM_VARIABLE_PROTOCOL) == 32);
#endif  // TIV_EDK2
