#include "sim/platform/pool_accounting.h"

#include "sim/smm/smm.h"

#include <sstream>

namespace sim {

PoolReport OutstandingPools(const Platform& p) {
  PoolReport report;
  for (const auto& [address, block] : p.Pools()) {
    PoolTotals& t = report[block.type];
    ++t.blocks;
    t.bytes += block.size;
  }
  return report;
}

PoolReport OutstandingSmramPools(Platform& p) {
  PoolReport report;
  for (const auto& [offset, block] : smm::Smm(p).blocks) {
    PoolTotals& t = report[block.type];
    ++t.blocks;
    t.bytes += block.size;
  }
  return report;
}

const char* MemoryTypeName(EFI_MEMORY_TYPE type) {
  switch (type) {
    case EfiBootServicesData:
      return "EfiBootServicesData";
    case EfiRuntimeServicesData:
      return "EfiRuntimeServicesData";
    case EfiACPIMemoryNVS:
      return "EfiACPIMemoryNVS";
    case EfiACPIReclaimMemory:
      return "EfiACPIReclaimMemory";
    case EfiReservedMemoryType:
      return "EfiReservedMemoryType";
    default:
      return "other";
  }
}

std::string Describe(const PoolReport& report) {
  if (report.empty()) return "none";
  std::ostringstream out;
  const char* sep = "";
  for (const auto& [type, t] : report) {
    out << sep << MemoryTypeName(type) << "(" << static_cast<int>(type) << "): " << t.blocks
        << " blocks, " << t.bytes << " bytes";
    sep = "; ";
  }
  return out.str();
}

PoolCheckpoint::PoolCheckpoint(const Platform& p) : platform_(p), at_(p.Pools()) {}

std::vector<PoolBlockAt> PoolCheckpoint::Obtained() const {
  std::vector<PoolBlockAt> out;
  for (const auto& [address, block] : platform_.Pools()) {
    auto it = at_.find(address);
    // A block at a recycled address with another size or type is new too.
    if (it == at_.end() || it->second.size != block.size || it->second.type != block.type)
      out.push_back({address, block.type, block.size});
  }
  return out;
}

std::vector<PoolBlockAt> PoolCheckpoint::Released() const {
  std::vector<PoolBlockAt> out;
  const auto& now = platform_.Pools();
  for (const auto& [address, block] : at_) {
    auto it = now.find(address);
    if (it == now.end() || it->second.size != block.size || it->second.type != block.type)
      out.push_back({address, block.type, block.size});
  }
  return out;
}

}  // namespace sim
