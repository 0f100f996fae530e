#include "mem_tune/mapped_memory_check.h"

#include "mem_tune/address_range.h"
#include "mem_tune/driver_globals.h"

namespace mts {

namespace {

constexpr UINT64 kPageSize = 0x1000;
// Descriptors the map may gain between the size query and the read.
constexpr UINTN kMapSlackDescriptors = 4;
constexpr int kMapAttempts = 3;

// The last byte of a descriptor's pages; false when it has none or they would
// run past the end of the address space.
bool LastByteOf(const EFI_MEMORY_DESCRIPTOR& d, UINT64* last) {
  if (d.NumberOfPages == 0 || d.NumberOfPages > (~0ULL / kPageSize)) return false;
  return LastByteOfRange(d.PhysicalStart, d.NumberOfPages * kPageSize, last);
}

}  // namespace

bool RangeStaysMapped(const void* map, UINTN mapSize, UINTN descriptorSize, UINT64 address,
                      UINT64 length) {
  if (map == nullptr || descriptorSize < sizeof(EFI_MEMORY_DESCRIPTOR) || descriptorSize % 8 != 0)
    return false;
  UINT64 last = 0;
  if (!LastByteOfRange(address, length, &last)) return false;  // wraps around
  const auto* bytes = static_cast<const uint8_t*>(map);
  // Walk from the first byte: each step moves past the end of a mapped
  // descriptor that contains the current byte, so it ends after at most one
  // step per descriptor.
  UINT64 at = address;
  for (;;) {
    bool moved = false;
    for (UINTN off = 0; off + sizeof(EFI_MEMORY_DESCRIPTOR) <= mapSize; off += descriptorSize) {
      const auto& d = *reinterpret_cast<const EFI_MEMORY_DESCRIPTOR*>(bytes + off);
      UINT64 dLast = 0;
      if (!StaysMappedInSmm(d.Type) || !LastByteOf(d, &dLast)) continue;
      if (at < d.PhysicalStart || at > dLast) continue;
      if (dLast >= last) return true;
      at = dLast + 1;
      moved = true;
      break;
    }
    if (!moved) return false;
  }
}

bool SharedRecordsStayMapped(UINT64 mailbox, UINT64 mailboxLength, UINT64 settings,
                             UINT64 settingsLength) {
  UINTN size = 0, key = 0, descriptorSize = 0;
  UINT32 version = 0;
  EFI_STATUS status = gBS->GetMemoryMap(&size, nullptr, &key, &descriptorSize, &version);
  for (int attempt = 0; attempt < kMapAttempts && status == EFI_BUFFER_TOO_SMALL; ++attempt) {
    size +=
        kMapSlackDescriptors * (descriptorSize ? descriptorSize : sizeof(EFI_MEMORY_DESCRIPTOR));
    void* map = nullptr;
    if (EFI_ERROR(gSmst->SmmAllocatePool(EfiRuntimeServicesData, size, &map)) || map == nullptr)
      return false;
    status = gBS->GetMemoryMap(&size, static_cast<EFI_MEMORY_DESCRIPTOR*>(map), &key,
                               &descriptorSize, &version);
    bool mapped = false;
    if (!EFI_ERROR(status)) {
      mapped =
          RangeStaysMapped(map, size, descriptorSize, mailbox, mailboxLength) &&
          (settings == 0 || RangeStaysMapped(map, size, descriptorSize, settings, settingsLength));
    }
    gSmst->SmmFreePool(map);
    if (!EFI_ERROR(status)) return mapped;
  }
  return false;
}

}  // namespace mts
