// Placeholder dispatcher until the formatter and dispatch land.
#include "diag/diag_print.h"

namespace diag {

void DiagPrint(uint64_t level, const char* format, ...) {
  va_list args;
  va_start(args, format);
  DiagVPrint(level, format, args);
  va_end(args);
}

void DiagVPrint(uint64_t, const char*, va_list) {}

}  // namespace diag
