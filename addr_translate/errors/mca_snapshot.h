// Machine-check bank snapshot (slot 5 of TranslationProtocol) and its bank
// reader, which runs on the processor being captured.
#pragma once

#include "addr_translate/errors/error_slots.h"

namespace atd {

// Machine-check capability register: bits 7:0 hold the number of banks.
inline constexpr uint32_t kMcgCapMsr = 0x179;
// Bank b's registers are MSRs kMcaBankMsrBase + 16 * b + n, n = 0..0xA.
inline constexpr uint32_t kMcaBankMsrBase = 0xC0002000;
inline constexpr uint32_t kMcaBankMsrStride = 16;
// Bits 43:32 of register 5 (the bank's instance id): all zero when no hardware
// block sits behind the bank.
inline constexpr uint64_t kMcaBankPresentMask = 0xFFF00000000ULL;
// Status register bit 63: the bank holds a logged error.
inline constexpr uint64_t kMcaStatusValid = 1ULL << 63;

// AP procedure: reads the banks of the processor it runs on into the
// McaBankSnapshot that Argument points to.
VOID EFIAPI ReadMcaBankRegisters(VOID* Argument);

}  // namespace atd
