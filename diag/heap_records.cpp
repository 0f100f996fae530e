#include "diag/heap_records.h"

#include "diag/boot_services_table.h"
#include "diag/fatal_stop.h"
#include "diag/hob_list.h"

namespace diag {

namespace {

constexpr uint8_t kPoolKindRuntime = 8;
constexpr uint8_t kStateCarry = 1;

constexpr uint32_t kStopRuntimePool = 0x00070177;
constexpr uint32_t kStopBootPool = 0x00070180;
constexpr uint32_t kStopInstall = 0x00070268;

// Published to later drivers when this one is the first: the word 1, then
// the head of the list. It lives in boot-services pool, not in the image: an
// image whose entry fails is unloaded and its pages freed, while an installed
// interface stays in the protocol database for every later driver to walk.
HeapListInterface* gOwnInterface = nullptr;
// The list head when no pool could be had for the interface: private to this
// image and never published.
LIST_ENTRY gPrivateHead = {nullptr, nullptr};
LIST_ENTRY* gListHead = nullptr;

void InsertTail(LIST_ENTRY* head, LIST_ENTRY* entry) {
  uefi::ListForward(entry) = head;
  uefi::ListBack(entry) = uefi::ListBack(head);
  uefi::ListForward(uefi::ListBack(head)) = entry;
  uefi::ListBack(head) = entry;
}

void Copy(void* destination, const void* source, uint64_t length) {
  gBS->CopyMem(destination, const_cast<void*>(source), length);
}

}  // namespace

EFI_STATUS HeapListConstructor() {
  void* found = nullptr;
  if (gBS->LocateProtocol(uefi::GuidArg(gHeapListProtocolGuid), nullptr, &found) == EFI_SUCCESS &&
      found != nullptr) {
    // An earlier driver copied the records already: share its list.
    gListHead = &static_cast<HeapListInterface*>(found)->Head;
    return EFI_SUCCESS;
  }

  void* memory = nullptr;
  if (gBS->AllocatePool(EfiBootServicesData, sizeof(HeapListInterface), &memory) == EFI_SUCCESS &&
      memory != nullptr) {
    gOwnInterface = static_cast<HeapListInterface*>(memory);
    gOwnInterface->Word = 1;
    gListHead = &gOwnInterface->Head;
  } else {
    gListHead = &gPrivateHead;
  }
  uefi::ListForward(gListHead) = gListHead;
  uefi::ListBack(gListHead) = gListHead;

  CollectHeapRecords();

  // Without an interface in pool the list cannot be published: that counts
  // as a failed install.
  EFI_STATUS status = EFI_OUT_OF_RESOURCES;
  if (gOwnInterface != nullptr) {
    EFI_HANDLE handle = nullptr;
    status = gBS->InstallProtocolInterface(&handle, uefi::GuidArg(gHeapListProtocolGuid),
                                           EFI_NATIVE_INTERFACE, gOwnInterface);
  }
  if (status != EFI_SUCCESS) FatalStop(kStopInstall);
  return status;
}

void CollectHeapRecords() {
  for (const EFI_HOB_GUID_TYPE* hob = GetFirstGuidHob(gHeapHobGuid); hob != nullptr;
       hob = GetNextGuidHob(gHeapHobGuid, NextHob(hob))) {
    // What the HOB holds after its own header; the record header and its data
    // must both lie inside it.
    const uint64_t room = hob->Header.HobLength - sizeof(EFI_HOB_GUID_TYPE);
    if (room < sizeof(HeapRecordHeader)) continue;
    const auto* header = reinterpret_cast<const HeapRecordHeader*>(hob + 1);
    if (header->Signature != HEAP_SIGNATURE || header->State != kStateCarry) continue;
    if (header->DataSize > room - sizeof(HeapRecordHeader)) continue;

    HeapBuffer* block = nullptr;
    if (AllocateHeapBuffer(header, &block) != EFI_SUCCESS) continue;
    if (header->DataSize != 0) Copy(block + 1, header + 1, header->DataSize);
  }
}

EFI_STATUS AllocateHeapBuffer(const HeapRecordHeader* header, HeapBuffer** out) {
  const uint64_t size = uint64_t{header->DataSize} + sizeof(HeapBuffer);
  if (size > UINT32_MAX) return EFI_INVALID_PARAMETER;

  void* block = nullptr;
  if (header->PoolKind == kPoolKindRuntime) {
    if (gBS->AllocatePool(EfiRuntimeServicesData, size, &block) != EFI_SUCCESS) {
      block = nullptr;
      FatalStop(kStopRuntimePool);
    }
  } else {
    if (gBS->AllocatePool(EfiBootServicesData, size, &block) != EFI_SUCCESS) {
      block = nullptr;
      FatalStop(kStopBootPool);
    }
  }
  if (block == nullptr) return EFI_UNSUPPORTED;

  auto* buffer = static_cast<HeapBuffer*>(block);
  *out = buffer;
  Copy(&buffer->Header, header, sizeof(HeapRecordHeader));
  InsertTail(gListHead, &buffer->Link);
  return EFI_SUCCESS;
}

uint32_t FindHeapBuffer(HeapBufferQuery* query) {
  if (gListHead != nullptr) {
    for (LIST_ENTRY* link = uefi::ListForward(gListHead); link != gListHead;
         link = uefi::ListForward(link)) {
      auto* node = reinterpret_cast<HeapBuffer*>(link);
      if (node->Header.Handle == query->Handle && node->Header.Signature == HEAP_SIGNATURE) {
        query->Data = node + 1;
        query->DataSize = node->Header.DataSize;
        return 0;
      }
    }
  }
  query->Data = nullptr;
  query->DataSize = 0;
  return 2;
}

LIST_ENTRY* HeapListHead() {
  return gListHead;
}
HeapListInterface* OwnHeapListInterface() {
  return gOwnInterface;
}

void ResetHeapRecordState() {
  gListHead = nullptr;
  gOwnInterface = nullptr;
  gPrivateHead = {nullptr, nullptr};
}

}  // namespace diag
