// The one door from driver code to the processor and chipset. Two instances
// are linked, never both: hw/x64/ (one instruction or volatile access each) in
// the UEFI images, sim/ on the host.
#pragma once

#include <cstdint>

namespace hw {

uint8_t IoRead8(uint16_t port);
uint16_t IoRead16(uint16_t port);
uint32_t IoRead32(uint16_t port);
void IoWrite8(uint16_t port, uint8_t value);
void IoWrite16(uint16_t port, uint16_t value);
void IoWrite32(uint16_t port, uint32_t value);

// Uncached memory-mapped register access (PCI Express ECAM, memory-mapped
// UARTs): one volatile load or store of exactly the given width.
uint8_t MmioRead8(uint64_t address);
uint16_t MmioRead16(uint64_t address);
uint32_t MmioRead32(uint64_t address);
void MmioWrite8(uint64_t address, uint8_t value);
void MmioWrite16(uint64_t address, uint16_t value);
void MmioWrite32(uint64_t address, uint32_t value);

uint64_t ReadMsr(uint32_t index);
void WriteMsr(uint32_t index, uint64_t value);
// Read, OR, write back; returns the value written.
uint64_t MsrOr(uint32_t index, uint64_t orData);

struct CpuidResult {
  uint32_t eax, ebx, ecx, edx;
};
CpuidResult Cpuid(uint32_t leaf);

// CPUID with EAX = 0xBACCD00B, EBX = 2 and SI = 0; returns SI afterwards. A
// processor leaves SI alone (result 0); a simulated platform that takes over a
// fatal stop puts a non-zero value there. An assembly routine in firmware:
// C linkage, so its symbol is the plain name.
extern "C" uint16_t SimulatorStopRequest();

uint64_t ReadDr2();
void WriteDr2(uint64_t value);
uint64_t ReadDr3();
uint64_t ReadDr7();
void WriteDr7(uint64_t value);
uint64_t ReadCr4();
void WriteCr4(uint64_t value);

uint64_t ReadTsc();
void CpuPause();

// One 32-bit OUT with EDX = command (DX, its low 16 bits, is the port),
// EAX = value and EBX = length: the hand-off format of the hardware debugger
// that takes the I/O breakpoint. EAX and EBX are restored afterwards. An
// assembly routine in firmware, with C linkage.
extern "C" void DebugPortHandoff(uint32_t command, uint32_t value, uint32_t length);

}  // namespace hw
