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

// Library constructor: uses the list of an earlier driver's HeapListProtocol
// if there is one; otherwise builds the list from the HOBs under an interface
// allocated from boot-services pool and installs HeapListProtocol with it
// (FatalStop 0x00070268 if that install fails or no pool was had for the
// interface; the list is then this driver's alone).
EFI_STATUS HeapListConstructor();

// Copies every carried record of the HOB list into a HeapBuffer of the list.
// A record whose header or data would reach past the end of its HOB is not
// copied.
void CollectHeapRecords();

// Obtains a DataSize + 32 byte block (runtime-services data for PoolKind 8,
// boot-services data otherwise), copies the header into it and appends it to
// the list. EFI_UNSUPPORTED when no block was obtained (FatalStop returned),
// EFI_INVALID_PARAMETER when the block size would not fit 32 bits.
EFI_STATUS AllocateHeapBuffer(const HeapRecordHeader* header, HeapBuffer** out);

// 0 when found, 2 when not (a plain number, not an EFI_STATUS).
uint32_t FindHeapBuffer(HeapBufferQuery* query);

// The list head in use (null before the constructor ran).
LIST_ENTRY* HeapListHead();
// The interface this driver built when it was the first (a pool block; null
// before the constructor ran, when an earlier driver's list was found, or when
// no pool was had for it).
HeapListInterface* OwnHeapListInterface();

// Forgets the list and the driver's own interface, as a freshly loaded image
// starts (tests start every simulated boot afresh; the pool block stays where
// it is, as in firmware).
void ResetHeapRecordState();

}  // namespace diag
