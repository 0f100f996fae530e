// What AddrTranslateDxe's start-up leaves behind: TranslationProtocol with its
// six operations, and the heap list published through HeapListProtocol.
#include "diag/heap_records.h"
#include "probe.h"
#include "translation_protocol.h"

namespace probe {

void CheckTranslationProtocol(Context& ctx) {
  const char* name = "translation-protocol";
  auto* tp = static_cast<TranslationProtocol*>(ctx.Locate(name, gTranslationProtocolGuid));
  if (tp == nullptr) return;
  const void* slots[] = {reinterpret_cast<void*>(tp->NormalizedToSystem),
                         reinterpret_cast<void*>(tp->SystemToNormalized),
                         reinterpret_cast<void*>(tp->AppendBertRecord),
                         reinterpret_cast<void*>(tp->AddHestErrorSource),
                         reinterpret_cast<void*>(tp->CaptureMcaBanks),
                         reinterpret_cast<void*>(tp->AddHestErrorSources)};
  for (const void* s : slots) {
    if (s == nullptr) {
      ctx.Fail(name,
               Text().Add("null slot in interface ").Hex(reinterpret_cast<UINTN>(tp)).c_str());
      return;
    }
  }
  ctx.Pass(name, Text().Add("installed at ").Hex(reinterpret_cast<UINTN>(tp)).c_str());

  // A call through the firmware's calling convention that touches no
  // hardware: null arguments are refused by the frame.
  const EFI_STATUS s = tp->SystemToNormalized(nullptr, nullptr, nullptr);
  ctx.Expect("translation-null-arguments", s == EFI_INVALID_PARAMETER,
             Text().Add("slot 2 status ").Hex(s).c_str());
}

void CheckHeapListProtocol(Context& ctx) {
  const char* name = "heap-list-protocol";
  auto* list = static_cast<diag::HeapListInterface*>(ctx.Locate(name, diag::gHeapListProtocolGuid));
  if (list == nullptr) return;
  // Walk the list (bounded); every node must lead back to the head.
  unsigned nodes = 0;
  const LIST_ENTRY* l = list->Head.Flink;
  while (l != nullptr && l != &list->Head && nodes < 1000) {
    ++nodes;
    l = l->Flink;
  }
  ctx.Expect(name, l == &list->Head && list->Word == 1,
             Text().Add("word ").Hex(list->Word).Add(" nodes ").Hex(nodes).c_str());
}

}  // namespace probe
