#include "addr_translate/errors/acpi_table_lookup.h"

#include "diag/boot_services_table.h"

namespace atd {

EFI_STATUS LocateAcpiProtocols(EFI_ACPI_TABLE_PROTOCOL** AcpiTable,
                               EFI_ACPI_SDT_PROTOCOL** AcpiSdt) {
  EFI_STATUS status = diag::gBS->LocateProtocol(uefi::GuidArg(kAcpiTableProtocolGuid), nullptr,
                                                reinterpret_cast<VOID**>(AcpiTable));
  if (EFI_ERROR(status)) return status;
  return diag::gBS->LocateProtocol(uefi::GuidArg(kAcpiSdtProtocolGuid), nullptr,
                                   reinterpret_cast<VOID**>(AcpiSdt));
}

EFI_STATUS LocateAcpiTable(UINT32 Signature, EFI_ACPI_TABLE_PROTOCOL** AcpiTable,
                           EFI_ACPI_SDT_HEADER** Table, UINTN* TableKey) {
  EFI_ACPI_SDT_PROTOCOL* acpiSdt = nullptr;
  const EFI_STATUS status = LocateAcpiProtocols(AcpiTable, &acpiSdt);
  if (EFI_ERROR(status)) return status;
  return FindAcpiTable(acpiSdt, Signature, Table, TableKey);
}

EFI_STATUS FindAcpiTable(EFI_ACPI_SDT_PROTOCOL* AcpiSdt, UINT32 Signature,
                         EFI_ACPI_SDT_HEADER** Table, UINTN* TableKey) {
  for (UINTN index = 0;; ++index) {
    EFI_ACPI_SDT_HEADER* table = nullptr;
    EFI_ACPI_TABLE_VERSION version = 0;
    UINTN key = 0;
    const EFI_STATUS status = AcpiSdt->GetAcpiTable(index, &table, &version, &key);
    if (EFI_ERROR(status)) return status;
    if (table != nullptr && table->Signature == Signature) {
      *Table = table;
      *TableKey = key;
      return status;
    }
  }
}

void UpdateAcpiChecksum(EFI_ACPI_SDT_HEADER* Table) {
  Table->Checksum = 0;
  const auto* bytes = reinterpret_cast<const UINT8*>(Table);
  UINT8 sum = 0;
  for (UINT32 i = 0; i < Table->Length; ++i) sum = static_cast<UINT8>(sum + bytes[i]);
  Table->Checksum = static_cast<UINT8>(0 - sum);
}

}  // namespace atd
