// EFI_SMM_BASE2_PROTOCOL: tells a driver whether it runs in SMRAM and where
// the SMM system table is (PI specification, volume 4).
#pragma once

#include "efi/uefi.h"
#include "pi/smm_system_table.h"

#ifdef TIV_EDK2
// The EDK II build: MdePkg's definitions, the GUID from AutoGen.c.
#include <Protocol/SmmBase2.h>

inline constexpr const EFI_GUID& kSmmBase2ProtocolGuid = gEfiSmmBase2ProtocolGuid;
#else
#include <cstddef>

constexpr EFI_GUID kSmmBase2ProtocolGuid = {
    0xF4CCBFB7, 0xF6E0, 0x47FD, {0x9D, 0xD4, 0x10, 0xA8, 0xF1, 0x50, 0xC1, 0x91}};

struct EFI_SMM_BASE2_PROTOCOL;

typedef EFI_STATUS(EFIAPI* EFI_SMM_INSIDE_OUT2)(EFI_SMM_BASE2_PROTOCOL* This, BOOLEAN* InSmram);
typedef EFI_STATUS(EFIAPI* EFI_SMM_GET_SMST_LOCATION2)(EFI_SMM_BASE2_PROTOCOL* This,
                                                       EFI_SMM_SYSTEM_TABLE2** Smst);

struct EFI_SMM_BASE2_PROTOCOL {
  EFI_SMM_INSIDE_OUT2 InSmm;
  EFI_SMM_GET_SMST_LOCATION2 GetSmstLocation;
};
static_assert(offsetof(EFI_SMM_BASE2_PROTOCOL, InSmm) == 0);
static_assert(offsetof(EFI_SMM_BASE2_PROTOCOL, GetSmstLocation) == 8);
static_assert(sizeof(EFI_SMM_BASE2_PROTOCOL) == 16);
#endif  // TIV_EDK2
