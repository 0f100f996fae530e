#include "sim/topology/topology_profile.h"

namespace sim::topology {

using profile::Json;
using profile::ProfileError;

namespace {

bool Bool(const Json& v, const std::string& path) {
  if (!v.is_boolean()) throw ProfileError(path, "expected true or false, found " + v.dump());
  return v.get<bool>();
}

unsigned Small(const Json& v, const std::string& path, uint64_t max) {
  return static_cast<unsigned>(profile::Number(v, path, max));
}

}  // namespace

Topology TopologyFromJson(const Json& j, const std::string& path) {
  profile::CheckKeys(
      j, path,
      {"layout", "sockets", "diesPerSocket", "channelsPerDie", "channels", "firstChannel", "hashed",
       "hashEnables", "dieInterleave", "socketInterleave", "intLvAddrSel", "channelSize",
       "holeBase", "highChannelSize", "logicalChannelMap", "ccm"});
  Topology t = Topology::Default();
  auto at = [&](const char* k) { return path + "." + k; };
  for (auto it = j.begin(); it != j.end(); ++it) {
    const std::string& k = it.key();
    const Json& v = it.value();
    const std::string p = at(k.c_str());
    if (k == "layout") {
      const std::string s = v.is_string() ? v.get<std::string>() : "";
      if (s == "combined")
        t.layout = atd::FabricIdLayout::Combined;
      else if (s == "extended")
        t.layout = atd::FabricIdLayout::Extended;
      else
        throw ProfileError(p, "expected \"combined\" or \"extended\", found " + v.dump());
    } else if (k == "sockets") {
      t.sockets = Small(v, p, 255);
    } else if (k == "diesPerSocket") {
      t.diesPerSocket = Small(v, p, 255);
    } else if (k == "channelsPerDie") {
      t.channelsPerDie = Small(v, p, 255);
    } else if (k == "channels") {
      t.channels = Small(v, p, 255);
    } else if (k == "firstChannel") {
      t.firstChannel = Small(v, p, 255);
    } else if (k == "hashed") {
      t.hashed = Bool(v, p);
    } else if (k == "hashEnables") {
      profile::CheckKeys(v, p, {"64K", "2M", "1G"});
      if (v.contains("64K")) t.hash64K = Bool(v["64K"], p + ".64K");
      if (v.contains("2M")) t.hash2M = Bool(v["2M"], p + ".2M");
      if (v.contains("1G")) t.hash1G = Bool(v["1G"], p + ".1G");
    } else if (k == "dieInterleave") {
      t.dieInterleave = Bool(v, p);
    } else if (k == "socketInterleave") {
      t.socketInterleave = Bool(v, p);
    } else if (k == "intLvAddrSel") {
      t.intLvAddrSel = Small(v, p, 255);
    } else if (k == "channelSize") {
      t.channelSize = profile::Number(v, p);
    } else if (k == "holeBase") {
      t.holeBase = profile::Number(v, p);
    } else if (k == "highChannelSize") {
      t.highChannelSize = profile::Number(v, p);
    } else if (k == "logicalChannelMap") {
      if (!v.is_array() || v.size() != 6)
        throw ProfileError(p, "expected a list of six physical channels");
      for (size_t i = 0; i < 6; ++i)
        t.logicalChannelMap[i] =
            static_cast<uint8_t>(profile::Number(v[i], p + "[" + std::to_string(i) + "]", 15));
    } else if (k == "ccm") {
      t.ccm = Bool(v, p);
    }
  }
  try {
    Expand(t);
  } catch (const TopologyError& e) {
    throw ProfileError(path + "." + e.field, std::string(e.what()).substr(e.field.size() + 2));
  }
  return t;
}

Json TopologyToJson(const Topology& t) {
  Json j = Json::object();
  j["layout"] = LayoutName(t.layout);
  j["sockets"] = t.sockets;
  j["diesPerSocket"] = t.diesPerSocket;
  j["channelsPerDie"] = t.channelsPerDie;
  j["channels"] = t.channels;
  j["firstChannel"] = t.firstChannel;
  j["hashed"] = t.hashed;
  j["hashEnables"] = Json{{"64K", t.hash64K}, {"2M", t.hash2M}, {"1G", t.hash1G}};
  j["dieInterleave"] = t.dieInterleave;
  j["socketInterleave"] = t.socketInterleave;
  j["intLvAddrSel"] = t.intLvAddrSel;
  j["channelSize"] = profile::Hex(t.channelSize);
  j["holeBase"] = profile::Hex(t.holeBase);
  j["highChannelSize"] = profile::Hex(t.highChannelSize);
  j["logicalChannelMap"] = Json::array();
  for (uint8_t c : t.logicalChannelMap) j["logicalChannelMap"].push_back(c);
  j["ccm"] = t.ccm;
  return j;
}

void LoadTopologySection(const Json& section, const std::string& path, Platform& p) {
  const Topology t = TopologyFromJson(section, path);
  auto& state = p.Extension<TopologyState>();
  state.topology = t;
  state.expanded = Apply(t, p);
}

Json DumpTopologySection(Platform& p) {
  auto& state = p.Extension<TopologyState>();
  if (!state.topology) return nullptr;
  return TopologyToJson(*state.topology);
}

Json DefaultTopologySection() {
  return TopologyToJson(Topology::Default());
}

}  // namespace sim::topology
