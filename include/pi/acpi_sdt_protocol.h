// EFI_ACPI_SDT_PROTOCOL, as the PI specification (volume 5) defines it. Only
// GetAcpiTable is called; the other members are declared for the layout.
#pragma once

#include "efi/uefi.h"
#include "language_bridge.h"
#include "pi/acpi_tables.h"

#ifdef TIV_EDK2
// The EDK II build: MdePkg's definitions, the GUID from AutoGen.c.
#include <Protocol/AcpiSystemDescriptionTable.h>

#ifdef __cplusplus  // C callers use MdePkg's names
inline constexpr const EFI_GUID& kAcpiSdtProtocolGuid = gEfiAcpiSdtProtocolGuid;
inline constexpr EFI_ACPI_TABLE_VERSION kAcpiTableVersionNone = EFI_ACPI_TABLE_VERSION_NONE;
inline constexpr EFI_ACPI_TABLE_VERSION kAcpiTableVersion1_0B = EFI_ACPI_TABLE_VERSION_1_0B;
inline constexpr EFI_ACPI_TABLE_VERSION kAcpiTableVersion2_0 = EFI_ACPI_TABLE_VERSION_2_0;
inline constexpr EFI_ACPI_TABLE_VERSION kAcpiTableVersion3_0 = EFI_ACPI_TABLE_VERSION_3_0;
inline constexpr EFI_ACPI_TABLE_VERSION kAcpiTableVersion4_0 = EFI_ACPI_TABLE_VERSION_4_0;
inline constexpr EFI_ACPI_TABLE_VERSION kAcpiTableVersion5_0 = EFI_ACPI_TABLE_VERSION_5_0;
#endif
#else
#include <stddef.h>

TIV_CONSTANT EFI_GUID kAcpiSdtProtocolGuid = {
    0xEB97088E, 0xCFDF, 0x49C6, {0xBE, 0x4B, 0xD9, 0x06, 0xA5, 0xB2, 0x0E, 0x86}};

typedef UINT32 EFI_ACPI_TABLE_VERSION;
TIV_CONSTANT EFI_ACPI_TABLE_VERSION kAcpiTableVersionNone = 1u << 0;
TIV_CONSTANT EFI_ACPI_TABLE_VERSION kAcpiTableVersion1_0B = 1u << 1;
TIV_CONSTANT EFI_ACPI_TABLE_VERSION kAcpiTableVersion2_0 = 1u << 2;
TIV_CONSTANT EFI_ACPI_TABLE_VERSION kAcpiTableVersion3_0 = 1u << 3;
TIV_CONSTANT EFI_ACPI_TABLE_VERSION kAcpiTableVersion4_0 = 1u << 4;
TIV_CONSTANT EFI_ACPI_TABLE_VERSION kAcpiTableVersion5_0 = 1u << 5;

typedef VOID* EFI_ACPI_HANDLE;
typedef UINT32 EFI_ACPI_DATA_TYPE;

typedef EFI_STATUS(EFIAPI* EFI_ACPI_NOTIFICATION_FN)(EFI_ACPI_SDT_HEADER* Table,
                                                     EFI_ACPI_TABLE_VERSION Version,
                                                     UINTN TableKey);

typedef EFI_STATUS(EFIAPI* EFI_ACPI_GET_ACPI_TABLE2)(UINTN Index, EFI_ACPI_SDT_HEADER** Table,
                                                     EFI_ACPI_TABLE_VERSION* Version,
                                                     UINTN* TableKey);
typedef EFI_STATUS(EFIAPI* EFI_ACPI_REGISTER_NOTIFY)(BOOLEAN Register,
                                                     EFI_ACPI_NOTIFICATION_FN Notification);
typedef EFI_STATUS(EFIAPI* EFI_ACPI_OPEN)(VOID* Buffer, EFI_ACPI_HANDLE* Handle);
typedef EFI_STATUS(EFIAPI* EFI_ACPI_OPEN_SDT)(UINTN TableKey, EFI_ACPI_HANDLE* Handle);
typedef EFI_STATUS(EFIAPI* EFI_ACPI_CLOSE)(EFI_ACPI_HANDLE Handle);
typedef EFI_STATUS(EFIAPI* EFI_ACPI_GET_CHILD)(EFI_ACPI_HANDLE ParentHandle,
                                               EFI_ACPI_HANDLE* Handle);
typedef EFI_STATUS(EFIAPI* EFI_ACPI_GET_OPTION)(EFI_ACPI_HANDLE Handle, UINTN Index,
                                                EFI_ACPI_DATA_TYPE* DataType, CONST VOID** Data,
                                                UINTN* DataSize);
typedef EFI_STATUS(EFIAPI* EFI_ACPI_SET_OPTION)(EFI_ACPI_HANDLE Handle, UINTN Index,
                                                CONST VOID* Data, UINTN DataSize);
typedef EFI_STATUS(EFIAPI* EFI_ACPI_FIND_PATH)(EFI_ACPI_HANDLE HandleIn, VOID* AcpiPath,
                                               EFI_ACPI_HANDLE* HandleOut);

typedef struct EFI_ACPI_SDT_PROTOCOL {
  EFI_ACPI_TABLE_VERSION AcpiVersion;
  EFI_ACPI_GET_ACPI_TABLE2 GetAcpiTable;
  EFI_ACPI_REGISTER_NOTIFY RegisterNotify;
  EFI_ACPI_OPEN Open;
  EFI_ACPI_OPEN_SDT OpenSdt;
  EFI_ACPI_CLOSE Close;
  EFI_ACPI_GET_CHILD GetChild;
  EFI_ACPI_GET_OPTION GetOption;
  EFI_ACPI_SET_OPTION SetOption;
  EFI_ACPI_FIND_PATH FindPath;
} EFI_ACPI_SDT_PROTOCOL;
TIV_LAYOUT_ASSERT(sizeof(EFI_ACPI_SDT_PROTOCOL) == 80);
TIV_LAYOUT_ASSERT(offsetof(EFI_ACPI_SDT_PROTOCOL, GetAcpiTable) == 8);
TIV_LAYOUT_ASSERT(offsetof(EFI_ACPI_SDT_PROTOCOL, FindPath) == 72);
#endif  // TIV_EDK2
