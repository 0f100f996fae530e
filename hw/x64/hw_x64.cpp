// Firmware instance of hw/: each function is one instruction or one volatile
// access. Every access to a port, a device register, an MSR or a control
// register is also a compiler barrier (a "memory" clobber): memory accesses
// around it are neither moved across it nor cached in registers across it,
// whether or not the function stays out of line.
#include "hw/hw.h"

namespace hw {

namespace {

inline void CompilerBarrier() {
  __asm__ __volatile__("" : : : "memory");
}

template <typename T>
inline T MmioRead(uint64_t address) {
  CompilerBarrier();
  const T v = *reinterpret_cast<volatile T*>(address);
  CompilerBarrier();
  return v;
}

template <typename T>
inline void MmioWrite(uint64_t address, T value) {
  CompilerBarrier();
  *reinterpret_cast<volatile T*>(address) = value;
  CompilerBarrier();
}

}  // namespace

uint8_t IoRead8(uint16_t port) {
  uint8_t v;
  __asm__ __volatile__("inb %1, %0" : "=a"(v) : "Nd"(port) : "memory");
  return v;
}
uint16_t IoRead16(uint16_t port) {
  uint16_t v;
  __asm__ __volatile__("inw %1, %0" : "=a"(v) : "Nd"(port) : "memory");
  return v;
}
uint32_t IoRead32(uint16_t port) {
  uint32_t v;
  __asm__ __volatile__("inl %1, %0" : "=a"(v) : "Nd"(port) : "memory");
  return v;
}
void IoWrite8(uint16_t port, uint8_t value) {
  __asm__ __volatile__("outb %0, %1" : : "a"(value), "Nd"(port) : "memory");
}
void IoWrite16(uint16_t port, uint16_t value) {
  __asm__ __volatile__("outw %0, %1" : : "a"(value), "Nd"(port) : "memory");
}
void IoWrite32(uint16_t port, uint32_t value) {
  __asm__ __volatile__("outl %0, %1" : : "a"(value), "Nd"(port) : "memory");
}

uint8_t MmioRead8(uint64_t address) {
  return MmioRead<uint8_t>(address);
}
uint16_t MmioRead16(uint64_t address) {
  return MmioRead<uint16_t>(address);
}
uint32_t MmioRead32(uint64_t address) {
  return MmioRead<uint32_t>(address);
}
void MmioWrite8(uint64_t address, uint8_t value) {
  MmioWrite<uint8_t>(address, value);
}
void MmioWrite16(uint64_t address, uint16_t value) {
  MmioWrite<uint16_t>(address, value);
}
void MmioWrite32(uint64_t address, uint32_t value) {
  MmioWrite<uint32_t>(address, value);
}

uint64_t ReadMsr(uint32_t index) {
  uint32_t lo, hi;
  __asm__ __volatile__("rdmsr" : "=a"(lo), "=d"(hi) : "c"(index) : "memory");
  return (static_cast<uint64_t>(hi) << 32) | lo;
}
void WriteMsr(uint32_t index, uint64_t value) {
  __asm__ __volatile__("wrmsr"
                       :
                       : "c"(index), "a"(static_cast<uint32_t>(value)),
                         "d"(static_cast<uint32_t>(value >> 32))
                       : "memory");
}
uint64_t MsrOr(uint32_t index, uint64_t orData) {
  const uint64_t v = ReadMsr(index) | orData;
  WriteMsr(index, v);
  return v;
}

CpuidResult Cpuid(uint32_t leaf) {
  CpuidResult r;
  __asm__ __volatile__("cpuid"
                       : "=a"(r.eax), "=b"(r.ebx), "=c"(r.ecx), "=d"(r.edx)
                       : "a"(leaf), "c"(0));
  return r;
}

uint64_t ReadDr2() {
  uint64_t v;
  __asm__ __volatile__("mov %%dr2, %0" : "=r"(v) : : "memory");
  return v;
}
void WriteDr2(uint64_t value) {
  __asm__ __volatile__("mov %0, %%dr2" : : "r"(value) : "memory");
}
uint64_t ReadDr3() {
  uint64_t v;
  __asm__ __volatile__("mov %%dr3, %0" : "=r"(v) : : "memory");
  return v;
}
uint64_t ReadDr7() {
  uint64_t v;
  __asm__ __volatile__("mov %%dr7, %0" : "=r"(v) : : "memory");
  return v;
}
void WriteDr7(uint64_t value) {
  __asm__ __volatile__("mov %0, %%dr7" : : "r"(value) : "memory");
}
uint64_t ReadCr4() {
  uint64_t v;
  __asm__ __volatile__("mov %%cr4, %0" : "=r"(v) : : "memory");
  return v;
}
void WriteCr4(uint64_t value) {
  __asm__ __volatile__("mov %0, %%cr4" : : "r"(value) : "memory");
}

uint64_t ReadTsc() {
  uint32_t lo, hi;
  __asm__ __volatile__("rdtsc" : "=a"(lo), "=d"(hi));
  return (static_cast<uint64_t>(hi) << 32) | lo;
}
void CpuPause() {
  __asm__ __volatile__("pause");
}

}  // namespace hw
