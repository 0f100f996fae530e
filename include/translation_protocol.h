// TranslationProtocol: six operation pointers in a fixed slot order, no This
// argument. Installed by AddrTranslateDxe under gTranslationProtocolGuid.
#pragma once

#include "dram_address.h"
#include "efi/uefi.h"
#include "language_bridge.h"
#include "mca_bank_snapshot.h"
#include "normalized_address.h"

#include <stddef.h>

// The EDK II build declares (AutoGen.h) and defines (AutoGen.c) it from the DEC.
#ifndef TIV_EDK2
TIV_CONSTANT EFI_GUID gTranslationProtocolGuid = {
    0xD8ABD054, 0x468F, 0x503C, {0xD3, 0xA7, 0xE5, 0x80, 0xD5, 0x6B, 0x29, 0xB9}};
#endif

typedef EFI_STATUS(EFIAPI* NormalizedToSystemFn)(const NormalizedAddress* In, UINT64* SystemAddress,
                                                 DramAddress* Dram);
typedef EFI_STATUS(EFIAPI* SystemToNormalizedFn)(const UINT64* SystemAddress,
                                                 NormalizedAddress* Out, DramAddress* Dram);
typedef EFI_STATUS(EFIAPI* AppendBertRecordFn)(const VOID* Data, UINT32 Size, UINT8 Kind,
                                               UINT8 Severity);
typedef EFI_STATUS(EFIAPI* AddHestErrorSourceFn)(const VOID* Data, UINT32 Size, UINT32 Ignored,
                                                 UINT64 Ignored2);
typedef EFI_STATUS(EFIAPI* CaptureMcaBanksFn)(McaBankSnapshot* Snapshot);
typedef EFI_STATUS(EFIAPI* AddHestErrorSourcesFn)(const VOID* Data, UINT32 Size, UINT32 Count,
                                                  UINT64 Unused);

typedef struct TranslationProtocol {
  NormalizedToSystemFn NormalizedToSystem;    // slot 1
  SystemToNormalizedFn SystemToNormalized;    // slot 2
  AppendBertRecordFn AppendBertRecord;        // slot 3
  AddHestErrorSourceFn AddHestErrorSource;    // slot 4
  CaptureMcaBanksFn CaptureMcaBanks;          // slot 5
  AddHestErrorSourcesFn AddHestErrorSources;  // slot 6
} TranslationProtocol;
TIV_LAYOUT_ASSERT(sizeof(TranslationProtocol) == 48);
TIV_LAYOUT_ASSERT(offsetof(TranslationProtocol, NormalizedToSystem) == 0);
TIV_LAYOUT_ASSERT(offsetof(TranslationProtocol, SystemToNormalized) == 8);
TIV_LAYOUT_ASSERT(offsetof(TranslationProtocol, AppendBertRecord) == 16);
TIV_LAYOUT_ASSERT(offsetof(TranslationProtocol, AddHestErrorSource) == 24);
TIV_LAYOUT_ASSERT(offsetof(TranslationProtocol, CaptureMcaBanks) == 32);
TIV_LAYOUT_ASSERT(offsetof(TranslationProtocol, AddHestErrorSources) == 40);
