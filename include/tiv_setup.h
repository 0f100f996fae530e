// TivSetup: the firmware setup variable that MemTuneSmm updates on every set
// command, so the setup options agree with the tuned values. Its name and
// vendor GUID are what the firmware's setup and every other reader know it by.
#pragma once

#include "efi/uefi.h"

namespace mts {

constexpr EFI_GUID kTivSetupGuid = {
    0x3A997502, 0x647A, 0x4C82, {0x99, 0x8E, 0x52, 0xEF, 0x94, 0x86, 0xA2, 0x47}};
// "TivSetup" as UTF-16.
constexpr CHAR16 kTivSetupName[] = {'T', 'i', 'v', 'S', 'e', 't', 'u', 'p', 0};

}  // namespace mts
