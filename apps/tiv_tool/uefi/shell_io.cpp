#include "apps/tiv_tool/uefi/shell_io.h"

#include "hw/hw.h"

#include <stddef.h>

namespace tivtool {

namespace {

// The operations of the shell protocol the tool calls, where gnu-efi's
// layout puts them (the order of the shell's interface).
static_assert(offsetof(EFI_SHELL_PROTOCOL, OpenFileByName) == 24 * sizeof(void*));
static_assert(offsetof(EFI_SHELL_PROTOCOL, CloseFile) == 25 * sizeof(void*));
static_assert(offsetof(EFI_SHELL_PROTOCOL, WriteFile) == 28 * sizeof(void*));
static_assert(offsetof(EFI_SHELL_PROTOCOL, DeleteFile) == 29 * sizeof(void*));

constexpr EFI_GUID kShellProtocolGuid = EFI_SHELL_PROTOCOL_GUID;
constexpr EFI_GUID kAcpi20TableGuid = ACPI_20_TABLE_GUID;

// `text` as UCS-2 in `out` (`room` characters with the terminating zero);
// false when it does not fit.
bool Wide(const char* text, CHAR16* out, size_t room) {
  size_t n = 0;
  for (; text[n] != '\0'; ++n) {
    if (n + 1 >= room) return false;
    out[n] = static_cast<CHAR16>(static_cast<unsigned char>(text[n]));
  }
  out[n] = 0;
  return true;
}

}  // namespace

void ShellIo::Print(const char* line) {
  if (st_->ConOut == nullptr) return;
  // In pieces: ConOut takes a zero-terminated string, the line may be long.
  CHAR16 wide[82];
  size_t n = 0;
  auto flush = [&] {
    wide[n] = 0;
    st_->ConOut->OutputString(st_->ConOut, wide);
    n = 0;
  };
  for (const char* p = line; *p != '\0'; ++p) {
    wide[n++] = static_cast<CHAR16>(static_cast<unsigned char>(*p));
    if (n == 80) flush();
  }
  wide[n++] = '\r';
  wide[n++] = '\n';
  flush();
}

TranslationProtocol* ShellIo::Translation() {
  void* iface = nullptr;
  if (st_->BootServices->LocateProtocol(uefi::GuidArg(gTranslationProtocolGuid), nullptr, &iface) !=
      EFI_SUCCESS)
    return nullptr;
  return static_cast<TranslationProtocol*>(iface);
}

const void* ShellIo::AcpiRsdp() {
  for (UINTN i = 0; i < st_->NumberOfTableEntries; ++i)
    if (uefi::SameGuid(st_->ConfigurationTable[i].VendorGuid, kAcpi20TableGuid))
      return st_->ConfigurationTable[i].VendorTable;
  return nullptr;
}

// Boot services run with physical memory mapped one to one. A table's
// pointer may still be damaged: the bytes must lie in memory the firmware's
// memory map describes (not device memory, not a hole), or reading them could
// fault or touch a device.
const void* ShellIo::Physical(uint64_t address, uint64_t size) {
  if (address == 0 || address + size < address) return nullptr;
  EFI_BOOT_SERVICES* bs = st_->BootServices;
  UINTN bytes = 0, key = 0, descriptorSize = 0;
  UINT32 version = 0;
  if (bs->GetMemoryMap(&bytes, nullptr, &key, &descriptorSize, &version) != EFI_BUFFER_TOO_SMALL ||
      descriptorSize < sizeof(EFI_MEMORY_DESCRIPTOR))
    return nullptr;
  bytes += 4 * descriptorSize;  // the allocation below may add a descriptor or two
  void* map = Allocate(bytes);
  if (map == nullptr) return nullptr;
  const void* result = nullptr;
  if (bs->GetMemoryMap(&bytes, static_cast<EFI_MEMORY_DESCRIPTOR*>(map), &key, &descriptorSize,
                       &version) == EFI_SUCCESS) {
    // Walk from the first byte: each step finds the descriptor holding it.
    uint64_t at = address;
    const uint64_t end = address + size;
    bool covered = true;
    while (covered && at < end) {
      covered = false;
      for (UINTN off = 0; off + descriptorSize <= bytes; off += descriptorSize) {
        const auto* d =
            reinterpret_cast<const EFI_MEMORY_DESCRIPTOR*>(static_cast<const uint8_t*>(map) + off);
        const uint64_t first = d->PhysicalStart, last = first + d->NumberOfPages * 4096;
        if (at < first || at >= last || d->Type == EfiMemoryMappedIO ||
            d->Type == EfiMemoryMappedIOPortSpace || d->Type == EfiUnusableMemory)
          continue;
        at = last;
        covered = true;
        break;
      }
    }
    if (covered) result = reinterpret_cast<const void*>(static_cast<UINTN>(address));
  }
  Free(map);
  return result;
}

void* ShellIo::Allocate(size_t bytes) {
  void* memory = nullptr;
  if (st_->BootServices->AllocatePool(EfiLoaderData, bytes, &memory) != EFI_SUCCESS) return nullptr;
  return memory;
}

void ShellIo::Free(void* memory) {
  if (memory != nullptr) st_->BootServices->FreePool(memory);
}

EFI_STATUS ShellIo::WriteFile(const char* path, const void* data, size_t size) {
  void* iface = nullptr;
  EFI_STATUS s =
      st_->BootServices->LocateProtocol(uefi::GuidArg(kShellProtocolGuid), nullptr, &iface);
  if (s != EFI_SUCCESS) return s;
  auto* shell = static_cast<EFI_SHELL_PROTOCOL*>(iface);
  CHAR16 name[260];
  if (!Wide(path, name, sizeof name / sizeof name[0])) return EFI_INVALID_PARAMETER;
  // An older file of that name goes first: opening it for writing would keep
  // its bytes beyond the new end.
  SHELL_FILE_HANDLE h = nullptr;
  if (shell->OpenFileByName(name, &h, EFI_FILE_MODE_READ | EFI_FILE_MODE_WRITE) == EFI_SUCCESS) {
    s = shell->DeleteFile(h);
    if (s != EFI_SUCCESS) return s;
  }
  s = shell->OpenFileByName(name, &h,
                            EFI_FILE_MODE_READ | EFI_FILE_MODE_WRITE | EFI_FILE_MODE_CREATE);
  if (s != EFI_SUCCESS) return s;
  UINTN written = size;
  s = shell->WriteFile(h, &written, const_cast<void*>(data));
  const EFI_STATUS closed = shell->CloseFile(h);
  if (s == EFI_SUCCESS && written != size) s = EFI_VOLUME_FULL;
  return s != EFI_SUCCESS ? s : closed;
}

// The time-stamp counter, its rate measured once against a 1 ms stall.
uint64_t ShellIo::Microseconds() {
  if (ticksPerMillisecond_ == 0) {
    const uint64_t start = hw::ReadTsc();
    st_->BootServices->Stall(1000);
    ticksPerMillisecond_ = hw::ReadTsc() - start;
    if (ticksPerMillisecond_ == 0) return 0;
  }
  return hw::ReadTsc() * 1000 / ticksPerMillisecond_;
}

}  // namespace tivtool
