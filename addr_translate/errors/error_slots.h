// The error-capture and ACPI operations of TranslationProtocol (slots 3 to 6).
#pragma once

#include "translation_protocol.h"

namespace atd {

EFI_STATUS EFIAPI AppendBertRecord(const VOID* Data, UINT32 Size, UINT8 Kind, UINT8 Severity);
EFI_STATUS EFIAPI AddHestErrorSource(const VOID* Data, UINT32 Size, UINT32 Ignored,
                                     UINT64 Ignored2);
EFI_STATUS EFIAPI CaptureMcaBanks(McaBankSnapshot* Snapshot);
EFI_STATUS EFIAPI AddHestErrorSources(const VOID* Data, UINT32 Size, UINT32 Count, UINT64 Unused);

}  // namespace atd
