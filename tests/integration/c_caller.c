// What a platform's C driver does with the public headers: allocate the
// records on its stack and call the protocol's slots.
#include "tests/integration/c_caller.h"

void CCallerRoundTrip(const TranslationProtocol* tp, UINT64 systemAddress, CRoundTrip* out) {
  out->toNormalized = tp->SystemToNormalized(&systemAddress, &out->normalized, &out->dram);
  out->toSystem = tp->NormalizedToSystem(&out->normalized, &out->system, &out->dramBack);
}

EFI_STATUS CCallerCapture(const TranslationProtocol* tp, McaBankSnapshot* snapshot,
                          UINT64 processor) {
  snapshot->processorNumber = processor;
  return tp->CaptureMcaBanks(snapshot);
}

#define SIZE_FACT(type, bytes) {#type, sizeof(type), sizeof(type)},
#define FIELD_FACT(type, field, offset) \
  {#type "." #field, offsetof(type, field), sizeof(((type*)0)->field)},

const CLayoutFact kCLayoutFacts[] = {C_CALLER_LAYOUT_ROWS(SIZE_FACT, FIELD_FACT){0, 0, 0}};

// Static-const objects are no constant expressions in C: they are copied at
// run time.
void CCallerConstants(uint64_t* values) {
  size_t i = 0;
#define STORE_CONSTANT(name) values[i++] = name;
  C_CALLER_CONSTANTS(STORE_CONSTANT)
#undef STORE_CONSTANT
}

void CCallerGuids(EFI_GUID* translation, EFI_GUID* topology) {
  *translation = gTranslationProtocolGuid;
  *topology = gPlatformTopologyProtocolGuid;
}
