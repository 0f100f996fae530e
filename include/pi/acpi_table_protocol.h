// EFI_ACPI_TABLE_PROTOCOL, as the UEFI specification defines it: installs a
// copy of a caller's table and removes an installed table by its key.
#pragma once

#include "efi/uefi.h"

#ifdef TIV_EDK2
// The EDK II build: MdePkg's definitions, the GUID from AutoGen.c.
#include <Protocol/AcpiTable.h>

inline constexpr const EFI_GUID& kAcpiTableProtocolGuid = gEfiAcpiTableProtocolGuid;
#else
#include <cstddef>

inline constexpr EFI_GUID kAcpiTableProtocolGuid = {
    0xFFE06BDD, 0x6107, 0x46A6, {0x7B, 0xB2, 0x5A, 0x9C, 0x7E, 0xC5, 0x27, 0x5C}};

struct EFI_ACPI_TABLE_PROTOCOL;

typedef EFI_STATUS(EFIAPI* EFI_ACPI_TABLE_INSTALL_ACPI_TABLE)(EFI_ACPI_TABLE_PROTOCOL* This,
                                                              const VOID* AcpiTableBuffer,
                                                              UINTN AcpiTableBufferSize,
                                                              UINTN* TableKey);
typedef EFI_STATUS(EFIAPI* EFI_ACPI_TABLE_UNINSTALL_ACPI_TABLE)(EFI_ACPI_TABLE_PROTOCOL* This,
                                                                UINTN TableKey);

struct EFI_ACPI_TABLE_PROTOCOL {
  EFI_ACPI_TABLE_INSTALL_ACPI_TABLE InstallAcpiTable;
  EFI_ACPI_TABLE_UNINSTALL_ACPI_TABLE UninstallAcpiTable;
};
static_assert(sizeof(EFI_ACPI_TABLE_PROTOCOL) == 16);
static_assert(offsetof(EFI_ACPI_TABLE_PROTOCOL, InstallAcpiTable) == 0);
static_assert(offsetof(EFI_ACPI_TABLE_PROTOCOL, UninstallAcpiTable) == 8);
#endif  // TIV_EDK2
