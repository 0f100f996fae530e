// Filtered diagnostic print: one formatting into 512 bytes, offered to every
// available back-end whose level mask shares a bit with the message's level.
#pragma once

#include "diag/diag_backend.h"
#include "registers/uart16550.h"
#include "efi/uefi.h"

#include <cstdarg>
#include <cstdint>

#ifndef TIV_DIAG_PRINT_ENABLED
#define TIV_DIAG_PRINT_ENABLED 0
#endif

namespace diag {

// Build-time configuration; never changed at run time. In the EDK II build
// the platform's DSC chooses it (TivFirmwarePkg.dec's PCDs, with these
// defaults).
#ifdef TIV_EDK2
inline constexpr uint8_t DiagPrintEnabled = FixedPcdGet8(PcdTivDiagPrintEnabled);
inline constexpr uint64_t DiagDefaultLevelMask = FixedPcdGet64(PcdTivDiagLevelMask);
inline constexpr uint8_t DiagDebugPortAllowed = FixedPcdGet8(PcdTivDiagDebugPortAllowed);
inline constexpr uint64_t DiagUartBase = FixedPcdGet64(PcdTivDiagUartBase);
inline constexpr uint16_t DiagPostPort = FixedPcdGet16(PcdTivDiagPostPort);
#else
inline constexpr uint8_t DiagPrintEnabled = TIV_DIAG_PRINT_ENABLED;
inline constexpr uint64_t DiagDefaultLevelMask = 0x100401008A300408ULL;
inline constexpr uint8_t DiagDebugPortAllowed = 1;
inline constexpr uint64_t DiagUartBase = uart16550::kCom1Base;
inline constexpr uint16_t DiagPostPort = 0x80;
#endif
inline constexpr unsigned DIAG_BUFFER_SIZE = 512;

// Level of every message of the translations (bit 50).
inline constexpr uint64_t DiagLevelTranslation = 0x0004000000000000ULL;

void DiagPrint(uint64_t level, const char* format, ...) __attribute__((format(printf, 2, 3)));
void DiagVPrint(uint64_t level, const char* format, va_list args);

// Start-up initialisation of the back-ends of DiagBackendTable (a library
// constructor). Always EFI_SUCCESS.
EFI_STATUS DiagInitializeBackends();

// The dispatcher and the initialisation over a given null-terminated table
// and master switch. DiagVPrint and DiagInitializeBackends call these with
// DiagBackendTable and DiagPrintEnabled; tests call them with their own.
void DiagVPrintTo(const DiagBackend* const* table, uint8_t enabled, uint64_t level,
                  const char* format, va_list args);
EFI_STATUS DiagInitializeBackendsOf(const DiagBackend* const* table);

}  // namespace diag
