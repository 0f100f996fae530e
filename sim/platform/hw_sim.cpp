// Host instance of hw/: every access goes to the current simulated platform,
// which records it in its trace.
#include "hw/hw.h"
#include "sim/platform/platform.h"

namespace hw {

using sim::Platform;

uint8_t IoRead8(uint16_t port) {
  return Platform::Current().IoRead(port, 1) & 0xFF;
}
uint16_t IoRead16(uint16_t port) {
  return Platform::Current().IoRead(port, 2) & 0xFFFF;
}
uint32_t IoRead32(uint16_t port) {
  return Platform::Current().IoRead(port, 4);
}
void IoWrite8(uint16_t port, uint8_t value) {
  Platform::Current().IoWrite(port, 1, value);
}
void IoWrite16(uint16_t port, uint16_t value) {
  Platform::Current().IoWrite(port, 2, value);
}
void IoWrite32(uint16_t port, uint32_t value) {
  Platform::Current().IoWrite(port, 4, value);
}

uint8_t MmioRead8(uint64_t a) {
  return Platform::Current().MmioRead(a, 1) & 0xFF;
}
uint16_t MmioRead16(uint64_t a) {
  return Platform::Current().MmioRead(a, 2) & 0xFFFF;
}
uint32_t MmioRead32(uint64_t a) {
  return Platform::Current().MmioRead(a, 4);
}
void MmioWrite8(uint64_t a, uint8_t v) {
  Platform::Current().MmioWrite(a, 1, v);
}
void MmioWrite16(uint64_t a, uint16_t v) {
  Platform::Current().MmioWrite(a, 2, v);
}
void MmioWrite32(uint64_t a, uint32_t v) {
  Platform::Current().MmioWrite(a, 4, v);
}

uint64_t ReadMsr(uint32_t index) {
  return Platform::Current().ReadMsr(index);
}
void WriteMsr(uint32_t index, uint64_t value) {
  Platform::Current().WriteMsr(index, value);
}
uint64_t MsrOr(uint32_t index, uint64_t orData) {
  const uint64_t v = ReadMsr(index) | orData;
  WriteMsr(index, v);
  return v;
}

CpuidResult Cpuid(uint32_t leaf) {
  return Platform::Current().Cpuid(leaf);
}
uint16_t SimulatorStopRequest() {
  return Platform::Current().StopRequest();
}

uint64_t ReadDr2() {
  return Platform::Current().ReadReg(sim::kDr2);
}
void WriteDr2(uint64_t v) {
  Platform::Current().WriteReg(sim::kDr2, v);
}
uint64_t ReadDr3() {
  return Platform::Current().ReadReg(sim::kDr3);
}
uint64_t ReadDr7() {
  return Platform::Current().ReadReg(sim::kDr7);
}
void WriteDr7(uint64_t v) {
  Platform::Current().WriteReg(sim::kDr7, v);
}
uint64_t ReadCr4() {
  return Platform::Current().ReadReg(sim::kCr4);
}
void WriteCr4(uint64_t v) {
  Platform::Current().WriteReg(sim::kCr4, v);
}

uint64_t ReadTsc() {
  return Platform::Current().ReadTsc();
}
void CpuPause() {}

void DebugPortHandoff(uint32_t command, uint32_t value, uint32_t length) {
  Platform::Current().Handoff(command, value, length);
}

}  // namespace hw
