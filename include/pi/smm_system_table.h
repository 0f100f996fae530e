// EFI_SMM_SYSTEM_TABLE2: the services table that code running in SMRAM uses
// instead of the boot services, as the PI specification (volume 4) lays it out.
#pragma once

#include "efi/uefi.h"

#ifdef TIV_EDK2
// The EDK II build: MdePkg's definitions.
#include <Pi/PiSmmCis.h>

inline constexpr UINT64 kSmmSystemTableSignature = SMM_SMST_SIGNATURE;
#else
#include <cstddef>

constexpr UINT64 kSmmSystemTableSignature = 0x54534D53;  // "SMST"

struct EFI_SMM_SYSTEM_TABLE2;

typedef EFI_STATUS(EFIAPI* EFI_SMM_INSTALL_CONFIGURATION_TABLE2)(
    const EFI_SMM_SYSTEM_TABLE2* SystemTable, const EFI_GUID* Guid, VOID* Table, UINTN TableSize);

// EFI_SMM_CPU_IO2_PROTOCOL: memory and I/O access from SMM, two pairs of
// Read/Write operations.
typedef EFI_STATUS(EFIAPI* EFI_SMM_CPU_IO2)(const VOID* This, UINTN Width, UINT64 Address,
                                            UINTN Count, VOID* Buffer);
struct EFI_SMM_IO_ACCESS2 {
  EFI_SMM_CPU_IO2 Read;
  EFI_SMM_CPU_IO2 Write;
};
struct EFI_SMM_CPU_IO2_PROTOCOL {
  EFI_SMM_IO_ACCESS2 Mem;
  EFI_SMM_IO_ACCESS2 Io;
};
static_assert(sizeof(EFI_SMM_CPU_IO2_PROTOCOL) == 32);

typedef VOID(EFIAPI* EFI_AP_PROCEDURE_SMM)(VOID* ProcedureArgument);
typedef EFI_STATUS(EFIAPI* EFI_SMM_STARTUP_THIS_AP)(EFI_AP_PROCEDURE_SMM Procedure, UINTN CpuNumber,
                                                    VOID* ProcArguments);
typedef EFI_STATUS(EFIAPI* EFI_SMM_INSTALL_PROTOCOL_INTERFACE)(EFI_HANDLE* UserHandle,
                                                               EFI_GUID* Protocol,
                                                               EFI_INTERFACE_TYPE InterfaceType,
                                                               VOID* Interface);
typedef EFI_STATUS(EFIAPI* EFI_SMM_UNINSTALL_PROTOCOL_INTERFACE)(EFI_HANDLE UserHandle,
                                                                 EFI_GUID* Protocol,
                                                                 VOID* Interface);
typedef EFI_STATUS(EFIAPI* EFI_SMM_HANDLE_PROTOCOL)(EFI_HANDLE UserHandle, EFI_GUID* Protocol,
                                                    VOID** Interface);
typedef EFI_STATUS(EFIAPI* EFI_SMM_NOTIFY_FN)(const EFI_GUID* Protocol, VOID* Interface,
                                              EFI_HANDLE Handle);
typedef EFI_STATUS(EFIAPI* EFI_SMM_REGISTER_PROTOCOL_NOTIFY)(const EFI_GUID* Protocol,
                                                             EFI_SMM_NOTIFY_FN Function,
                                                             VOID** Registration);
typedef EFI_STATUS(EFIAPI* EFI_SMM_LOCATE_HANDLE)(EFI_LOCATE_SEARCH_TYPE SearchType,
                                                  EFI_GUID* Protocol, VOID* SearchKey,
                                                  UINTN* BufferSize, EFI_HANDLE* Buffer);
typedef EFI_STATUS(EFIAPI* EFI_SMM_LOCATE_PROTOCOL)(EFI_GUID* Protocol, VOID* Registration,
                                                    VOID** Interface);
typedef EFI_STATUS(EFIAPI* EFI_SMM_INTERRUPT_MANAGE)(const EFI_GUID* HandlerType,
                                                     const VOID* Context, VOID* CommBuffer,
                                                     UINTN* CommBufferSize);
// The entry point of every SMI handler, root or child.
typedef EFI_STATUS(EFIAPI* EFI_SMM_HANDLER_ENTRY_POINT2)(EFI_HANDLE DispatchHandle,
                                                         const VOID* Context, VOID* CommBuffer,
                                                         UINTN* CommBufferSize);
