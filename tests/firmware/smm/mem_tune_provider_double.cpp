// MemTuneProvider double: one page (reserved memory, unless the build says
// otherwise) holding the mailbox (offset 0,
// 0xCA bytes), the settings record (offset 0x100, 0x40 bytes, a pattern in
// which every byte differs from its neighbours) and the provider record itself
// (offset 0x800): revision at 0, mailbox address at 4, settings-record address
// at 12, packed.
#include "tests/firmware/smm/debug_console.h"
#include "tests/firmware/smm/platform_double.h"

namespace fwtest {

namespace {

constexpr EFI_GUID kMemTuneProviderGuid = {
    0xAB776607, 0x6169, 0x44E8, {0xB8, 0xF1, 0x50, 0x12, 0x9D, 0x4A, 0x25, 0xDB}};
constexpr UINT64 kSettingsOffset = 0x100;
constexpr UINT64 kRecordOffset = 0x800;
constexpr unsigned kSettingsBytes = 0x40;
// Where the shared page comes from: reserved memory, as a provider must use;
// a build of the double for the refusal test puts it in memory SMM may unmap.
#ifndef TIV_DOUBLE_SHARED_MEMORY_TYPE
#define TIV_DOUBLE_SHARED_MEMORY_TYPE EfiReservedMemoryType
#endif
constexpr EFI_MEMORY_TYPE kSharedMemoryType = TIV_DOUBLE_SHARED_MEMORY_TYPE;

void Put(UINT64 at, UINT64 value, unsigned bytes) {
  auto* p = reinterpret_cast<volatile uint8_t*>(at);
  for (unsigned i = 0; i < bytes; ++i) p[i] = static_cast<uint8_t>(value >> (8 * i));
}

}  // namespace

EFI_STATUS InstallMemTuneProviderDouble() {
  const UINT64 page = AllocatePage(kSharedMemoryType);
  if (page == 0) {
    DebugText("MemTuneProviderDouble: no page\n");
    return EFI_OUT_OF_RESOURCES;
  }
  for (unsigned i = 0; i < kSettingsBytes; ++i) Put(page + kSettingsOffset + i, 0x11 + 7 * i, 1);
  const UINT64 record = page + kRecordOffset;
  Put(record + 0, 1, 4);
  Put(record + 4, page, 8);
  Put(record + 12, page + kSettingsOffset, 8);
  EFI_HANDLE handle = nullptr;
  const EFI_STATUS status =
      gDoubleBS->InstallProtocolInterface(&handle, uefi::GuidArg(kMemTuneProviderGuid),
                                          EFI_NATIVE_INTERFACE, reinterpret_cast<void*>(record));
  DebugText("MemTuneProviderDouble: memory type ");
  DebugHex(kSharedMemoryType, 2);
  DebugText(" mailbox ");
  DebugHex(page, 16);
  DebugText(" settings ");
  DebugHex(page + kSettingsOffset, 16);
  DebugText(" install ");
  DebugHex(status, 16);
  DebugText("\n");
  return status;
}

}  // namespace fwtest
