// What the simulated hardware saw, in order: port, MMIO and MSR accesses (and,
// when asked for, the other processor-register accesses).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace sim {

enum class Access : uint8_t {
  IoRead,
  IoWrite,
  MmioRead,
  MmioWrite,
  MsrRead,
  MsrWrite,
  Cpuid,
  RegRead,  // DR2, DR3, DR7, CR4 (address names the register, see RegId)
  RegWrite,
  Handoff,  // debugger hand-off: address = EDX (command), value = EAX, width = EBX
};

enum RegId : uint64_t { kDr2 = 2, kDr3 = 3, kDr7 = 7, kCr4 = 0x104 };

struct TraceEvent {
  Access kind;
  uint8_t width;     // bytes (1, 2, 4, 8); for Handoff the low bits of EBX
  uint64_t address;  // port, physical address, MSR index, CPUID leaf, RegId
  uint64_t value;
  uint32_t cpu;
  uint64_t extra = 0;  // Handoff: EBX (length); Cpuid: EBX..EDX packed as needed

  bool operator==(const TraceEvent& o) const {
    return kind == o.kind && width == o.width && address == o.address && value == o.value &&
           cpu == o.cpu && extra == o.extra;
  }
  std::string ToString() const;
};

// Convenience constructors for expected events in tests (cpu 0).
TraceEvent IoW(uint16_t port, uint8_t width, uint64_t value, uint32_t cpu = 0);
TraceEvent IoR(uint16_t port, uint8_t width, uint64_t value, uint32_t cpu = 0);
TraceEvent MmioW(uint64_t address, uint8_t width, uint64_t value, uint32_t cpu = 0);
TraceEvent MmioR(uint64_t address, uint8_t width, uint64_t value, uint32_t cpu = 0);
TraceEvent MsrR(uint32_t index, uint64_t value, uint32_t cpu = 0);
TraceEvent MsrW(uint32_t index, uint64_t value, uint32_t cpu = 0);

void PrintTo(const TraceEvent& e, std::ostream* os);

class Trace {
 public:
  void Record(const TraceEvent& e) {
    if (enabled_) events_.push_back(e);
  }
  const std::vector<TraceEvent>& Events() const { return events_; }
  void Clear() { events_.clear(); }
  void Enable(bool on) { enabled_ = on; }

  // Filters, order kept.
  std::vector<TraceEvent> Of(Access kind) const;
  std::vector<TraceEvent> PortWrites(uint16_t port) const;
  std::vector<TraceEvent> Mmio() const;  // MMIO reads and writes
  std::vector<TraceEvent> Msrs() const;  // MSR reads and writes

 private:
  std::vector<TraceEvent> events_;
  bool enabled_ = true;
};

}  // namespace sim
