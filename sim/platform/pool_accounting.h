// Pool accounting for tests: what the drivers still hold, by memory type, and
// which blocks an operation obtained or gave back.
#pragma once

#include "sim/platform/platform.h"

#include <cstddef>
#include <map>
#include <string>
#include <vector>

namespace sim {

struct PoolTotals {
  size_t blocks = 0;
  size_t bytes = 0;
  bool operator==(const PoolTotals&) const = default;
};

// Outstanding pool memory per memory type (types with no block are absent).
using PoolReport = std::map<EFI_MEMORY_TYPE, PoolTotals>;
PoolReport OutstandingPools(const Platform& p);
// The same for the SMRAM pools of the platform's SMM side (apart from the
// boot-services pools); sets the SMM side up if it was not.
PoolReport OutstandingSmramPools(Platform& p);

// "EfiBootServicesData: 2 blocks, 80 bytes; ..." ("none" when empty).
std::string Describe(const PoolReport& report);
const char* MemoryTypeName(EFI_MEMORY_TYPE type);

struct PoolBlockAt {
  const void* address;
  EFI_MEMORY_TYPE type;
  size_t size;
};

// The blocks of `p` at one moment; Since() tells what changed after it.
class PoolCheckpoint {
 public:
  explicit PoolCheckpoint(const Platform& p);
  // Blocks that exist now and did not at the checkpoint (kept by the operation).
  std::vector<PoolBlockAt> Obtained() const;
  // Blocks that existed at the checkpoint and are gone now (freed).
  std::vector<PoolBlockAt> Released() const;

 private:
  const Platform& platform_;
  std::map<void*, PoolBlock> at_;
};

}  // namespace sim
