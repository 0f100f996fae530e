// Heap records handed over from the earlier boot phase as GUID-extension HOBs,
// copied once per boot into pool blocks and shared through HeapListProtocol.
#pragma once

#include "efi/uefi.h"

#include <cstddef>
#include <cstdint>

namespace diag {

inline constexpr EFI_GUID gHeapListProtocolGuid = {
    0xAF62673D, 0xDEDA, 0x43AE, {0x8F, 0x03, 0x9C, 0x2D, 0x89, 0xFD, 0x78, 0xDA}};
inline constexpr EFI_GUID gHeapHobGuid = {
    0xD97D161A, 0x16CD, 0x4ADA, {0xB9, 0xF6, 0xAE, 0xC3, 0xF9, 0xFC, 0xCC, 0x2C}};

inline constexpr uint32_t HEAP_SIGNATURE = 0x50414548;  // "HEAP"

struct HeapRecordHeader {
  uint32_t Signature;
  uint32_t Handle;
  uint32_t DataSize;
  uint8_t PoolKind;  // 8: runtime-services data; else boot-services data
  uint8_t State;     // 1: carry into DXE
  uint8_t Reserved[2];
};
static_assert(sizeof(HeapRecordHeader) == 16);
static_assert(offsetof(HeapRecordHeader, Handle) == 4);
static_assert(offsetof(HeapRecordHeader, DataSize) == 8);
static_assert(offsetof(HeapRecordHeader, PoolKind) == 12);
static_assert(offsetof(HeapRecordHeader, State) == 13);

struct HeapBuffer {
  LIST_ENTRY Link;
  HeapRecordHeader Header;
  // DataSize bytes of record data follow
};
static_assert(sizeof(HeapBuffer) == 32);
static_assert(offsetof(HeapBuffer, Header) == 16);

struct HeapListInterface {
  uint64_t Word;  // 1 when this driver publishes it; never read
  LIST_ENTRY Head;
};
static_assert(offsetof(HeapListInterface, Head) == 8);

struct HeapBufferQuery {
  uint32_t Handle;    // in
  uint32_t DataSize;  // out
  void* Data;         // out: record data inside the HeapBuffer (block + 32)
};
static_assert(offsetof(HeapBufferQuery, DataSize) == 4);
static_assert(offsetof(HeapBufferQuery, Data) == 8);

// 0 when found, 2 when not (a plain number, not an EFI_STATUS).
uint32_t FindHeapBuffer(HeapBufferQuery* query);

}  // namespace diag
