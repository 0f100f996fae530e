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

#define SIZE_FACT(type) \
  { #type, sizeof(type) }
#define FIELD_FACT(type, field) \
  { #type "." #field, offsetof(type, field) }

const CLayoutFact kCLayoutFacts[] = {
    SIZE_FACT(NormalizedAddress),
    FIELD_FACT(NormalizedAddress, normalizedAddr),
    FIELD_FACT(NormalizedAddress, socketId),
    FIELD_FACT(NormalizedAddress, dieId),
    FIELD_FACT(NormalizedAddress, channelId),
    FIELD_FACT(NormalizedAddress, reserved),
    SIZE_FACT(DramAddress),
    FIELD_FACT(DramAddress, chipSelect),
    FIELD_FACT(DramAddress, bank),
    FIELD_FACT(DramAddress, row),
    FIELD_FACT(DramAddress, col),
    FIELD_FACT(DramAddress, rankMul),
    SIZE_FACT(McaBankEntry),
    FIELD_FACT(McaBankEntry, msr1),
    FIELD_FACT(McaBankEntry, msr6),
    FIELD_FACT(McaBankEntry, msr8),
    FIELD_FACT(McaBankEntry, msrA),
    FIELD_FACT(McaBankSnapshot, processorInfo),
    FIELD_FACT(McaBankSnapshot, bankCount),
    FIELD_FACT(McaBankSnapshot, banks),
    SIZE_FACT(TranslationProtocol),
    FIELD_FACT(TranslationProtocol, NormalizedToSystem),
    FIELD_FACT(TranslationProtocol, SystemToNormalized),
    FIELD_FACT(TranslationProtocol, AppendBertRecord),
    FIELD_FACT(TranslationProtocol, AddHestErrorSource),
    FIELD_FACT(TranslationProtocol, CaptureMcaBanks),
    FIELD_FACT(TranslationProtocol, AddHestErrorSources),
    SIZE_FACT(MemTuneMailbox),
    FIELD_FACT(MemTuneMailbox, Status),
    FIELD_FACT(MemTuneMailbox, Sequence),
    FIELD_FACT(MemTuneMailbox, Request),
    FIELD_FACT(MemTuneMailbox, Command),
    FIELD_FACT(MemTuneMailbox, MemClock),
    FIELD_FACT(MemTuneMailbox, Setting25),
    FIELD_FACT(MemTuneMailbox, tRFC1),
    FIELD_FACT(MemTuneMailbox, Setting09),
    FIELD_FACT(MemTuneMailbox, Setting3C),
    FIELD_FACT(MemTuneMailbox, SetupOnly),
    FIELD_FACT(MemTuneMailbox, CallerC9),
    {0, 0},
};
