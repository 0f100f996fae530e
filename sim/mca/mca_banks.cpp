#include "sim/mca/mca_banks.h"

namespace sim::mca {

void SetBankCount(Platform& platform, unsigned cpu, unsigned count) {
  uint64_t& cap = platform.cpus.at(cpu).msrs[kMcgCapMsr];
  cap = (cap & ~0xFFULL) | (count & 0xFF);
}

unsigned BankCount(Platform& platform, unsigned cpu) {
  auto& m = platform.cpus.at(cpu).msrs;
  auto it = m.find(kMcgCapMsr);
  return it == m.end() ? 0 : static_cast<unsigned>(it->second & 0xFF);
}

void SetBankRegister(Platform& platform, unsigned cpu, unsigned bank, unsigned n, uint64_t value) {
  platform.cpus.at(cpu).msrs[BankMsr(bank, n)] = value;
}

uint64_t BankRegister(Platform& platform, unsigned cpu, unsigned bank, unsigned n) {
  auto& m = platform.cpus.at(cpu).msrs;
  auto it = m.find(BankMsr(bank, n));
  return it == m.end() ? 0 : it->second;
}

ProcessorList& Processors(Platform& platform) {
  return platform.Extension<ProcessorList>();
}

void AddProcessor(Platform& platform, uint64_t number, const std::array<uint8_t, 5>& info) {
  ProcessorListEntry e{};
  e.processorNumber = number;
  for (unsigned i = 0; i < 5; ++i) e.info[i] = info[i];
  Processors(platform).entries.push_back(e);
  if (platform.cpus.size() <= number) platform.cpus.resize(number + 1);
}

void PublishProcessorList(Platform& platform) {
  auto* iface =
      static_cast<PlatformTopologyProtocol*>(platform.Find(gPlatformTopologyProtocolGuid));
  if (iface == nullptr) return;
  auto& list = Processors(platform).entries;
  iface->processorCount = list.size();
  iface->processors = list.empty() ? nullptr : list.data();
}

std::vector<std::string> StatusBitNames(uint64_t status) {
  static const char* const kNames[] = {
      "valid",                      // 63
      "overflow",                   // 62
      "uncorrected",                // 61
      "enabled",                    // 60
      "misc valid",                 // 59
      "address valid",              // 58
      "processor context corrupt",  // 57
  };
  std::vector<std::string> out;
  for (unsigned i = 0; i < 7; ++i) {
    if (status >> (63 - i) & 1) out.push_back(kNames[i]);
  }
  return out;
}

}  // namespace sim::mca
