// A diagnostic output back-end: four operations, called by the dispatcher in
// table order. DiagBackendTable is null-terminated.
#pragma once

#include "efi/uefi.h"

#include <cstdint>

namespace diag {

struct DiagBackend {
  BOOLEAN (*IsAvailable)();
  void (*Initialize)();
  BOOLEAN (*GetLevelMask)(uint64_t* mask);
  uint64_t (*Write)(const char* text, uint64_t length);
};

// The production table: PostPortBackend, DebugPortBackend, UartBackend,
// FixedUartBackend, then null.
extern const DiagBackend* const DiagBackendTable[];

}  // namespace diag
