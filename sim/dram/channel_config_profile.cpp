#include "sim/dram/channel_config_profile.h"

#include "sim/dram/channel_config_store.h"
#include "sim/dram/channel_geometry.h"
#include "sim/dram/dimm_info.h"

#include <cctype>
#include <cstddef>
#include <cstring>
#include <optional>
#include <stdexcept>

namespace sim::dram {

namespace {

using profile::Json;
using profile::ProfileError;

// One named array of the table.
struct TableField {
  const char* name;
  size_t offset;
  unsigned width;  // bytes per element: 1 or 4
  unsigned dim0;
  unsigned dim1;  // 0: one-dimensional
};

using T = atd::ChannelConfigTable;
const TableField kFields[] = {
    {"csPresent", offsetof(T, csPresent), 1, 16, 0},
    {"bankHashCtl", offsetof(T, bankHashCtl), 4, 5, 16},
    {"csHashCtl", offsetof(T, csHashCtl), 4, 16, 2},
    {"rmHashCtl", offsetof(T, rmHashCtl), 4, 16, 3},
    {"csBase", offsetof(T, csBase), 4, 16, 4},
    {"csBaseSec", offsetof(T, csBaseSec), 4, 16, 4},
    {"csMask", offsetof(T, csMask), 4, 16, 2},
    {"csMaskSec", offsetof(T, csMaskSec), 4, 16, 2},
    {"addrCfg", offsetof(T, addrCfg), 4, 16, 4},
    {"bankAddrSel", offsetof(T, bankAddrSel), 4, 16, 2},
    {"rowAddrSel", offsetof(T, rowAddrSel), 4, 16, 2},
    {"colAddrSelLo", offsetof(T, colAddrSelLo), 4, 16, 2},
    {"colAddrSelHi", offsetof(T, colAddrSelHi), 4, 16, 2},
    {"rmAddrSel", offsetof(T, rmAddrSel), 4, 16, 2},
    {"rmAddrSelSec", offsetof(T, rmAddrSelSec), 4, 16, 2},
    {"bankHashBits", offsetof(T, bankHashBits), 1, 5, 0},
};

// Where "name[i][j]" lives in the table.
struct FieldRef {
  const TableField* field;
  size_t offset;
};

FieldRef ParseFieldKey(const std::string& key, const std::string& path) {
  const size_t open = key.find('[');
  const std::string name = key.substr(0, open);
  const TableField* f = nullptr;
  for (const TableField& c : kFields)
    if (name == c.name) f = &c;
  if (!f) throw ProfileError(path, "unknown table field \"" + name + "\"");
  std::vector<unsigned> idx;
  size_t i = open;
  while (i != std::string::npos && i < key.size()) {
    if (key[i] != '[') throw ProfileError(path, "expected '[' in \"" + key + "\"");
    const size_t close = key.find(']', i);
    if (close == std::string::npos || close == i + 1)
      throw ProfileError(path, "malformed index in \"" + key + "\"");
    unsigned v = 0;
    for (size_t k = i + 1; k < close; ++k) {
      if (!std::isdigit(static_cast<unsigned char>(key[k])) || v > 1000)
        throw ProfileError(path, "malformed index in \"" + key + "\"");
      v = v * 10 + static_cast<unsigned>(key[k] - '0');
    }
    idx.push_back(v);
    i = close + 1;
  }
  const size_t dims = f->dim1 ? 2 : 1;
  if (idx.size() != dims)
    throw ProfileError(path, "\"" + name + "\" takes " + std::to_string(dims) + " index" +
                                 (dims == 2 ? "es" : "") + " (e.g. \"" + name +
                                 (dims == 2 ? "[1][0]" : "[1]") + "\")");
  if (idx[0] >= f->dim0)
    throw ProfileError(
        path, "index " + std::to_string(idx[0]) + " beyond " + std::to_string(f->dim0 - 1));
  if (dims == 2 && idx[1] >= f->dim1)
    throw ProfileError(
        path, "index " + std::to_string(idx[1]) + " beyond " + std::to_string(f->dim1 - 1));
  const size_t element = dims == 2 ? idx[0] * f->dim1 + idx[1] : idx[0];
  return {f, f->offset + element * f->width};
}

void Store(atd::ChannelConfigTable& t, const FieldRef& r, uint64_t v) {
  auto* bytes = reinterpret_cast<uint8_t*>(&t);
  if (r.field->width == 1) {
    bytes[r.offset] = static_cast<uint8_t>(v);
  } else {
    const uint32_t w = static_cast<uint32_t>(v);
    std::memcpy(bytes + r.offset, &w, 4);
  }
}

void LoadRaw(atd::ChannelConfigTable& t, const Json& v, const std::string& path) {
  if (!v.is_string()) throw ProfileError(path, "expected a hex string of the table's bytes");
  std::string hex;
  for (char c : v.get<std::string>()) {
    if (std::isspace(static_cast<unsigned char>(c))) continue;
    if (!std::isxdigit(static_cast<unsigned char>(c)))
      throw ProfileError(path, std::string("not a hex digit: '") + c + "'");
    hex += c;
  }
  const size_t bytes = hex.size() / 2;
  if (hex.size() % 2 != 0 ||
      (bytes != sizeof(atd::ChannelConfigTable) && bytes != offsetof(T, tail)))
    throw ProfileError(path, "the table is " + std::to_string(offsetof(T, tail)) + " bytes (or " +
                                 std::to_string(sizeof(atd::ChannelConfigTable)) +
                                 " with its padding), found " + std::to_string(hex.size()) +
                                 " hex digits");
  auto* out = reinterpret_cast<uint8_t*>(&t);
  std::memset(out, 0, sizeof t);
  for (size_t i = 0; i < bytes; ++i)
    out[i] = static_cast<uint8_t>(std::stoul(hex.substr(2 * i, 2), nullptr, 16));
}

bool Flag(const Json& v, const std::string& path) {
  if (!v.is_boolean()) throw ProfileError(path, "expected true or false");
  return v.get<bool>();
}

ChannelGeometry ParseGeometry(const Json& v, const std::string& path) {
  profile::CheckKeys(v, path,
                     {"socket", "die", "channel", "capacity", "chipSelects", "bankBits", "rowBits",
                      "rowHiBits", "colBits", "rmBits", "csSelectBits", "range", "rowInversion",
                      "csHash", "bankHash", "rmHash", "hashSeed", "bankGroupBits"});
  const auto socket = static_cast<uint8_t>(
      profile::Number(profile::Required(v, path, "socket"), path + ".socket", 255));
  const auto die =
      static_cast<uint8_t>(profile::Number(profile::Required(v, path, "die"), path + ".die", 255));
  const auto channel = static_cast<uint8_t>(
      profile::Number(profile::Required(v, path, "channel"), path + ".channel", 255));

  static const char* const kShape[] = {"chipSelects", "bankBits", "rowBits",     "rowHiBits",
                                       "colBits",     "rmBits",   "csSelectBits"};
  bool shaped = false;
  for (const char* k : kShape) shaped = shaped || v.contains(k);
  ChannelGeometry g;
  g.socket = socket;
  g.die = die;
  g.channel = channel;
  std::optional<uint64_t> capacity;
  if (v.contains("capacity")) capacity = profile::Number(v["capacity"], path + ".capacity");
  try {
    if (!shaped) {
      if (!capacity) throw ProfileError(path + ".capacity", "missing (give a capacity or a shape)");
      g = DefaultGeometry(socket, die, channel, *capacity);
    }
    auto num = [&](const char* key, unsigned& field) {
      if (v.contains(key))
        field = static_cast<unsigned>(profile::Number(v[key], path + "." + key, 64));
    };
    num("chipSelects", g.chipSelects);
    num("bankBits", g.bankBits);
    num("rowBits", g.rowBits);
    num("rowHiBits", g.rowHiBits);
    num("colBits", g.colBits);
    num("rmBits", g.rmBits);
    if (v.contains("csSelectBits")) {
      const Json& bits = v["csSelectBits"];
      if (!bits.is_array())
        throw ProfileError(path + ".csSelectBits", "expected an array of address bits");
      g.csSelectBits.clear();
      for (size_t i = 0; i < bits.size(); ++i)
        g.csSelectBits.push_back(static_cast<unsigned>(
            profile::Number(bits[i], path + ".csSelectBits[" + std::to_string(i) + "]", 63)));
    }
    if (v.contains("range")) {
      const Json& r = v["range"];
      const std::string s = r.is_string() ? r.get<std::string>() : "";
      if (s == "primary")
        g.range = CsRange::Primary;
      else if (s == "secondary")
        g.range = CsRange::Secondary;
      else if (s == "both")
        g.range = CsRange::Both;
      else
        throw ProfileError(path + ".range", "expected \"primary\", \"secondary\" or \"both\"");
    }
    if (v.contains("rowInversion")) {
      const Json& r = v["rowInversion"];
      if (!r.is_array() || r.size() != 2)
        throw ProfileError(path + ".rowInversion", "expected [even, odd], each 0..3");
      g.rowInvEven = static_cast<uint8_t>(profile::Number(r[0], path + ".rowInversion[0]", 3));
      g.rowInvOdd = static_cast<uint8_t>(profile::Number(r[1], path + ".rowInversion[1]", 3));
    }
    if (v.contains("csHash")) g.csHash = Flag(v["csHash"], path + ".csHash");
    if (v.contains("bankHash")) g.bankHash = Flag(v["bankHash"], path + ".bankHash");
    if (v.contains("rmHash")) g.rmHash = Flag(v["rmHash"], path + ".rmHash");
    if (v.contains("hashSeed")) g.hashSeed = profile::Number(v["hashSeed"], path + ".hashSeed");
    const uint64_t built = CapacityOf(g);
    if (capacity && *capacity != built)
      throw ProfileError(path + ".capacity", "the geometry covers " + profile::Hex(built) +
                                                 " bytes, not " + profile::Hex(*capacity));
  } catch (const std::invalid_argument& e) {
    throw ProfileError(path, e.what());
  }
  return g;
}

}  // namespace

void LoadChannelConfigSection(const Json& section, const std::string& path, Platform& platform) {
  profile::CheckKeys(section, path, {"raw", "channels", "fields", "bankGroupBits"});
  // On top of what the platform holds: zeros, or the slots that the topology
  // builder filled for its channels. Raw bytes replace the whole table.
  atd::ChannelConfigTable& t = ChannelConfigOf(platform);
  if (section.contains("raw")) LoadRaw(t, section["raw"], path + ".raw");
  if (section.contains("channels")) {
    const Json& list = section["channels"];
    if (!list.is_array()) throw ProfileError(path + ".channels", "expected an array of channels");
    std::vector<std::pair<unsigned, std::string>> seen;
    for (size_t i = 0; i < list.size(); ++i) {
      const std::string at = path + ".channels[" + std::to_string(i) + "]";
      const ChannelGeometry g = ParseGeometry(list[i], at);
      const unsigned slot = SlotOf(g.socket, g.die, g.channel);
      for (const auto& [s, other] : seen)
        if (s == slot)
          throw ProfileError(at, "uses channel slot " + std::to_string(slot) + " like " + other);
      seen.emplace_back(slot, at);
      if (list[i].contains("bankGroupBits"))
        DimmInfoOf(platform).bankGroupBits[slot] = static_cast<unsigned>(
            profile::Number(list[i]["bankGroupBits"], at + ".bankGroupBits", g.bankBits));
      try {
        BuildChannelGeometry(t, g);
      } catch (const std::invalid_argument& e) {
        throw ProfileError(at, e.what());
      }
    }
  }
  // The dump's form of the channels' bank-group bits: {"slot": bits}.
  if (section.contains("bankGroupBits")) {
    const Json& groups = section["bankGroupBits"];
    const std::string at = path + ".bankGroupBits";
    if (!groups.is_object()) throw ProfileError(at, "expected an object of slot: bits");
    for (auto it = groups.begin(); it != groups.end(); ++it) {
      const uint64_t slot = profile::Number(Json(it.key()), at + "." + it.key(), 15);
      DimmInfoOf(platform).bankGroupBits[static_cast<unsigned>(slot)] =
          static_cast<unsigned>(profile::Number(*it, at + "." + it.key(), 5));
    }
  }
  if (section.contains("fields")) {
    const Json& fields = section["fields"];
    if (!fields.is_object()) throw ProfileError(path + ".fields", "expected an object of fields");
    for (auto it = fields.begin(); it != fields.end(); ++it) {
      const std::string at = path + ".fields." + it.key();
      const FieldRef r = ParseFieldKey(it.key(), at);
      Store(t, r, profile::Number(*it, at, r.field->width == 1 ? 0xFF : 0xFFFFFFFF));
    }
  }
}

Json DumpChannelConfigSection(Platform& platform) {
  const atd::ChannelConfigTable& t = ChannelConfigOf(platform);
  const auto* bytes = reinterpret_cast<const uint8_t*>(&t);
  Json fields = Json::object();
  for (const TableField& f : kFields) {
    const unsigned n = f.dim0 * (f.dim1 ? f.dim1 : 1);
    for (unsigned e = 0; e < n; ++e) {
      uint32_t v = 0;
      std::memcpy(&v, bytes + f.offset + e * f.width, f.width);
      if (v == 0) continue;
      const std::string key = std::string(f.name) + "[" + std::to_string(f.dim1 ? e / f.dim1 : e) +
                              "]" + (f.dim1 ? "[" + std::to_string(e % f.dim1) + "]" : "");
      fields[key] = profile::Hex(v);
    }
  }
  // Bytes the translation does not use, if anything was put there.
  bool unused = false;
  for (size_t i = 0; i < sizeof t && !unused; ++i) {
    const bool named = (i >= offsetof(T, csPresent) && i < offsetof(T, notUsed1)) ||
                       (i >= offsetof(T, csHashCtl) && i < offsetof(T, notUsed2)) ||
                       (i >= offsetof(T, bankHashBits) && i < offsetof(T, tail));
    unused = !named && bytes[i] != 0;
  }
  const auto& groups = DimmInfoOf(platform).bankGroupBits;
  if (fields.empty() && !unused && groups.empty()) return nullptr;
  Json out = Json::object();
  if (!groups.empty()) {
    Json g = Json::object();
    for (const auto& [slot, bits] : groups) g[std::to_string(slot)] = bits;
    out["bankGroupBits"] = std::move(g);
  }
  if (unused) {
    // Only the raw form carries them; the fields repeat the named part.
    static const char kHex[] = "0123456789ABCDEF";
    std::string hex;
    for (size_t i = 0; i < sizeof t; ++i) {
      hex += kHex[bytes[i] >> 4];
      hex += kHex[bytes[i] & 0xF];
    }
    out["raw"] = hex;
  }
  out["fields"] = std::move(fields);
  return out;
}

}  // namespace sim::dram
