/* What AddrTranslateDxe's start-up leaves behind: TranslationProtocol with its
 * six operations, and the heap list published through HeapListProtocol, whose
 * interface must lie in allocated pool memory (never in an image's pages,
 * which firmware frees when the image's entry fails). */
#include "probe.h"
#include "translation_protocol.h"

static const EFI_GUID kHeapListGuid = PROBE_HEAP_LIST_PROTOCOL_GUID;

void CheckTranslationProtocol(ProbeContext* ctx) {
  const char* name = "translation-protocol";
  ProbeText t;
  TranslationProtocol* tp = (TranslationProtocol*)ProbeLocate(ctx, name, &gTranslationProtocolGuid);
  if (tp == 0) return;
  if (tp->NormalizedToSystem == 0 || tp->SystemToNormalized == 0 || tp->AppendBertRecord == 0 ||
      tp->AddHestErrorSource == 0 || tp->CaptureMcaBanks == 0 || tp->AddHestErrorSources == 0) {
    ProbeFail(ctx, name, TextHex(TextAdd(TextInit(&t), "null slot in interface "), (UINTN)tp)->buf);
    return;
  }
  ProbePass(ctx, name, TextHex(TextAdd(TextInit(&t), "installed at "), (UINTN)tp)->buf);

  /* A call through the firmware's calling convention that touches no
   * hardware: null arguments are refused by the frame. */
  const EFI_STATUS s = tp->SystemToNormalized(0, 0, 0);
  ProbeExpect(ctx, "translation-null-arguments", s == EFI_INVALID_PARAMETER,
              TextHex(TextAdd(TextInit(&t), "slot 2 status "), s)->buf);
}

/* PASS when no handle carries the protocol. */
static void ExpectProtocolAbsent(ProbeContext* ctx, const char* check, const EFI_GUID* guid) {
  void* iface = 0;
  const EFI_STATUS s = ctx->bs->LocateProtocol((EFI_GUID*)guid, 0, &iface);
  ProbeText t;
  ProbeExpect(ctx, check, s == EFI_NOT_FOUND,
              TextHex(TextAdd(TextInit(&t), "LocateProtocol status "), s)->buf);
}

void CheckTranslationProtocolAbsent(ProbeContext* ctx) {
  ExpectProtocolAbsent(ctx, "translation-protocol-absent", &gTranslationProtocolGuid);
}

void CheckHeapListProtocol(ProbeContext* ctx) {
  const char* name = "heap-list-protocol";
  ProbeHeapList* list = (ProbeHeapList*)ProbeLocate(ctx, name, &kHeapListGuid);
  if (list == 0) return;
  /* Walk the list (bounded); every node must lead back to the head. */
  unsigned nodes = 0;
  const LIST_ENTRY* l = list->head.Flink;
  while (l != 0 && l != &list->head && nodes < 1000) {
    ++nodes;
    l = l->Flink;
  }
  ProbeText t;
  TextHex(TextAdd(TextHex(TextAdd(TextInit(&t), "word "), list->word), " nodes "), nodes);
  ProbeExpect(ctx, name, l == &list->head && list->word == 1, t.buf);
}

void CheckHeapListProtocolAbsent(ProbeContext* ctx) {
  ExpectProtocolAbsent(ctx, "heap-list-protocol-absent", &kHeapListGuid);
}

/* The memory type of the page that holds `address`, from the memory map;
 * false when no descriptor covers it or the map could not be read. */
static bool MemoryTypeAt(ProbeContext* ctx, UINTN address, UINT32* type) {
  UINTN size = 0, key = 0, descriptorSize = 0;
  UINT32 version = 0;
  if (ctx->bs->GetMemoryMap(&size, 0, &key, &descriptorSize, &version) != EFI_BUFFER_TOO_SMALL ||
      descriptorSize == 0)
    return false;
  size += 8 * descriptorSize;  // room for the pool block itself
  void* map = 0;
  if (ctx->bs->AllocatePool(EfiBootServicesData, size, &map) != EFI_SUCCESS) return false;
  bool found = false;
  if (ctx->bs->GetMemoryMap(&size, (EFI_MEMORY_DESCRIPTOR*)map, &key, &descriptorSize, &version) ==
      EFI_SUCCESS) {
    for (UINTN offset = 0; offset + descriptorSize <= size && !found; offset += descriptorSize) {
      const EFI_MEMORY_DESCRIPTOR* d = (const EFI_MEMORY_DESCRIPTOR*)((UINT8*)map + offset);
      if (d->PhysicalStart <= address && address - d->PhysicalStart < d->NumberOfPages * 4096) {
        *type = d->Type;
        found = true;
      }
    }
  }
  ctx->bs->FreePool(map);
  return found;
}

void CheckHeapListMemory(ProbeContext* ctx) {
  const char* name = "heap-list-memory";
  ProbeText t;
  void* iface = 0;
  if (ctx->bs->LocateProtocol((EFI_GUID*)&kHeapListGuid, 0, &iface) != EFI_SUCCESS || iface == 0) {
    ProbePass(ctx, name, "no HeapListProtocol installed");
    return;
  }
  UINT32 type = 0xFFFFFFFF;
  const bool known = MemoryTypeAt(ctx, (UINTN)iface, &type);
  TextHex(TextAdd(TextHex(TextAdd(TextInit(&t), "interface "), (UINTN)iface), " type "), type);
  /* Pool memory of the boot-services or runtime-services data kind; free
   * memory (7) or an image's code means the interface dangles. */
  ProbeExpect(ctx, name, known && (type == EfiBootServicesData || type == EfiRuntimeServicesData),
              t.buf);
}
