#include "sim/fabric/fabric_profile.h"

#include "sim/fabric/data_fabric.h"

namespace sim::fabric {

using profile::Json;
using profile::ProfileError;

void LoadFabricSection(const Json& section, const std::string& path, Platform& p) {
  if (!section.is_array())
    throw ProfileError(path,
                       "expected a list of registers, found " + std::string(section.type_name()));
  DataFabric& fabric = DataFabric::Of(p);
  for (size_t i = 0; i < section.size(); ++i) {
    const Json& r = section[i];
    const std::string at = path + "[" + std::to_string(i) + "]";
    profile::CheckKeys(r, at, {"node", "function", "offset", "instance", "value"});
    FabricRegKey k{};
    k.node =
        static_cast<uint8_t>(profile::Number(profile::Required(r, at, "node"), at + ".node", 7));
    k.function = static_cast<uint8_t>(
        profile::Number(profile::Required(r, at, "function"), at + ".function", 7));
    const uint64_t offset =
        profile::Number(profile::Required(r, at, "offset"), at + ".offset", 0x3FC);
    if (offset % 4 != 0)
      throw ProfileError(at + ".offset", "not dword aligned: " + profile::Hex(offset));
    k.offset = static_cast<uint16_t>(offset);
    const Json& inst = profile::Required(r, at, "instance");
    if (inst.is_string() && inst.get<std::string>() == "broadcast") {
      k.instance = kBroadcast;
    } else {
      k.instance = static_cast<uint16_t>(profile::Number(inst, at + ".instance", 254));
    }
    const uint32_t value = static_cast<uint32_t>(
        profile::Number(profile::Required(r, at, "value"), at + ".value", 0xFFFFFFFF));
    fabric.Set(k, value);
  }
}

Json DumpFabricSection(Platform& p) {
  const DataFabric& fabric = DataFabric::Of(p);
  if (fabric.Registers().empty()) return nullptr;
  Json list = Json::array();
  for (const auto& [k, v] : fabric.Registers()) {
    Json r = Json::object();
    r["node"] = k.node;
    r["function"] = k.function;
    r["offset"] = profile::Hex(k.offset);
    if (k.instance == kBroadcast)
      r["instance"] = "broadcast";
    else
      r["instance"] = k.instance;
    r["value"] = profile::Hex(v);
    list.push_back(std::move(r));
  }
  return list;
}

}  // namespace sim::fabric
