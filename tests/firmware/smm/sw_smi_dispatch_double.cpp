// SwSmiDispatchProtocol double. OVMF dispatches no software SMIs by value, so
// a root SMI handler (registered with no handler type) runs on every SMI,
// reads the APM command port 0xB2 and calls the child registered for that
// value. SMIs that are not a registered value (the variable service's and
// others', hundreds per boot) are left to the other handlers.
//
// Interface: Register at offset 0, UnRegister at 8, MaximumSwiValue at 16.
// Register(This, handler, context, handle) takes a context whose first eight
// bytes are the SMI value; the child gets (its handle, its context, a
// software-SMI context {CPU index, command port value, data port value}).
#include "hw/hw.h"
#include "tests/firmware/smm/debug_console.h"
#include "tests/firmware/smm/platform_double.h"

namespace fwtest {

namespace {

constexpr EFI_GUID kSwSmiDispatchProtocolGuid = {
    0x881B4AB6, 0x17B0, 0x4BDF, {0x88, 0xE2, 0xD4, 0x29, 0xDA, 0x42, 0x5F, 0xFD}};
constexpr uint16_t kApmCommandPort = 0xB2, kApmDataPort = 0xB3;
constexpr EFI_STATUS kWarnInterruptSourcePending = 0x2000000000000000ULL;
constexpr EFI_STATUS kWarnInterruptSourceQuiesced = 0x2000000000000001ULL;
constexpr unsigned kMaxChildren = 8;

using ChildHandler = EFI_STATUS(EFIAPI*)(EFI_HANDLE, const VOID*, VOID*, UINTN*);

struct DispatchInterface;
using RegisterFn = EFI_STATUS(EFIAPI*)(DispatchInterface*, ChildHandler, const UINT64* context,
                                       EFI_HANDLE* handle);
using UnRegisterFn = EFI_STATUS(EFIAPI*)(DispatchInterface*, EFI_HANDLE handle);

struct DispatchInterface {
  RegisterFn Register;
  UnRegisterFn UnRegister;
  UINTN MaximumSwiValue;
};
static_assert(sizeof(DispatchInterface) == 24);

struct Child {
  bool used;
  UINT64 value;
  UINT64 context[2];  // the registration context as given (value, flags byte)
  ChildHandler handler;
};

struct SwContext {
  UINTN SwSmiCpuIndex;
  UINT8 CommandPort;
  UINT8 DataPort;
};

DispatchInterface gDispatch;
Child gChildren[kMaxChildren];

EFI_STATUS EFIAPI Register(DispatchInterface*, ChildHandler handler, const UINT64* context,
                           EFI_HANDLE* handle) {
  if (handler == nullptr || context == nullptr || handle == nullptr) return EFI_INVALID_PARAMETER;
  const UINT64 value = context[0];
  if (value > gDispatch.MaximumSwiValue) return EFI_INVALID_PARAMETER;
  Child* free = nullptr;
  for (Child& c : gChildren) {
    if (c.used && c.value == value) return EFI_INVALID_PARAMETER;
    if (!c.used && free == nullptr) free = &c;
  }
  if (free == nullptr) return EFI_OUT_OF_RESOURCES;
  free->used = true;
  free->value = value;
  free->context[0] = context[0];
  free->context[1] = context[1];
  free->handler = handler;
  *handle = free;
  DebugText("SwSmiDispatchDouble: registered SMI ");
  DebugHex(value, 2);
  DebugText(" flags ");
  DebugHex(context[1] & 0xFF, 2);
  DebugText("\n");
  return EFI_SUCCESS;
}

EFI_STATUS EFIAPI UnRegister(DispatchInterface*, EFI_HANDLE handle) {
  for (Child& c : gChildren) {
    if (c.used && &c == handle) {
      c.used = false;
      return EFI_SUCCESS;
    }
  }
  return EFI_INVALID_PARAMETER;
}

EFI_STATUS EFIAPI RootSmiHandler(EFI_HANDLE, const VOID*, VOID*, UINTN*) {
  const uint8_t command = hw::IoRead8(kApmCommandPort);
  for (Child& c : gChildren) {
    if (!c.used || c.value != command) continue;
    SwContext sw{gDoubleSmst->CurrentlyExecutingCpu, command, hw::IoRead8(kApmDataPort)};
    UINTN size = sizeof sw;
    const EFI_STATUS status = c.handler(&c, c.context, &sw, &size);
    DebugText("SwSmiDispatchDouble: SMI ");
    DebugHex(command, 2);
    DebugText(" handled, status ");
    DebugHex(status, 16);
    DebugText("\n");
    return kWarnInterruptSourceQuiesced;
  }
  return kWarnInterruptSourcePending;
}

}  // namespace

EFI_STATUS InstallSwSmiDispatchDouble() {
  gDispatch.Register = Register;
  gDispatch.UnRegister = UnRegister;
  gDispatch.MaximumSwiValue = 0xFF;
  EFI_HANDLE root = nullptr;
  EFI_STATUS status = gDoubleSmst->SmiHandlerRegister(RootSmiHandler, nullptr, &root);
  if (EFI_ERROR(status)) {
    DebugText("SwSmiDispatchDouble: SmiHandlerRegister failed\n");
    return status;
  }
  EFI_HANDLE handle = nullptr;
  status = gDoubleSmst->SmmInstallProtocolInterface(
      &handle, uefi::GuidArg(kSwSmiDispatchProtocolGuid), EFI_NATIVE_INTERFACE, &gDispatch);
  DebugText("SwSmiDispatchDouble: install ");
  DebugHex(status, 16);
  DebugText("\n");
  return status;
}

}  // namespace fwtest
