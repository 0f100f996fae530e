#include "sim/smm/profile_smm.h"

#include "registers/memory_controller.h"
#include "sim/smm/smm.h"
#include "tiv_setup.h"
#include "tools/common/guid_text.h"

#include <cstdio>

namespace sim::profile {

namespace {

using namespace mts::controller_reg;

bool Flag(const Json& section, const std::string& path, const char* key) {
  auto it = section.find(key);
  if (it == section.end()) return true;
  if (!it->is_boolean()) throw ProfileError(path + "." + key, "expected true or false");
  return it->get<bool>();
}

// {"0x10": "0xAB", ...} into `bytes` (offsets below `size`).
void LoadBytes(const Json& v, const std::string& path, uint8_t* bytes, size_t size) {
  if (!v.is_object()) throw ProfileError(path, "expected an object of offset: byte pairs");
  for (auto it = v.begin(); it != v.end(); ++it) {
    const uint64_t off = Number(Json(it.key()), path + "." + it.key());
    if (off >= size) throw ProfileError(path + "." + it.key(), "offset beyond " + Hex(size - 1));
    bytes[off] = static_cast<uint8_t>(Number(it.value(), path + "." + it.key(), 0xFF));
  }
}

Json DumpBytes(const uint8_t* bytes, size_t size) {
  Json j = Json::object();
  for (size_t i = 0; i < size; ++i)
    if (bytes[i] != 0) j[Hex(i)] = Hex(bytes[i]);
  return j;
}

std::u16string Utf16(const std::string& s) {
  return std::u16string(s.begin(), s.end());
}
std::string Ascii(const std::u16string& s) {
  std::string out;
  for (char16_t c : s) out.push_back(c < 0x80 ? static_cast<char>(c) : '?');
  return out;
}

}  // namespace

std::string GuidText(const EFI_GUID& g) {
  return tools::GuidText(reinterpret_cast<const uint8_t*>(&g));
}

EFI_GUID ParseGuid(const Json& v, const std::string& path) {
  if (!v.is_string()) throw ProfileError(path, "expected a GUID string");
  const std::string s = v.get<std::string>();
  unsigned d1, d2, d3, b[8];
  char tail;
  if (s.size() != 36 ||
      std::sscanf(s.c_str(), "%8x-%4x-%4x-%2x%2x-%2x%2x%2x%2x%2x%2x%c", &d1, &d2, &d3, &b[0], &b[1],
                  &b[2], &b[3], &b[4], &b[5], &b[6], &b[7], &tail) != 11)
    throw ProfileError(path, "not a GUID: \"" + s + "\"");
  EFI_GUID g{d1, static_cast<UINT16>(d2), static_cast<UINT16>(d3), {}};
  for (int i = 0; i < 8; ++i) g.Data4[i] = static_cast<UINT8>(b[i]);
  return g;
}

// ---- smm ----

void LoadSmm(const Json& section, const std::string& path, Platform& platform) {
  CheckKeys(section, path,
            {"smram", "rangeState", "swSmiDispatch", "variableProtocol", "configTokenService"});
  std::vector<uint64_t> sizes{0x100000};
  if (auto it = section.find("smram"); it != section.end()) {
    if (!it->is_array() || it->empty())
      throw ProfileError(path + ".smram", "expected a non-empty array of ranges");
    sizes.clear();
    for (size_t i = 0; i < it->size(); ++i) {
      const std::string p = path + ".smram[" + std::to_string(i) + "]";
      CheckKeys((*it)[i], p, {"size"});
      const uint64_t size = Number(Required((*it)[i], p, "size"), p + ".size", 0x4000000);
      if (size < 0x1000) throw ProfileError(p + ".size", "an SMRAM range is at least 0x1000 bytes");
      sizes.push_back(size);
    }
  }
  smm::InstallSmm(platform, sizes);
  if (auto it = section.find("rangeState"); it != section.end())
    smm::Smm(platform).rangeState = Number(*it, path + ".rangeState", 0x1F);
  if (Flag(section, path, "swSmiDispatch")) smm::InstallSwSmiDispatch(platform);
  if (Flag(section, path, "variableProtocol")) smm::InstallVariableProtocol(platform);
  if (Flag(section, path, "configTokenService")) smm::InstallConfigTokenService(platform);
}

Json DumpSmm(Platform& platform) {
  smm::SmmState& s = smm::Smm(platform);
  if (s.arena == nullptr) return nullptr;
  Json ranges = Json::array();
  for (uint64_t size : s.rangeSizes) ranges.push_back({{"size", Hex(size)}});
  return {{"smram", ranges},
          {"rangeState", Hex(s.rangeState)},
          {"swSmiDispatch", s.swDispatchInstalled},
          {"variableProtocol", s.variablesInstalled},
          {"configTokenService", s.tokensInstalled}};
}

Json DefaultSmm() {
  return {{"smram", Json::array({{{"size", "0x100000"}}, {{"size", "0x80000"}}})},
          {"swSmiDispatch", true},
          {"variableProtocol", true},
          {"configTokenService", true}};
}

// ---- memTuneProvider ----

void LoadMemTuneProvider(const Json& section, const std::string& path, Platform& platform) {
  CheckKeys(section, path, {"settings", "mailbox"});
  if (auto it = section.find("settings"); it != section.end())
    LoadBytes(*it, path + ".settings", smm::SettingsRecord(platform), smm::kSettingsBytes);
  if (auto it = section.find("mailbox"); it != section.end())
    LoadBytes(*it, path + ".mailbox", reinterpret_cast<uint8_t*>(smm::Mailbox(platform)),
              smm::kMailboxBytes);
  smm::InstallMemTuneProvider(platform);
}

Json DumpMemTuneProvider(Platform& platform) {
  if (!smm::Smm(platform).providerInstalled) return nullptr;
  return {{"settings", DumpBytes(smm::SettingsRecord(platform), smm::kSettingsBytes)},
          {"mailbox",
           DumpBytes(reinterpret_cast<uint8_t*>(smm::Mailbox(platform)), smm::kMailboxBytes)}};
}

Json DefaultMemTuneProvider() {
  Json settings = Json::object();
  const std::pair<unsigned, unsigned> bytes[] = {
      {0x08, 0x01}, {0x09, 0x30}, {0x0A, 0x00}, {0x0D, 0x3C}, {0x11, 0x01}, {0x12, 0x40},
      {0x14, 0x18}, {0x18, 0x02}, {0x19, 0x03}, {0x1A, 0x03}, {0x1B, 0x03}, {0x1C, 0x18},
      {0x1D, 0x18}, {0x1E, 0x18}, {0x1F, 0x18}, {0x20, 0x35}, {0x21, 0x01}, {0x22, 0x01},
      {0x23, 0x01}, {0x24, 0x01}, {0x25, 0x60}, {0x26, 0x00}, {0x27, 0x04}, {0x28, 0x80},
      {0x2C, 0x0C}, {0x30, 0x0F}, {0x34, 0x07}, {0x38, 0x03}, {0x3C, 0x01}};
  for (auto [off, v] : bytes) settings[Hex(off)] = Hex(v);
  return {{"settings", settings}, {"mailbox", {{"0xC8", "0x5A"}, {"0xC9", "0xC3"}}}};
}

// ---- variables ----

void LoadVariables(const Json& section, const std::string& path, Platform& platform) {
  if (!section.is_array()) throw ProfileError(path, "expected an array of variables");
  for (size_t i = 0; i < section.size(); ++i) {
    const std::string p = path + "[" + std::to_string(i) + "]";
    const Json& v = section[i];
    CheckKeys(v, p, {"name", "guid", "attributes", "size", "bytes"});
    const Json& name = Required(v, p, "name");
    if (!name.is_string() || name.get<std::string>().empty())
      throw ProfileError(p + ".name", "expected a non-empty string");
    const EFI_GUID guid = ParseGuid(Required(v, p, "guid"), p + ".guid");
    const uint32_t attributes =
        static_cast<uint32_t>(Number(Required(v, p, "attributes"), p + ".attributes", 0xFFFFFFFF));
    const size_t size = Number(Required(v, p, "size"), p + ".size", 0x10000);
    std::vector<uint8_t> data(size, 0);
    if (auto it = v.find("bytes"); it != v.end()) {
      if (size == 0 && !it->empty()) throw ProfileError(p + ".bytes", "the variable has no data");
      if (size) LoadBytes(*it, p + ".bytes", data.data(), size);
    }
    smm::SetVariable(platform, Utf16(name.get<std::string>()), guid, attributes, std::move(data));
  }
}

Json DumpVariables(Platform& platform) {
  auto& store = smm::Smm(platform).store;
  if (store.empty()) return nullptr;
  Json out = Json::array();
  for (auto& v : store)
    out.push_back({{"name", Ascii(v.name)},
                   {"guid", GuidText(v.guid)},
                   {"attributes", Hex(v.attributes)},
                   {"size", Hex(v.data.size())},
                   {"bytes", DumpBytes(v.data.data(), v.data.size())}});
  return out;
}

Json DefaultVariables() {
  Json bytes = Json::object();
  const std::pair<unsigned, unsigned> init[] = {
      {0x022, 0x01}, {0x032, 0x01}, {0x042, 0x01}, {0x0E7, 0x30}, {0x0E8, 0x16},
      {0x0E9, 0x16}, {0x0EA, 0x16}, {0x0EB, 0x16}, {0x0EC, 0x34}, {0x0EE, 0x4A},
      {0x112, 0x60}, {0x1B7, 0x01}, {0x1B9, 0x02}};
  for (auto [off, v] : init) bytes[Hex(off)] = Hex(v);
  const std::u16string name(std::begin(mts::kTivSetupName), std::end(mts::kTivSetupName) - 1);
  return Json::array({{{"name", Ascii(name)},
                       {"guid", GuidText(mts::kTivSetupGuid)},
                       {"attributes", "0x7"},
                       {"size", "0x200"},
                       {"bytes", bytes}}});
}

// ---- memoryController ----

void LoadMemoryController(const Json& section, const std::string& path, Platform& platform) {
  CheckKeys(section, path, {"processorSignature", "buses", "nodes"});
  if (auto it = section.find("processorSignature"); it != section.end())
    smm::SetProcessorSignature(
        platform, static_cast<uint32_t>(Number(*it, path + ".processorSignature", 0xFFFFFFFF)));
  if (auto it = section.find("buses"); it != section.end()) {
    if (!it->is_array()) throw ProfileError(path + ".buses", "expected an array");
    for (size_t i = 0; i < it->size(); ++i) {
      const std::string p = path + ".buses[" + std::to_string(i) + "]";
      const Json& b = (*it)[i];
      CheckKeys(b, p, {"bus", "channels", "registers"});
      const uint8_t bus = static_cast<uint8_t>(Number(Required(b, p, "bus"), p + ".bus", 0xFF));
      auto& mc = smm::MemoryController(platform, bus);
      if (auto ch = b.find("channels"); ch != b.end()) {
        if (!ch->is_array()) throw ProfileError(p + ".channels", "expected an array");
        for (size_t c = 0; c < ch->size(); ++c) {
          const std::string cp = p + ".channels[" + std::to_string(c) + "]";
          CheckKeys((*ch)[c], cp, {"channel", "registers"});
          const uint32_t n = static_cast<uint32_t>(
              Number(Required((*ch)[c], cp, "channel"), cp + ".channel", 0xFF));
          const Json& regs = Required((*ch)[c], cp, "registers");
          if (!regs.is_object()) throw ProfileError(cp + ".registers", "expected an object");
          for (auto r = regs.begin(); r != regs.end(); ++r) {
            const std::string rp = cp + ".registers." + r.key();
            const uint32_t reg = static_cast<uint32_t>(Number(Json(r.key()), rp, 0xFFFFF));
            mc.SetIndirect(ChannelBlock(n) + reg,
                           static_cast<uint32_t>(Number(r.value(), rp, 0xFFFFFFFF)));
          }
        }
      }
      if (auto regs = b.find("registers"); regs != b.end()) {
        if (!regs->is_object()) throw ProfileError(p + ".registers", "expected an object");
        for (auto r = regs->begin(); r != regs->end(); ++r) {
          const std::string rp = p + ".registers." + r.key();
          mc.SetIndirect(static_cast<uint32_t>(Number(Json(r.key()), rp, 0xFFFFFFFF)),
                         static_cast<uint32_t>(Number(r.value(), rp, 0xFFFFFFFF)));
        }
      }
    }
  }
  if (auto it = section.find("nodes"); it != section.end()) {
    if (!it->is_array()) throw ProfileError(path + ".nodes", "expected an array");
    for (size_t i = 0; i < it->size(); ++i) {
      const std::string p = path + ".nodes[" + std::to_string(i) + "]";
      const Json& n = (*it)[i];
      CheckKeys(n, p, {"device", "vendorId", "bus"});
      const uint64_t device = Number(Required(n, p, "device"), p + ".device", 0x1F);
      if (device < 0x18) throw ProfileError(p + ".device", "a node is device 0x18 to 0x1F");
      smm::SetNode(
          platform, static_cast<uint8_t>(device),
          static_cast<uint16_t>(Number(Required(n, p, "vendorId"), p + ".vendorId", 0xFFFF)),
          static_cast<uint8_t>(Number(Required(n, p, "bus"), p + ".bus", 0xFF)));
    }
  }
}

Json DumpMemoryController(Platform& platform) {
  Json j = Json::object();
  auto& cpuid = platform.cpus.at(0).cpuid;
  auto sig = cpuid.find(0x80000001);
  if (sig != cpuid.end()) j["processorSignature"] = Hex(sig->second.eax);
  Json buses = Json::array();
  for (unsigned bus = 0; bus < 256; ++bus) {
    auto* mc = dynamic_cast<smm::IndexDataFunction*>(platform.Pci(bus, 0, 0));
    if (mc == nullptr) continue;
    Json channels = Json::array();
    std::map<uint32_t, Json> byChannel;
    Json other = Json::object();
    for (auto [addr, value] : mc->Indirect()) {
      const uint32_t rel = addr - kChannelBlockBase;
      if (addr >= kChannelBlockBase && (rel % kChannelBlockStride) < 0x1000) {
        Json& c = byChannel[rel / kChannelBlockStride];
        if (c.is_null()) c = Json::object();
        c[Hex(rel % kChannelBlockStride)] = Hex(value);
      } else {
        other[Hex(addr)] = Hex(value);
      }
    }
    for (auto& [n, regs] : byChannel) channels.push_back({{"channel", n}, {"registers", regs}});
    Json b = {{"bus", bus}, {"channels", channels}};
    if (!other.empty()) b["registers"] = other;
    buses.push_back(b);
  }
  if (!buses.empty()) j["buses"] = buses;
  Json nodes = Json::array();
  for (uint8_t d = 0x18; d <= 0x1F; ++d) {
    auto* regs = dynamic_cast<RegisterFile*>(platform.Pci(0, d, 0));
    if (regs == nullptr || !regs->Registers().count(0) ||
        !regs->Registers().count(kBusNumberRegister))
      continue;
    nodes.push_back({{"device", Hex(d)},
                     {"vendorId", Hex(regs->ConfigRead32(0) & 0xFFFF)},
                     {"bus", Hex(regs->ConfigRead32(kBusNumberRegister) & 0xFF)}});
  }
  if (!nodes.empty()) j["nodes"] = nodes;
  if (j.empty()) return nullptr;
  return j;
}

Json DefaultMemoryController() {
  // One DDR4-3200 channel in use on bus 0 (clock code 48: 1600 MHz).
  Json regs = {{"0x12C", "0x10000000"}, {"0x200", "0x00000830"}, {"0x204", "0x16163416"},
               {"0x208", "0x0016004A"}, {"0x20C", "0x0C000804"}, {"0x210", "0x00000022"},
               {"0x214", "0x000C0410"}, {"0x218", "0x00000018"}, {"0x21C", "0x1F400000"},
               {"0x220", "0x05050104"}, {"0x224", "0x07070104"}, {"0x228", "0x00000901"},
               {"0x254", "0x01000000"}, {"0x260", "0x400D0230"}};
  return {{"processorSignature", "0x00870F10"},
          {"buses",
           Json::array({{{"bus", 0},
                         {"channels", Json::array({{{"channel", 0}, {"registers", regs}}})}}})}};
}

}  // namespace sim::profile
