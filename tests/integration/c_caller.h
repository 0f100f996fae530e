// A platform driver written in C: it calls TranslationProtocol through the
// public headers compiled as C (c_caller.c). The integration tests run it
// against AddrTranslateDxe on the simulated platform and compare with the
// same calls made from C++.
#pragma once

#include "mem_tune_mailbox.h"
#include "translation_protocol.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef struct CRoundTrip {
  EFI_STATUS toNormalized;  // slot 2
  NormalizedAddress normalized;
  DramAddress dram;
  EFI_STATUS toSystem;  // slot 1, from `normalized`
  UINT64 system;
  DramAddress dramBack;
} CRoundTrip;

// Slot 2 on `systemAddress`, then slot 1 on what it gave.
void CCallerRoundTrip(const TranslationProtocol* tp, UINT64 systemAddress, CRoundTrip* out);
// Slot 5 for `processor`.
EFI_STATUS CCallerCapture(const TranslationProtocol* tp, McaBankSnapshot* snapshot,
                          UINT64 processor);

// Sizes and field offsets as C sees them ("Record" for the size,
// "Record.field" for an offset); the list ends with a null name.
typedef struct CLayoutFact {
  const char* name;
  size_t value;
} CLayoutFact;
extern const CLayoutFact kCLayoutFacts[];

#ifdef __cplusplus
}
#endif
