// "acpi": {
//   "protocols": ["table", "sdt"],              (optional; default both)
//   "tables": ["<hex bytes of a whole table>"],  (optional; installed first, as given)
//   "bert": { "region": "<hex bytes>" }
//        or { "region": { "blockStatus", "rawDataOffset", "rawDataLength", "dataLength",
//                         "errorSeverity", "entries": "<hex>", "rawData": "<hex>",
//                         "length" } },          (all optional: an empty block)
//   "hest": { "table": "<hex bytes of the whole table>" }
//        or { "errorSourceCount": N, "sources": "<hex bytes>" }
// }
// The structured region is the status block, its entries, then its raw data;
// offsets and lengths default to that layout, "length" pads with zeros.
#include "sim/acpi/acpi_section.h"

#include "sim/acpi/acpi_tables.h"

#include <cstring>

namespace sim::acpi {

namespace {

using profile::Json;

std::vector<uint8_t> Hex(const Json& v, const std::string& path) {
  if (!v.is_string()) throw profile::ProfileError(path, "expected hex bytes in a string");
  try {
    return ParseHexBytes(v.get<std::string>());
  } catch (const std::invalid_argument& e) {
    throw profile::ProfileError(path, e.what());
  }
}

uint32_t U32(const Json& obj, const std::string& path, const char* key, uint64_t fallback) {
  return obj.contains(key)
             ? static_cast<uint32_t>(profile::Number(obj[key], path + "." + key, 0xFFFFFFFF))
             : static_cast<uint32_t>(fallback);
}

std::vector<uint8_t> LoadRegion(const Json& v, const std::string& path) {
  if (v.is_string()) return Hex(v, path);
  profile::CheckKeys(v, path,
                     {"blockStatus", "rawDataOffset", "rawDataLength", "dataLength",
                      "errorSeverity", "entries", "rawData", "length"});
  const std::vector<uint8_t> entries =
      v.contains("entries") ? Hex(v["entries"], path + ".entries") : std::vector<uint8_t>{};
  const std::vector<uint8_t> raw =
      v.contains("rawData") ? Hex(v["rawData"], path + ".rawData") : std::vector<uint8_t>{};
  GenericErrorStatusBlock b{};
  b.BlockStatus = U32(v, path, "blockStatus", 0);
  b.RawDataOffset = U32(v, path, "rawDataOffset", sizeof b + entries.size());
  b.RawDataLength = U32(v, path, "rawDataLength", raw.size());
  b.DataLength = U32(v, path, "dataLength", entries.size());
  b.ErrorSeverity = U32(v, path, "errorSeverity", kSeverityNone);
  std::vector<uint8_t> region(sizeof b);
  std::memcpy(region.data(), &b, sizeof b);
  region.insert(region.end(), entries.begin(), entries.end());
  region.insert(region.end(), raw.begin(), raw.end());
  if (v.contains("length")) {
    const uint64_t len = profile::Number(v["length"], path + ".length", 0x100000);
    if (len < region.size())
      throw profile::ProfileError(path + ".length", "shorter than the block and its data");
    region.resize(len, 0);
  }
  return region;
}

}  // namespace

void LoadAcpiSection(const Json& section, const std::string& path, Platform& platform) {
  profile::CheckKeys(section, path, {"protocols", "tables", "bert", "hest"});
  bool table = true, sdt = true;
  if (section.contains("protocols")) {
    const Json& list = section["protocols"];
    if (!list.is_array()) throw profile::ProfileError(path + ".protocols", "expected an array");
    table = sdt = false;
    for (size_t i = 0; i < list.size(); ++i) {
      const std::string name = list[i].is_string() ? list[i].get<std::string>() : "";
      if (name == "table")
        table = true;
      else if (name == "sdt")
        sdt = true;
      else
        throw profile::ProfileError(path + ".protocols[" + std::to_string(i) + "]",
                                    "expected \"table\" or \"sdt\"");
    }
  }
  InstallProtocols(platform, table, sdt);

  if (section.contains("tables")) {
    const Json& list = section["tables"];
    if (!list.is_array()) throw profile::ProfileError(path + ".tables", "expected an array");
    for (size_t i = 0; i < list.size(); ++i) {
      const std::string p = path + ".tables[" + std::to_string(i) + "]";
      std::vector<uint8_t> bytes = Hex(list[i], p);
      if (bytes.size() < sizeof(EFI_ACPI_SDT_HEADER))
        throw profile::ProfileError(p, "shorter than a table header");
      Store(platform).Add(std::move(bytes));
    }
  }
  if (section.contains("bert")) {
    const std::string p = path + ".bert";
    profile::CheckKeys(section["bert"], p, {"region"});
    InstallBert(platform,
                LoadRegion(profile::Required(section["bert"], p, "region"), p + ".region"));
  }
  if (section.contains("hest")) {
    const std::string p = path + ".hest";
    const Json& h = section["hest"];
    profile::CheckKeys(h, p, {"table", "errorSourceCount", "sources"});
    if (h.contains("table")) {
      if (h.contains("errorSourceCount") || h.contains("sources"))
        throw profile::ProfileError(p, "either \"table\" or \"errorSourceCount\"/\"sources\"");
      std::vector<uint8_t> bytes = Hex(h["table"], p + ".table");
      if (bytes.size() < sizeof(EFI_ACPI_SDT_HEADER))
        throw profile::ProfileError(p + ".table", "shorter than a table header");
      Store(platform).Add(std::move(bytes));
    } else {
      const uint32_t count = U32(h, p, "errorSourceCount", 0);
      InstallHest(
          platform, count,
          h.contains("sources") ? Hex(h["sources"], p + ".sources") : std::vector<uint8_t>{});
    }
  }
}

Json DumpAcpiSection(Platform& platform) {
  AcpiTableStore& store = Store(platform);
  if (!store.tableProtocolInstalled && !store.sdtProtocolInstalled && store.tables.empty())
    return nullptr;
  Json out = Json::object();
  Json protocols = Json::array();
  if (store.tableProtocolInstalled) protocols.push_back("table");
  if (store.sdtProtocolInstalled) protocols.push_back("sdt");
  out["protocols"] = protocols;
  Json others = Json::array();
  bool bertSeen = false, hestSeen = false;
  for (auto& t : store.tables) {
    uint32_t sig = 0;
    std::memcpy(&sig, t->bytes.data(), 4);
    if (sig == kBertSignature && !bertSeen) {
      bertSeen = true;
      out["bert"] = Json{{"region", HexBytes(BootErrorRegion(platform))}};
    } else if (sig == kHestSignature && !hestSeen) {
      hestSeen = true;
      out["hest"] = Json{{"table", HexBytes(t->bytes)}};
    } else {
      others.push_back(HexBytes(t->bytes));
    }
  }
  if (!others.empty()) out["tables"] = others;
  return out;
}

Json DefaultAcpiSection() {
  return Json::parse(R"({ "bert": { "region": {} }, "hest": { "errorSourceCount": 0 } })");
}

}  // namespace sim::acpi
