// Messages framed on the POST-code port, for a port-80 card or a logic
// analyser: 32-bit start word, the characters one byte each, 32-bit end word.
#include "diag/access_width.h"
#include "diag/backends/backends.h"
#include "diag/diag_print.h"

namespace diag {

namespace {

BOOLEAN PostPortIsAvailable() {
  return DiagPrintEnabled;
}

uint64_t PostPortWrite(const char* text, uint64_t length) {
  const uint32_t start = kPostFrameStart;
  IoWriteWidth(kAccessWidth32, DiagPostPort, &start, 0);
  for (uint64_t i = 0; i < length; ++i) IoWriteWidth(kAccessWidth8, DiagPostPort, &text[i], 0);
  const uint32_t end = kPostFrameEnd;
  IoWriteWidth(kAccessWidth32, DiagPostPort, &end, 0);
  return length;
}

}  // namespace

const DiagBackend PostPortBackend = {PostPortIsAvailable, BackendInitializeNothing,
                                     BackendKeepLevelMask, PostPortWrite};

}  // namespace diag
