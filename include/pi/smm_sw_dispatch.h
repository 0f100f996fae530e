// The software-SMI dispatch protocol: calls a registered handler each time
// software SMI with the registered input value is raised through the
// chipset's SMI command port. Register is the operation at offset 0.
#pragma once

#include "efi/uefi.h"
#include "pi/smm_system_table.h"

#include <cstddef>

constexpr EFI_GUID kSwSmiDispatchProtocolGuid = {
    0x881B4AB6, 0x17B0, 0x4BDF, {0x88, 0xE2, 0xD4, 0x29, 0xDA, 0x42, 0x5F, 0xFD}};

// Registration context: the SMI input value, then a byte of dispatch flags
// whose meaning belongs to the dispatcher.
struct SW_SMI_REGISTER_CONTEXT {
  UINTN SwSmiInputValue;
  UINT8 DispatchFlags;
};
static_assert(offsetof(SW_SMI_REGISTER_CONTEXT, SwSmiInputValue) == 0);
static_assert(offsetof(SW_SMI_REGISTER_CONTEXT, DispatchFlags) == 8);
static_assert(sizeof(SW_SMI_REGISTER_CONTEXT) == 16);

struct SW_SMI_DISPATCH_PROTOCOL;

typedef EFI_STATUS(EFIAPI* SW_SMI_REGISTER)(SW_SMI_DISPATCH_PROTOCOL* This,
                                            EFI_SMM_HANDLER_ENTRY_POINT2 DispatchFunction,
                                            SW_SMI_REGISTER_CONTEXT* RegisterContext,
                                            EFI_HANDLE* DispatchHandle);
typedef EFI_STATUS(EFIAPI* SW_SMI_UNREGISTER)(SW_SMI_DISPATCH_PROTOCOL* This,
                                              EFI_HANDLE DispatchHandle);

struct SW_SMI_DISPATCH_PROTOCOL {
  SW_SMI_REGISTER Register;
  SW_SMI_UNREGISTER UnRegister;
  UINTN MaximumSwiValue;
};
static_assert(offsetof(SW_SMI_DISPATCH_PROTOCOL, Register) == 0);
static_assert(offsetof(SW_SMI_DISPATCH_PROTOCOL, UnRegister) == 8);
static_assert(sizeof(SW_SMI_DISPATCH_PROTOCOL) == 24);
