// Machine-check registers of the simulated processors, and the processor list
// that the platform's topology protocol publishes (kept as a platform
// extension, so whoever installs that protocol can point it here).
#pragma once

#include "platform_topology_protocol.h"
#include "sim/platform/platform.h"

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace sim::mca {

inline constexpr uint32_t kMcgCapMsr = 0x179;
inline constexpr uint32_t kBankMsrBase = 0xC0002000;
inline constexpr unsigned kBankRegisters = 11;  // n = 0 .. 0xA

inline uint32_t BankMsr(unsigned bank, unsigned n) {
  return kBankMsrBase + 16 * bank + n;
}

// Sets the bank count in bits 7:0 of the capability register of `cpu`.
void SetBankCount(Platform& platform, unsigned cpu, unsigned count);
unsigned BankCount(Platform& platform, unsigned cpu);
void SetBankRegister(Platform& platform, unsigned cpu, unsigned bank, unsigned n, uint64_t value);
uint64_t BankRegister(Platform& platform, unsigned cpu, unsigned bank, unsigned n);

// Platform extension: the processor list in list order (entries may come in
// any order of processor number; the first match wins for its readers).
struct ProcessorList {
  std::vector<ProcessorListEntry> entries;
};
ProcessorList& Processors(Platform& platform);

// Appends an entry and makes sure the platform has a processor `number`.
void AddProcessor(Platform& platform, uint64_t number, const std::array<uint8_t, 5>& info);

// If a PlatformTopologyProtocol is installed, points its processor count and
// list at the extension's entries.
void PublishProcessorList(Platform& platform);

// Names of the architectural status bits 63..57 (valid, overflow,
// uncorrected, enabled, misc valid, address valid, processor context
// corrupt), as a list of the ones set.
std::vector<std::string> StatusBitNames(uint64_t status);

}  // namespace sim::mca
