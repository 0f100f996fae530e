#include "sim/fabric/data_fabric.h"

#include "addr_translate/fabric/fabric_registers.h"

#include <cstdio>

namespace sim::fabric {

namespace {

using atd::fabric_reg::AccessAddress;

FabricRegKey KeyOfAccess(uint8_t node, uint32_t access) {
  const uint16_t instance = AccessAddress::InstanceAccess::Get(access)
                                ? static_cast<uint16_t>(AccessAddress::InstanceId::Get(access))
                                : kBroadcast;
  return {node, static_cast<uint8_t>(AccessAddress::Function::Get(access)),
          static_cast<uint16_t>(access & 0x3FC), instance};
}

// Function 4 of a node: the access window over the fabric's register file.
class FabricWindow : public PciFunction {
 public:
  FabricWindow(DataFabric& fabric, uint8_t node) : fabric_(fabric), node_(node) {}
  uint32_t ConfigRead32(uint16_t offset) override {
    if (offset == atd::fabric_reg::kAccessDataReg) {
      ++fabric_.reads;
      return fabric_.Get(KeyOfAccess(node_, access_));
    }
    if (offset == atd::fabric_reg::kAccessAddressReg) return access_;
    return 0;
  }
  void ConfigWrite32(uint16_t offset, uint32_t value) override {
    if (offset == atd::fabric_reg::kAccessAddressReg) access_ = value;
  }

 private:
  DataFabric& fabric_;
  uint8_t node_;
  uint32_t access_ = 0;
};

}  // namespace

DataFabric& DataFabric::Of(Platform& p) {
  DataFabric& f = p.Extension<DataFabric>();
  f.platform = &p;
  return f;
}

void DataFabric::AttachNode(uint8_t node) {
  if (attached_.at(node % 32) || platform == nullptr) return;
  attached_[node % 32] = true;
  platform->AttachPci(0, atd::fabricNodeDevice(node), atd::fabric_reg::kWindowFunction,
                      std::make_shared<FabricWindow>(*this, node));
}

void DataFabric::Set(const FabricRegKey& key, uint32_t value) {
  FabricRegKey k = key;
  k.offset &= 0x3FC;
  AttachNode(k.node);
  regs_[k] = value;
  index_[Pack(k)] = value;
}

uint32_t DataFabric::Get(const FabricRegKey& key) const {
  auto it = index_.find(Pack(key));
  return it == index_.end() ? 0 : it->second;
}

std::vector<FabricRead> DecodeFabricReads(const std::vector<TraceEvent>& events) {
  std::vector<FabricRead> out;
  uint32_t access[32] = {};
  bool stored[32] = {};
  for (const TraceEvent& e : events) {
    if (e.kind != Access::MmioRead && e.kind != Access::MmioWrite) continue;
    if (e.address < atd::fabric_reg::kEcamBase || e.width != 4) continue;
    const uint64_t off = e.address - atd::fabric_reg::kEcamBase;
    if ((off >> 20) != 0 || ((off >> 12) & 7) != atd::fabric_reg::kWindowFunction) continue;
    const uint8_t dev = (off >> 15) & 0x1F;
    const uint16_t reg = off & 0xFFF;
    if (dev < 0x18) continue;
    const uint8_t node = static_cast<uint8_t>(dev - 0x18);
    if (e.kind == Access::MmioWrite && reg == atd::fabric_reg::kAccessAddressReg) {
      access[dev] = static_cast<uint32_t>(e.value);
      stored[dev] = true;
    } else if (e.kind == Access::MmioRead && reg == atd::fabric_reg::kAccessDataReg &&
               stored[dev]) {
      const FabricRegKey k = KeyOfAccess(node, access[dev]);
      out.push_back(
          {node, k.function, k.offset, k.instance, static_cast<uint32_t>(e.value), access[dev]});
    }
  }
  return out;
}

std::string FabricRegisterName(uint8_t function, uint16_t offset) {
  char buf[48];
  if (function == 0 && offset >= 0x110 && offset < 0x190) {
    const unsigned m = (offset - 0x110) / 8;
    std::snprintf(buf, sizeof buf, "%s[%u]", (offset & 4) ? "DramLimitAddress" : "DramBaseAddress",
                  m);
    return buf;
  }
  struct Named {
    uint8_t f;
    uint16_t o;
    const char* name;
  };
  static const Named kNames[] = {
      {1, 0x208, "SystemFabricIdMask0"}, {1, 0x20C, "SystemFabricIdMask1"},
      {0, 0x3F8, "HashControl"},         {0, 0x40, "BlockInstanceCount"},
      {0, 0x44, "BlockInstanceInfo"},    {0, 0x50, "BlockFabricId"},
      {0, 0x60, "LogicalChannelMap0"},   {0, 0x68, "LogicalChannelMap1"},
      {0, 0x104, "DramHoleControl"},     {0, 0x1B4, "HiAddrOffsetControl"},
      {2, 0x90, "NonPow2Size"},
  };
  for (const Named& n : kNames)
    if (n.f == function && n.o == offset) return n.name;
  return "";
}

std::string ToString(const FabricRead& r) {
  char buf[160];
  char inst[16];
  if (r.instance == kBroadcast)
    std::snprintf(inst, sizeof inst, "bcast");
  else
    std::snprintf(inst, sizeof inst, "%u", r.instance);
  std::snprintf(buf, sizeof buf, "node %u F%ux%03X inst %-5s = 0x%08X", r.node, r.function,
                r.offset, inst, r.value);
  std::string s = buf;
  const std::string name = FabricRegisterName(r.function, r.offset);
  if (!name.empty()) s += "  " + name;
  return s;
}

}  // namespace sim::fabric
