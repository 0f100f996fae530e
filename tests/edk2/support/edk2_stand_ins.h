// The HOB lookups of diag/edk2/hob_list_edk2.cpp over MdePkg's DxeHobLib, as
// the tests (which include neither MdePkg's nor gnu-efi's headers) call them.
#pragma once

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

// The one HOB list EfiGetSystemConfigurationTable hands out: DxeHobLib keeps
// its address from the first lookup on, so every test fills this buffer.
enum { kTivHobListWords = 64 };
extern uint64_t gTivHobListBuffer[kTivHobListWords];

// diag::GetFirstGuidHob(name) when after is null, else
// diag::GetNextGuidHob(name, the HOB after `after`), in the EDK II build.
const void* TivEdk2GuidHob(const uint8_t name[16], const void* after);

#ifdef __cplusplus
}
#endif
