#include "sim/dram/dimm_info.h"

#include <algorithm>

namespace sim::dram {

using profile::Json;
using profile::ProfileError;

DimmInfo& DimmInfoOf(Platform& platform) {
  return platform.Extension<DimmInfo>();
}

unsigned BankGroupBits(const DimmInfo& info, unsigned slot, unsigned bankBits) {
  if (auto it = info.bankGroupBits.find(slot); it != info.bankGroupBits.end())
    return std::min(it->second, bankBits);
  return bankBits >= 2 ? bankBits - 2 : 0;
}

const DimmLabel* FindDimmLabel(const DimmInfo& info, unsigned socket, unsigned die,
                               unsigned channel, unsigned chipSelect) {
  const DimmLabel* byDimm = nullptr;
  for (const DimmLabel& l : info.labels) {
    if (l.socket != socket || l.die != die || l.channel != channel) continue;
    if (l.chipSelect && *l.chipSelect == chipSelect) return &l;
    if (l.dimm && *l.dimm == chipSelect / 2 && !byDimm) byDimm = &l;
  }
  return byDimm;
}

void LoadDimmsSection(const Json& section, const std::string& path, Platform& platform) {
  if (!section.is_array()) throw ProfileError(path, "expected an array of DIMMs");
  DimmInfo& info = DimmInfoOf(platform);
  info.labels.clear();
  for (size_t i = 0; i < section.size(); ++i) {
    const std::string at = path + "[" + std::to_string(i) + "]";
    const Json& v = section[i];
    profile::CheckKeys(
        v, at, {"socket", "die", "channel", "dimm", "chipSelect", "label", "serial", "part"});
    DimmLabel l;
    l.socket = static_cast<uint8_t>(
        profile::Number(profile::Required(v, at, "socket"), at + ".socket", 255));
    l.die =
        static_cast<uint8_t>(profile::Number(profile::Required(v, at, "die"), at + ".die", 255));
    l.channel = static_cast<uint8_t>(
        profile::Number(profile::Required(v, at, "channel"), at + ".channel", 255));
    if (v.contains("dimm") == v.contains("chipSelect"))
      throw ProfileError(at, "give either \"dimm\" (chip selects 2n and 2n+1) or \"chipSelect\"");
    if (v.contains("dimm"))
      l.dimm = static_cast<unsigned>(profile::Number(v["dimm"], at + ".dimm", 1));
    else
      l.chipSelect = static_cast<unsigned>(profile::Number(v["chipSelect"], at + ".chipSelect", 3));
    auto text = [&](const char* key, std::string& out, bool required) {
      if (!v.contains(key)) {
        if (required) throw ProfileError(at + "." + key, "missing");
        return;
      }
      if (!v[key].is_string()) throw ProfileError(at + "." + key, "expected a string");
      out = v[key].get<std::string>();
    };
    text("label", l.label, true);
    text("serial", l.serial, false);
    text("part", l.part, false);
    for (const DimmLabel& o : info.labels)
      if (o.socket == l.socket && o.die == l.die && o.channel == l.channel && o.dimm == l.dimm &&
          o.chipSelect == l.chipSelect)
        throw ProfileError(at, "labels the same DIMM as an earlier entry");
    info.labels.push_back(std::move(l));
  }
}

Json DumpDimmsSection(Platform& platform) {
  const DimmInfo& info = DimmInfoOf(platform);
  if (info.labels.empty()) return nullptr;
  Json out = Json::array();
  for (const DimmLabel& l : info.labels) {
    Json j = Json::object();
    j["socket"] = l.socket;
    j["die"] = l.die;
    j["channel"] = l.channel;
    if (l.dimm) j["dimm"] = *l.dimm;
    if (l.chipSelect) j["chipSelect"] = *l.chipSelect;
    j["label"] = l.label;
    if (!l.serial.empty()) j["serial"] = l.serial;
    if (!l.part.empty()) j["part"] = l.part;
    out.push_back(std::move(j));
  }
  return out;
}

}  // namespace sim::dram
