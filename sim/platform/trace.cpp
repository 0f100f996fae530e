#include "sim/platform/trace.h"

#include <cstdio>
#include <ostream>

namespace sim {

namespace {
const char* KindName(Access k) {
  switch (k) {
    case Access::IoRead:
      return "io-read";
    case Access::IoWrite:
      return "io-write";
    case Access::MmioRead:
      return "mmio-read";
    case Access::MmioWrite:
      return "mmio-write";
    case Access::MsrRead:
      return "msr-read";
    case Access::MsrWrite:
      return "msr-write";
    case Access::Cpuid:
      return "cpuid";
    case Access::RegRead:
      return "reg-read";
    case Access::RegWrite:
      return "reg-write";
    case Access::Handoff:
      return "handoff";
  }
  return "?";
}
}  // namespace

std::string TraceEvent::ToString() const {
  char buf[160];
  switch (kind) {
    case Access::MsrRead:
    case Access::MsrWrite:
    case Access::Cpuid:
    case Access::RegRead:
    case Access::RegWrite:
      std::snprintf(buf, sizeof buf, "cpu%u %s 0x%llx = 0x%llx", cpu, KindName(kind),
                    (unsigned long long)address, (unsigned long long)value);
      break;
    case Access::Handoff:
      std::snprintf(buf, sizeof buf, "cpu%u handoff edx=0x%llx eax=0x%llx ebx=0x%llx", cpu,
                    (unsigned long long)address, (unsigned long long)value,
                    (unsigned long long)extra);
      break;
    default:
      std::snprintf(buf, sizeof buf, "cpu%u %s%u 0x%llx = 0x%llx", cpu, KindName(kind), width * 8u,
                    (unsigned long long)address, (unsigned long long)value);
  }
  return buf;
}

void PrintTo(const TraceEvent& e, std::ostream* os) {
  *os << e.ToString();
}

TraceEvent IoW(uint16_t port, uint8_t width, uint64_t value, uint32_t cpu) {
  return {Access::IoWrite, width, port, value, cpu};
}
TraceEvent IoR(uint16_t port, uint8_t width, uint64_t value, uint32_t cpu) {
  return {Access::IoRead, width, port, value, cpu};
}
TraceEvent MmioW(uint64_t address, uint8_t width, uint64_t value, uint32_t cpu) {
  return {Access::MmioWrite, width, address, value, cpu};
}
TraceEvent MmioR(uint64_t address, uint8_t width, uint64_t value, uint32_t cpu) {
  return {Access::MmioRead, width, address, value, cpu};
}
TraceEvent MsrR(uint32_t index, uint64_t value, uint32_t cpu) {
  return {Access::MsrRead, 8, index, value, cpu};
}
TraceEvent MsrW(uint32_t index, uint64_t value, uint32_t cpu) {
  return {Access::MsrWrite, 8, index, value, cpu};
}

std::vector<TraceEvent> Trace::Of(Access kind) const {
  std::vector<TraceEvent> out;
  for (const auto& e : events_)
    if (e.kind == kind) out.push_back(e);
  return out;
}
std::vector<TraceEvent> Trace::PortWrites(uint16_t port) const {
  std::vector<TraceEvent> out;
  for (const auto& e : events_)
    if (e.kind == Access::IoWrite && e.address == port) out.push_back(e);
  return out;
}
std::vector<TraceEvent> Trace::Mmio() const {
  std::vector<TraceEvent> out;
  for (const auto& e : events_)
    if (e.kind == Access::MmioRead || e.kind == Access::MmioWrite) out.push_back(e);
  return out;
}
std::vector<TraceEvent> Trace::Msrs() const {
  std::vector<TraceEvent> out;
  for (const auto& e : events_)
    if (e.kind == Access::MsrRead || e.kind == Access::MsrWrite) out.push_back(e);
  return out;
}

}  // namespace sim
