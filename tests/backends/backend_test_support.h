// Shared by the back-end tests: the device-facing part of a trace, and
// expected events for hand-offs and processor registers.
#pragma once

#include "sim/platform/platform.h"
#include "sim/platform/trace.h"

#include <cstdint>
#include <string>
#include <vector>

namespace backend_test {

using sim::Access;
using sim::TraceEvent;

// Port, MMIO and hand-off events only, order kept.
inline std::vector<TraceEvent> DeviceEvents(const sim::Trace& t) {
  std::vector<TraceEvent> out;
  for (const auto& e : t.Events()) {
    switch (e.kind) {
      case Access::IoRead:
      case Access::IoWrite:
      case Access::MmioRead:
      case Access::MmioWrite:
      case Access::Handoff:
        out.push_back(e);
        break;
      default:
        break;
    }
  }
  return out;
}

// Writes only: MSRs and processor registers.
inline std::vector<TraceEvent> RegisterWrites(const sim::Trace& t) {
  std::vector<TraceEvent> out;
  for (const auto& e : t.Events())
    if (e.kind == Access::MsrWrite || e.kind == Access::RegWrite) out.push_back(e);
  return out;
}

inline TraceEvent HandoffEv(uint32_t command, uint32_t value, uint32_t length) {
  return {Access::Handoff, 4, command, value, 0, length};
}
inline TraceEvent RegW(sim::RegId reg, uint64_t value) {
  return {Access::RegWrite, 8, reg, value, 0};
}

inline uint32_t Low32(const void* p) {
  return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(p));
}

// The events a FatalStop claimed by the simulator leaves: nothing else.
inline std::vector<TraceEvent> ClaimedStop(uint32_t code) {
  return {sim::IoW(0xE0, 2, 0xDEAD), sim::IoW(0x80, 4, code),
          TraceEvent{Access::Cpuid, 4, 0xBACCD00B, 1, 0, 2}};
}

}  // namespace backend_test
