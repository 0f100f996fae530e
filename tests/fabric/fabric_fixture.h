// Hand-built data fabrics for the translation tests: raw register values on a
// simulated platform, so each test states exactly what the hardware holds.
#pragma once

#include "sim/fabric/data_fabric.h"
#include "sim/platform/platform.h"

#include <cstdint>

namespace fabric_test {

using sim::fabric::kBroadcast;

// A single-node Combined-layout fabric without a CCM block (the maps answer
// broadcast reads), no hole, socket and die masks 0.
struct RawFabric {
  sim::Platform platform;
  sim::fabric::DataFabric& fabric = sim::fabric::DataFabric::Of(platform);

  RawFabric() {
    fabric.Set(0, 1, 0x208, kBroadcast, 0);  // Combined layout, all masks 0
    fabric.Set(0, 0, 0x40, kBroadcast, 0);   // no block instances: no CCM
  }
  // Map m of the CCM view (broadcast on node 0).
  void CcmMap(unsigned m, uint32_t base, uint32_t limit, uint16_t instance = kBroadcast) {
    fabric.Set(0, 0, static_cast<uint16_t>(0x110 + 8 * m), instance, base);
    fabric.Set(0, 0, static_cast<uint16_t>(0x114 + 8 * m), instance, limit);
  }
  // Map m of coherent slave `instance` on `node`.
  void CsMap(uint8_t node, uint16_t instance, unsigned m, uint32_t base, uint32_t limit) {
    fabric.Set(node, 0, static_cast<uint16_t>(0x110 + 8 * m), instance, base);
    fabric.Set(node, 0, static_cast<uint16_t>(0x114 + 8 * m), instance, limit);
  }
  void CsFabricId(uint8_t node, uint16_t instance, uint32_t id) {
    fabric.Set(node, 0, 0x50, instance, id << 8);
  }
};

}  // namespace fabric_test

#include <cstdio>
#include <string>
#include <vector>

namespace fabric_test {

// The fabric reads of a trace as "n<node> F<fn>x<offset> <instance|bc>".
inline std::vector<std::string> ReadKeys(const sim::Platform& p) {
  std::vector<std::string> out;
  for (const auto& r : sim::fabric::DecodeFabricReads(p.trace.Events())) {
    char buf[48];
    if (r.instance == kBroadcast)
      std::snprintf(buf, sizeof buf, "n%u F%ux%03X bc", r.node, r.function, r.offset);
    else
      std::snprintf(buf, sizeof buf, "n%u F%ux%03X i%u", r.node, r.function, r.offset, r.instance);
    out.push_back(buf);
  }
  return out;
}

// Codes that reached the POST-code port right after 0xDEAD on port 0xE0.
inline std::vector<uint32_t> FatalStopCodes(const sim::Platform& p) {
  std::vector<uint32_t> codes;
  const auto& ev = p.trace.Events();
  for (size_t i = 0; i + 1 < ev.size(); ++i)
    if (ev[i] == sim::IoW(0xE0, 2, 0xDEAD) && ev[i + 1].kind == sim::Access::IoWrite &&
        ev[i + 1].address == 0x80)
      codes.push_back(static_cast<uint32_t>(ev[i + 1].value));
  return codes;
}

}  // namespace fabric_test
