// ConfigTokenService double: an interface record of 22 eight-byte slots with
// the 8-, 16- and 32-bit writes at byte offsets 0x88, 0x98 and 0xA8; every
// other slot logs a wrong-slot entry. Each call is logged (width, selector,
// token, value) in a reserved page and answered with EFI_SUCCESS.
#include "tests/firmware/smm/debug_console.h"
#include "tests/firmware/smm/platform_double.h"
#include "tests/firmware/smm/token_log.h"

namespace fwtest {

namespace {

constexpr EFI_GUID kConfigTokenServiceGuid = {
    0x8151730C, 0xE1D3, 0x4C8C, {0x91, 0x7B, 0xA3, 0x9B, 0x7E, 0xD4, 0x82, 0x65}};
constexpr unsigned kSlots = 0xB0 / 8;
constexpr unsigned kWrite8Slot = 0x88 / 8, kWrite16Slot = 0x98 / 8, kWrite32Slot = 0xA8 / 8;

// The interface record lives in SMRAM, in this image.
void* gTokenService[kSlots];
TokenLog* gLog = nullptr;

EFI_STATUS Record(uint8_t width, UINT8 selector, UINT32 token, UINT32 value) {
  if (gLog->count < gLog->capacity) {
    TokenLogEntry& e = gLog->entries[gLog->count];
    e.width = width;
    e.selector = selector;
    e.reserved = 0;
    e.token = token;
    e.value = value;
    gLog->count = gLog->count + 1;
  }
  DebugText("ConfigTokenDouble: width ");
  DebugHex(width, 2);
  DebugText(" selector ");
  DebugHex(selector, 2);
  DebugText(" token ");
  DebugHex(token, 8);
  DebugText(" value ");
  DebugHex(value, 8);
  DebugText("\n");
  return width == kTokenLogWrongSlot ? EFI_UNSUPPORTED : EFI_SUCCESS;
}

EFI_STATUS EFIAPI Write8(void*, UINT8 selector, UINT32 token, UINT8 value) {
  return Record(1, selector, token, value);
}
EFI_STATUS EFIAPI Write16(void*, UINT8 selector, UINT32 token, UINT16 value) {
  return Record(2, selector, token, value);
}
EFI_STATUS EFIAPI Write32(void*, UINT8 selector, UINT32 token, UINT32 value) {
  return Record(4, selector, token, value);
}
EFI_STATUS EFIAPI WrongSlot(void*, UINT8 selector, UINT32 token, UINT32 value) {
  return Record(kTokenLogWrongSlot, selector, token, value);
}

}  // namespace

EFI_STATUS InstallConfigTokenDouble() {
  const UINT64 page = AllocatePage(EfiReservedMemoryType);
  if (page == 0) {
    DebugText("ConfigTokenDouble: no reserved page\n");
    return EFI_OUT_OF_RESOURCES;
  }
  gLog = reinterpret_cast<TokenLog*>(page);
  gLog->signature = kTokenLogSignature;
  gLog->capacity = (0x1000 - offsetof(TokenLog, entries)) / sizeof(TokenLogEntry);
  gLog->count = 0;
  EFI_HANDLE logHandle = nullptr;
  EFI_STATUS status = gDoubleBS->InstallProtocolInterface(
      &logHandle, uefi::GuidArg(kTokenLogProtocolGuid), EFI_NATIVE_INTERFACE, gLog);
  if (EFI_ERROR(status)) return status;

  for (unsigned i = 0; i < kSlots; ++i) gTokenService[i] = reinterpret_cast<void*>(&WrongSlot);
  gTokenService[kWrite8Slot] = reinterpret_cast<void*>(&Write8);
  gTokenService[kWrite16Slot] = reinterpret_cast<void*>(&Write16);
  gTokenService[kWrite32Slot] = reinterpret_cast<void*>(&Write32);
  EFI_HANDLE handle = nullptr;
  status = gDoubleSmst->SmmInstallProtocolInterface(&handle, uefi::GuidArg(kConfigTokenServiceGuid),
                                                    EFI_NATIVE_INTERFACE, gTokenService);
  DebugText("ConfigTokenDouble: log ");
  DebugHex(page, 16);
  DebugText(" install ");
  DebugHex(status, 16);
  DebugText("\n");
  return status;
}

}  // namespace fwtest
