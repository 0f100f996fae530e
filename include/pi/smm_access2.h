// EFI_SMM_ACCESS2_PROTOCOL: opens, closes and locks SMRAM and describes its
// ranges (PI specification, volume 4).
#pragma once

#include "efi/uefi.h"

#ifdef TIV_EDK2
// The EDK II build: MdePkg's definitions, the GUID from AutoGen.c.
#include <Protocol/SmmAccess2.h>

inline constexpr const EFI_GUID& kSmmAccess2ProtocolGuid = gEfiSmmAccess2ProtocolGuid;
inline constexpr UINT64 kSmramOpen = EFI_SMRAM_OPEN;
inline constexpr UINT64 kSmramClosed = EFI_SMRAM_CLOSED;
inline constexpr UINT64 kSmramLocked = EFI_SMRAM_LOCKED;
inline constexpr UINT64 kSmramCacheable = EFI_CACHEABLE;
inline constexpr UINT64 kSmramAllocated = EFI_ALLOCATED;
#else
#include <cstddef>

constexpr EFI_GUID kSmmAccess2ProtocolGuid = {
    0xC2702B74, 0x800C, 0x4131, {0x87, 0x46, 0x8F, 0xB5, 0xB8, 0x9C, 0xE4, 0xAC}};

// RegionState bits.
constexpr UINT64 kSmramOpen = 0x1;
constexpr UINT64 kSmramClosed = 0x2;
constexpr UINT64 kSmramLocked = 0x4;
constexpr UINT64 kSmramCacheable = 0x8;
constexpr UINT64 kSmramAllocated = 0x10;

struct EFI_SMRAM_DESCRIPTOR {
  EFI_PHYSICAL_ADDRESS PhysicalStart;
  EFI_PHYSICAL_ADDRESS CpuStart;  // the address the processor uses in SMM
  UINT64 PhysicalSize;
  UINT64 RegionState;
};
static_assert(offsetof(EFI_SMRAM_DESCRIPTOR, PhysicalStart) == 0);
static_assert(offsetof(EFI_SMRAM_DESCRIPTOR, CpuStart) == 8);
static_assert(offsetof(EFI_SMRAM_DESCRIPTOR, PhysicalSize) == 16);
static_assert(offsetof(EFI_SMRAM_DESCRIPTOR, RegionState) == 24);
static_assert(sizeof(EFI_SMRAM_DESCRIPTOR) == 32);

struct EFI_SMM_ACCESS2_PROTOCOL;

typedef EFI_STATUS(EFIAPI* EFI_SMM_OPEN2)(EFI_SMM_ACCESS2_PROTOCOL* This);
typedef EFI_STATUS(EFIAPI* EFI_SMM_CLOSE2)(EFI_SMM_ACCESS2_PROTOCOL* This);
typedef EFI_STATUS(EFIAPI* EFI_SMM_LOCK2)(EFI_SMM_ACCESS2_PROTOCOL* This);
// With *SmramMapSize too small for the map: EFI_BUFFER_TOO_SMALL and the
// needed size in *SmramMapSize.
typedef EFI_STATUS(EFIAPI* EFI_SMM_CAPABILITIES2)(const EFI_SMM_ACCESS2_PROTOCOL* This,
                                                  UINTN* SmramMapSize,
                                                  EFI_SMRAM_DESCRIPTOR* SmramMap);

struct EFI_SMM_ACCESS2_PROTOCOL {
  EFI_SMM_OPEN2 Open;
  EFI_SMM_CLOSE2 Close;
  EFI_SMM_LOCK2 Lock;
  EFI_SMM_CAPABILITIES2 GetCapabilities;
  BOOLEAN LockState;
  BOOLEAN OpenState;
};
static_assert(offsetof(EFI_SMM_ACCESS2_PROTOCOL, GetCapabilities) == 24);
static_assert(offsetof(EFI_SMM_ACCESS2_PROTOCOL, LockState) == 32);
static_assert(offsetof(EFI_SMM_ACCESS2_PROTOCOL, OpenState) == 33);
#endif  // TIV_EDK2
