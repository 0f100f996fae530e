// The back-ends every message is offered to, in this order.
#include "diag/backends/backends.h"

namespace diag {

void BackendInitializeNothing() {}

BOOLEAN BackendKeepLevelMask(uint64_t*) {
  return FALSE;
}

const DiagBackend* const DiagBackendTable[] = {&PostPortBackend, &DebugPortBackend, &UartBackend,
                                               &FixedUartBackend, nullptr};

}  // namespace diag
