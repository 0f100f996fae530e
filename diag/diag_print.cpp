#include "diag/diag_print.h"

#include "diag/format.h"

namespace diag {

namespace {

// First pass over the whole table: every IsAvailable is called, even after one
// said yes, because some back-ends probe hardware state when asked.
bool AnyAvailable(const DiagBackend* const* table) {
  bool any = false;
  for (const DiagBackend* const* b = table; *b != nullptr; ++b) {
    if ((*b)->IsAvailable()) any = true;
  }
  return any;
}

}  // namespace

void DiagVPrintTo(const DiagBackend* const* table, uint8_t enabled, uint64_t level,
                  const char* format, va_list args) {
  if (enabled == 0) return;

  char buffer[DIAG_BUFFER_SIZE];
  const uint64_t length = FormatV(buffer, sizeof buffer, format, args);

  if (!AnyAvailable(table)) return;

  for (const DiagBackend* const* b = table; *b != nullptr; ++b) {
    if (!(*b)->IsAvailable()) continue;
    // Each back-end starts from the default, so one back-end's mask never
    // leaks into the next.
    uint64_t mask = DiagDefaultLevelMask;
    (*b)->GetLevelMask(&mask);
    if ((level & mask) != 0) (*b)->Write(buffer, length);
  }
}

EFI_STATUS DiagInitializeBackendsOf(const DiagBackend* const* table) {
  if (!AnyAvailable(table)) return EFI_SUCCESS;
  for (const DiagBackend* const* b = table; *b != nullptr; ++b) {
    if ((*b)->IsAvailable()) (*b)->Initialize();
  }
  return EFI_SUCCESS;
}

void DiagVPrint(uint64_t level, const char* format, va_list args) {
  // The switch is a build-time constant: with printing off this folds away
  // before any formatting.
  if (DiagPrintEnabled == 0) return;
  DiagVPrintTo(DiagBackendTable, DiagPrintEnabled, level, format, args);
}

void DiagPrint(uint64_t level, const char* format, ...) {
  va_list args;
  va_start(args, format);
  DiagVPrint(level, format, args);
  va_end(args);
}

EFI_STATUS DiagInitializeBackends() {
  return DiagInitializeBackendsOf(DiagBackendTable);
}

}  // namespace diag
