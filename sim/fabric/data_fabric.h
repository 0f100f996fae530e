// The data fabric of the simulated platform: a register file keyed by (node,
// function, offset, instance or broadcast) behind each node's indirect-access
// window (bus 0, device 0x18 + node, function 4: register 0x5C takes the
// access value, register 0x98 returns the register it selects).
#pragma once

#include "sim/platform/platform.h"

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <tuple>
#include <unordered_map>
#include <vector>

namespace sim::fabric {

inline constexpr uint16_t kBroadcast = 0xFF;  // instance key of broadcast reads

struct FabricRegKey {
  uint8_t node;
  uint8_t function;
  uint16_t offset;    // dword aligned, 0x000..0x3FC
  uint16_t instance;  // 0..254, or kBroadcast

  bool operator<(const FabricRegKey& o) const {
    return std::tie(node, function, offset, instance) <
           std::tie(o.node, o.function, o.offset, o.instance);
  }
  bool operator==(const FabricRegKey& o) const {
    return node == o.node && function == o.function && offset == o.offset && instance == o.instance;
  }
};

struct FabricRegister {
  FabricRegKey key;
  uint32_t value;
};

// Per-platform state (Platform::Extension<DataFabric>()).
class DataFabric {
 public:
  // The data fabric of `p`; created empty on first use.
  static DataFabric& Of(Platform& p);

  // Sets one register; attaches the node's window on first use.
  void Set(const FabricRegKey& key, uint32_t value);
  void Set(uint8_t node, uint8_t function, uint16_t offset, uint16_t instance, uint32_t value) {
    Set(FabricRegKey{node, function, offset, instance}, value);
  }
  // What a read of `key` returns: the stored value, else 0 (no such register).
  uint32_t Get(const FabricRegKey& key) const;
  bool Has(const FabricRegKey& key) const { return index_.count(Pack(key)) != 0; }
  void Clear() {
    regs_.clear();
    index_.clear();
  }
  const std::map<FabricRegKey, uint32_t>& Registers() const { return regs_; }

  // Access-data reads served so far (all nodes); benchmarks count with it.
  uint64_t reads = 0;

  Platform* platform = nullptr;

 private:
  void AttachNode(uint8_t node);
  static uint64_t Pack(const FabricRegKey& k) {
    return uint64_t{k.node} << 40 | uint64_t{k.function} << 32 | uint64_t{k.offset} << 16 |
           k.instance;
  }
  std::map<FabricRegKey, uint32_t> regs_;
  // The same registers by packed key: every translation reads a few dozen.
  std::unordered_map<uint64_t, uint32_t> index_;
  std::vector<bool> attached_ = std::vector<bool>(32, false);
};

// One fabric register read seen in a trace: the store to 0x5C and the load
// from 0x98 of the same node's window.
struct FabricRead {
  uint8_t node;
  uint8_t function;
  uint16_t offset;
  uint16_t instance;  // kBroadcast for a broadcast read
  uint32_t value;
  uint32_t accessValue;
};

// The fabric reads in `events`, in order. Window accesses that do not pair up
// (a load without a store before it) are skipped.
std::vector<FabricRead> DecodeFabricReads(const std::vector<TraceEvent>& events);
std::string ToString(const FabricRead& r);
// Symbolic name of a register the translations use ("DramBaseAddress[1]"), or "".
std::string FabricRegisterName(uint8_t function, uint16_t offset);

}  // namespace sim::fabric
