// Placeholder back-end table until the output back-ends land: empty.
#include "diag/diag_backend.h"

namespace diag {

const DiagBackend* const DiagBackendTable[] = {nullptr};

}  // namespace diag
