// Hand-off blocks, as the PI specification (volume 3) lays them out.
#pragma once

#include "efi/uefi.h"

#ifdef TIV_EDK2
// The EDK II build: MdePkg's definitions, the GUID from AutoGen.c.
#include <Guid/HobList.h>
#include <Pi/PiMultiPhase.h>  // PiHob.h with the boot-mode type it needs

inline constexpr const EFI_GUID& kHobListGuid = gEfiHobListGuid;
inline constexpr UINT16 kHobTypeGuidExtension = EFI_HOB_TYPE_GUID_EXTENSION;
inline constexpr UINT16 kHobTypeEndOfHobList = EFI_HOB_TYPE_END_OF_HOB_LIST;
#else
#include <cstddef>

inline constexpr EFI_GUID kHobListGuid = {
    0x7739F24C, 0x93D7, 0x11D4, {0x9A, 0x3A, 0x00, 0x90, 0x27, 0x3F, 0xC1, 0x4D}};

inline constexpr UINT16 kHobTypeGuidExtension = 0x0004;
inline constexpr UINT16 kHobTypeEndOfHobList = 0xFFFF;

struct EFI_HOB_GENERIC_HEADER {
  UINT16 HobType;
  UINT16 HobLength;  // bytes from this header to the next HOB
  UINT32 Reserved;
};
static_assert(sizeof(EFI_HOB_GENERIC_HEADER) == 8);
static_assert(offsetof(EFI_HOB_GENERIC_HEADER, HobLength) == 2);

struct EFI_HOB_GUID_TYPE {
  EFI_HOB_GENERIC_HEADER Header;
  EFI_GUID Name;
  // data follows at byte 24
};
static_assert(sizeof(EFI_HOB_GUID_TYPE) == 24);
static_assert(offsetof(EFI_HOB_GUID_TYPE, Name) == 8);
#endif  // TIV_EDK2