typedef EFI_STATUS(EFIAPI* EFI_SMM_INTERRUPT_REGISTER)(EFI_SMM_HANDLER_ENTRY_POINT2 Handler,
                                                       const EFI_GUID* HandlerType,
                                                       EFI_HANDLE* DispatchHandle);
typedef EFI_STATUS(EFIAPI* EFI_SMM_INTERRUPT_UNREGISTER)(EFI_HANDLE DispatchHandle);

struct EFI_SMM_SYSTEM_TABLE2 {
  EFI_TABLE_HEADER Hdr;
  CHAR16* SmmFirmwareVendor;
  UINT32 SmmFirmwareRevision;
  EFI_SMM_INSTALL_CONFIGURATION_TABLE2 SmmInstallConfigurationTable;
  EFI_SMM_CPU_IO2_PROTOCOL SmmIo;
  EFI_ALLOCATE_POOL SmmAllocatePool;
  EFI_FREE_POOL SmmFreePool;
  EFI_ALLOCATE_PAGES SmmAllocatePages;
  EFI_FREE_PAGES SmmFreePages;
  EFI_SMM_STARTUP_THIS_AP SmmStartupThisAp;
  UINTN CurrentlyExecutingCpu;
  UINTN NumberOfCpus;
  UINTN* CpuSaveStateSize;
  VOID** CpuSaveState;
  UINTN NumberOfTableEntries;
  EFI_CONFIGURATION_TABLE* SmmConfigurationTable;
  EFI_SMM_INSTALL_PROTOCOL_INTERFACE SmmInstallProtocolInterface;
  EFI_SMM_UNINSTALL_PROTOCOL_INTERFACE SmmUninstallProtocolInterface;
  EFI_SMM_HANDLE_PROTOCOL SmmHandleProtocol;
  EFI_SMM_REGISTER_PROTOCOL_NOTIFY SmmRegisterProtocolNotify;
  EFI_SMM_LOCATE_HANDLE SmmLocateHandle;
  EFI_SMM_LOCATE_PROTOCOL SmmLocateProtocol;
  EFI_SMM_INTERRUPT_MANAGE SmiManage;
  EFI_SMM_INTERRUPT_REGISTER SmiHandlerRegister;
  EFI_SMM_INTERRUPT_UNREGISTER SmiHandlerUnRegister;
};
static_assert(sizeof(EFI_TABLE_HEADER) == 24);
static_assert(offsetof(EFI_SMM_SYSTEM_TABLE2, SmmFirmwareVendor) == 0x18);
static_assert(offsetof(EFI_SMM_SYSTEM_TABLE2, SmmFirmwareRevision) == 0x20);
static_assert(offsetof(EFI_SMM_SYSTEM_TABLE2, SmmInstallConfigurationTable) == 0x28);
static_assert(offsetof(EFI_SMM_SYSTEM_TABLE2, SmmIo) == 0x30);
static_assert(offsetof(EFI_SMM_SYSTEM_TABLE2, SmmAllocatePool) == 0x50);
static_assert(offsetof(EFI_SMM_SYSTEM_TABLE2, SmmFreePool) == 0x58);
static_assert(offsetof(EFI_SMM_SYSTEM_TABLE2, SmmAllocatePages) == 0x60);
static_assert(offsetof(EFI_SMM_SYSTEM_TABLE2, SmmStartupThisAp) == 0x70);
static_assert(offsetof(EFI_SMM_SYSTEM_TABLE2, CurrentlyExecutingCpu) == 0x78);
static_assert(offsetof(EFI_SMM_SYSTEM_TABLE2, NumberOfTableEntries) == 0x98);
static_assert(offsetof(EFI_SMM_SYSTEM_TABLE2, SmmInstallProtocolInterface) == 0xA8);
static_assert(offsetof(EFI_SMM_SYSTEM_TABLE2, SmmLocateProtocol) == 0xD0);
static_assert(offsetof(EFI_SMM_SYSTEM_TABLE2, SmiHandlerUnRegister) == 0xE8);
static_assert(sizeof(EFI_SMM_SYSTEM_TABLE2) == 0xF0);
#endif  // TIV_EDK2
