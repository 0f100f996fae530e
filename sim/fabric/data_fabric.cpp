#include "sim/fabric/data_fabric.h"

#include "registers/fabric_registers.h"

#include <cstdio>

namespace sim::fabric {

namespace {

namespace fabric_reg = atd::fabric_reg;
using fabric_reg::AccessAddress;

FabricRegKey KeyOfAccess(uint8_t node, uint32_t access) {
  const uint16_t instance = AccessAddress::InstanceAccess::Get(access)
                                ? static_cast<uint16_t>(AccessAddress::InstanceId::Get(access))
                                : kBroadcast;
  return {node, static_cast<uint8_t>(AccessAddress::Function::Get(access)),
          static_cast<uint16_t>(AccessAddress::OffsetDword::Get(access) << 2), instance};
}

// Function 4 of a node: the access window over the fabric's register file.
class FabricWindow : public PciFunction {
 public:
  FabricWindow(DataFabric& fabric, uint8_t node) : fabric_(fabric), node_(node) {}
  uint32_t ConfigRead32(uint16_t offset) override {
    if (offset == fabric_reg::kAccessDataReg) {
      ++fabric_.reads;
      return fabric_.Get(KeyOfAccess(node_, access_));
    }
    if (offset == fabric_reg::kAccessAddressReg) return access_;
    if (offset == 0) return fabric_reg::kNodeVendorId;  // vendor id; device id 0
    return 0;
  }
  void ConfigWrite32(uint16_t offset, uint32_t value) override {
    if (offset == fabric_reg::kAccessAddressReg) access_ = value;
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
  platform->AttachPci(0, atd::fabricNodeDevice(node), fabric_reg::kWindowFunction,
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
    if (e.address < fabric_reg::kEcamBase || e.width != 4) continue;
    const uint64_t off = e.address - fabric_reg::kEcamBase;
    if ((off >> 20) != 0 || ((off >> 12) & 7) != fabric_reg::kWindowFunction) continue;
    const uint8_t dev = (off >> 15) & 0x1F;
    const uint16_t reg = off & 0xFFF;
    if (dev < fabric_reg::kFirstNodeDevice) continue;
    const uint8_t node = static_cast<uint8_t>(dev - fabric_reg::kFirstNodeDevice);
    if (e.kind == Access::MmioWrite && reg == fabric_reg::kAccessAddressReg) {
      access[dev] = static_cast<uint32_t>(e.value);
      stored[dev] = true;
    } else if (e.kind == Access::MmioRead && reg == fabric_reg::kAccessDataReg && stored[dev]) {
      const FabricRegKey k = KeyOfAccess(node, access[dev]);
      out.push_back(
          {node, k.function, k.offset, k.instance, static_cast<uint32_t>(e.value), access[dev]});
    }
  }
  return out;
}

std::string FabricRegisterName(uint8_t function, uint16_t offset) {
  using namespace fabric_reg;
  const atd::FabricReg base = DramBaseAddress::kMap0;
  const unsigned mapBytes = DramBaseAddress::kMapStride * kMapCount;
  if (function == base.function && offset >= base.offset && offset < base.offset + mapBytes) {
    const unsigned m = (offset - base.offset) / DramBaseAddress::kMapStride;
    const unsigned within = (offset - base.offset) % DramBaseAddress::kMapStride;
    const bool limit = within == unsigned{DramLimitAddress::kMap0.offset} - base.offset;
    char buf[48];
    std::snprintf(buf, sizeof buf, "%s[%u]",
                  limit ? DramLimitAddress::kName : DramBaseAddress::kName, m);
    return buf;
  }
  for (const ListedRegister& n : kSingleRegisters)
    if (n.reg.function == function && n.reg.offset == offset) return n.name;
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
