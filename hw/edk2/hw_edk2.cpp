// The EDK II instance of hw/: each function is one call of MdePkg's BaseLib or
// IoLib (the library instances the platform's DSC chooses). As in hw/x64/,
// every access is also a compiler barrier ("memory" clobber) on both sides:
// a link-time-optimised build may inline the library's accessors, and those
// do not all promise that memory accesses stay on their side of the access.
#include "hw/hw.h"

extern "C" {
#include <Base.h>
#include <Library/BaseLib.h>
#include <Library/IoLib.h>
}

namespace hw {

namespace {

inline void CompilerBarrier() {
  __asm__ __volatile__("" : : : "memory");
}

// A read between two compiler barriers.
template <typename F>
inline auto Read(F access) {
  CompilerBarrier();
  const auto v = access();
  CompilerBarrier();
  return v;
}

// A write (or read-modify-write) between two compiler barriers.
template <typename F>
inline void Write(F access) {
  CompilerBarrier();
  access();
  CompilerBarrier();
}

}  // namespace

uint8_t IoRead8(uint16_t port) {
  return Read([=] { return ::IoRead8(port); });
}
uint16_t IoRead16(uint16_t port) {
  return Read([=] { return ::IoRead16(port); });
}
uint32_t IoRead32(uint16_t port) {
  return Read([=] { return ::IoRead32(port); });
}
void IoWrite8(uint16_t port, uint8_t value) {
  Write([=] { ::IoWrite8(port, value); });
}
void IoWrite16(uint16_t port, uint16_t value) {
  Write([=] { ::IoWrite16(port, value); });
}
void IoWrite32(uint16_t port, uint32_t value) {
  Write([=] { ::IoWrite32(port, value); });
}

uint8_t MmioRead8(uint64_t address) {
  return Read([=] { return ::MmioRead8(address); });
}
uint16_t MmioRead16(uint64_t address) {
  return Read([=] { return ::MmioRead16(address); });
}
uint32_t MmioRead32(uint64_t address) {
  return Read([=] { return ::MmioRead32(address); });
}
void MmioWrite8(uint64_t address, uint8_t value) {
  Write([=] { ::MmioWrite8(address, value); });
}
void MmioWrite16(uint64_t address, uint16_t value) {
  Write([=] { ::MmioWrite16(address, value); });
}
void MmioWrite32(uint64_t address, uint32_t value) {
  Write([=] { ::MmioWrite32(address, value); });
}

uint64_t ReadMsr(uint32_t index) {
  return Read([=] { return AsmReadMsr64(index); });
}
void WriteMsr(uint32_t index, uint64_t value) {
  Write([=] { AsmWriteMsr64(index, value); });
}
uint64_t MsrOr(uint32_t index, uint64_t orData) {
  return Read([=] { return AsmMsrOr64(index, orData); });
}

// CPUID with ECX = 0, as hw/x64/ does it: AsmCpuidEx with sub-leaf 0.
CpuidResult Cpuid(uint32_t leaf) {
  UINT32 a = 0, b = 0, c = 0, d = 0;
  AsmCpuidEx(leaf, 0, &a, &b, &c, &d);
  return CpuidResult{a, b, c, d};
}

uint64_t ReadDr2() {
  return Read([] { return static_cast<uint64_t>(AsmReadDr2()); });
}
void WriteDr2(uint64_t value) {
  Write([=] { AsmWriteDr2(value); });
}
uint64_t ReadDr3() {
  return Read([] { return static_cast<uint64_t>(AsmReadDr3()); });
}
uint64_t ReadDr7() {
  return Read([] { return static_cast<uint64_t>(AsmReadDr7()); });
}
void WriteDr7(uint64_t value) {
  Write([=] { AsmWriteDr7(value); });
}
uint64_t ReadCr4() {
  return Read([] { return static_cast<uint64_t>(AsmReadCr4()); });
}
void WriteCr4(uint64_t value) {
  Write([=] { AsmWriteCr4(value); });
}

uint64_t ReadTsc() {
  return AsmReadTsc();
}
void CpuPause() {
  ::CpuPause();
}

}  // namespace hw
