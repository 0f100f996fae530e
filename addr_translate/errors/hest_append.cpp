// AddHestErrorSources (slot 6) and AddHestErrorSource (slot 4): append error
// source structures to the HEST. An installed table cannot grow in place, so
// the HEST is copied, extended and installed again in place of the old one.
#include "addr_translate/errors/acpi_table_lookup.h"
#include "addr_translate/errors/error_slots.h"
#include "diag/boot_services_table.h"

namespace atd {

namespace {

// Whether `count` error source structures fill the `size` bytes of `data`
// exactly, as far as their types give their lengths: the operating system
// walks Error Source Count structures, so a count that disagrees with the
// bytes has it read past the table or miss what was added. A type whose
// length is not fixed ends the check; from there on the count stands.
bool CountMatchesSources(const UINT8* data, UINT32 size, UINT32 count) {
  UINT64 at = 0;
  for (UINT32 i = 0; i < count; ++i) {
    const UINT64 left = size - at;
    if (left < sizeof(UINT16)) return false;
    const auto type = static_cast<UINT16>(data[at] | data[at + 1] << 8);
    uint32_t bankCountAt = 0;
    UINT64 length = AcpiHestSourceFixedBytes(type, &bankCountAt);
    if (length == 0) return true;
    if (bankCountAt != 0) {
      if (left <= bankCountAt) return false;
      length += UINT64{kHestBankStructureBytes} * data[at + bankCountAt];
    }
    if (length > left) return false;
    at += length;
  }
  return at == size;
}

}  // namespace

EFI_STATUS EFIAPI AddHestErrorSources(const VOID* Data, UINT32 Size, UINT32 Count,
                                      UINT64 /*Unused*/) {
  if (Count == 0) return EFI_UNSUPPORTED;
  if (Data == nullptr && Size != 0) return EFI_INVALID_PARAMETER;

  EFI_ACPI_TABLE_PROTOCOL* acpiTable = nullptr;
  EFI_ACPI_SDT_HEADER* header = nullptr;
  UINTN tableKey = 0;
  EFI_STATUS status = LocateAcpiTable(kHestSignature, &acpiTable, &header, &tableKey);
  if (EFI_ERROR(status)) return status;

  const UINT32 oldLength = header->Length;
  if (oldLength < sizeof(AcpiHestHeader)) return kAcpiCorruptedStatus;
  if (UINT64{oldLength} + Size > 0xFFFFFFFFull) return EFI_INVALID_PARAMETER;
  const UINT32 newLength = oldLength + Size;
  const UINT32 oldCount = reinterpret_cast<const AcpiHestHeader*>(header)->ErrorSourceCount;
  if (UINT64{oldCount} + Count > 0xFFFFFFFFull) return EFI_INVALID_PARAMETER;
  if (!CountMatchesSources(static_cast<const UINT8*>(Data), Size, Count))
    return EFI_INVALID_PARAMETER;

  UINT8* copy = nullptr;
  status = diag::gBS->AllocatePool(EfiACPIMemoryNVS, newLength, reinterpret_cast<VOID**>(&copy));
  if (EFI_ERROR(status)) return status;

  diag::gBS->CopyMem(copy, header, oldLength);
  if (Size != 0) diag::gBS->CopyMem(copy + oldLength, const_cast<VOID*>(Data), Size);
  auto* hest = reinterpret_cast<AcpiHestHeader*>(copy);
  const UINT8 oldChecksum = hest->Header.Checksum;
  hest->Header.Length = newLength;
  hest->ErrorSourceCount = oldCount + Count;
  UpdateAcpiChecksum(&hest->Header);

  // The old table (and the pointer GetAcpiTable gave) is gone after this.
  // While it stays installed, a second HEST must not join it: the operating
  // system would find two.
  status = acpiTable->UninstallAcpiTable(acpiTable, tableKey);
  if (EFI_ERROR(status)) {
    diag::gBS->FreePool(copy);
    return status;
  }

  UINTN newKey = 0;
  status = acpiTable->InstallAcpiTable(acpiTable, copy, newLength, &newKey);
  if (EFI_ERROR(status)) {
    // Do not leave the platform without a HEST: the head of the copy is the
    // original table, byte for byte, once its own fields are put back.
    hest->Header.Length = oldLength;
    hest->ErrorSourceCount = oldCount;
    hest->Header.Checksum = oldChecksum;
    UINTN restoredKey = 0;
    (void)acpiTable->InstallAcpiTable(acpiTable, copy, oldLength, &restoredKey);
  }

  diag::gBS->FreePool(copy);
  return status;
}

EFI_STATUS EFIAPI AddHestErrorSource(const VOID* Data, UINT32 Size, UINT32 /*Ignored*/,
                                     UINT64 /*Ignored2*/) {
  return AddHestErrorSources(Data, Size, 1, 0);
}

}  // namespace atd
