// Shared steps of the BERT and HEST appends: locating the two ACPI protocols,
// finding an installed table by signature, and the table checksum.
#pragma once

#include "efi/uefi.h"
#include "pi/acpi_sdt_protocol.h"
#include "pi/acpi_table_protocol.h"
#include "pi/acpi_tables.h"

namespace atd {

// Refusal of a table or boot error region whose own fields point outside it.
inline constexpr EFI_STATUS kAcpiCorruptedStatus = EFI_VOLUME_CORRUPTED;

// Locates EFI_ACPI_TABLE_PROTOCOL, then EFI_ACPI_SDT_PROTOCOL.
EFI_STATUS LocateAcpiProtocols(EFI_ACPI_TABLE_PROTOCOL** AcpiTable,
                               EFI_ACPI_SDT_PROTOCOL** AcpiSdt);

// Both protocols, then the installed table with that signature: the common
// first steps of every append. Any failure returns its status.
EFI_STATUS LocateAcpiTable(UINT32 Signature, EFI_ACPI_TABLE_PROTOCOL** AcpiTable,
                           EFI_ACPI_SDT_HEADER** Table, UINTN* TableKey);

// Walks the installed tables from index 0 and hands back the first whose
// signature matches, with its table key. The end of the list (or any failure
// of GetAcpiTable) returns that call's status.
EFI_STATUS FindAcpiTable(EFI_ACPI_SDT_PROTOCOL* AcpiSdt, UINT32 Signature,
                         EFI_ACPI_SDT_HEADER** Table, UINTN* TableKey);

// Sets the checksum byte so that the table's Length bytes sum to 0.
void UpdateAcpiChecksum(EFI_ACPI_SDT_HEADER* Table);

}  // namespace atd
