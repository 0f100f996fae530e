// platsim profile dump: the expanded profile of the platform in use.
// platsim profile new: a profile written from topology options.
// platsim profile dimms --smbios FILE: the memory devices of a DMI table, and
// a skeleton of the profile's "dimms" section for the engineer to complete.
#include "sim/profile/profile.h"
#include "sim/topology/topology_profile.h"
#include "tools/platsim/cli/commands.h"
#include "tools/platsim/cli/platform_load.h"
#include "tools/platsim/profile/smbios_memory.h"
#include "tools/common/output_file.h"
#include "tools/common/hex_text.h"
#include "tools/common/input_file.h"
#include "tools/common/size_text.h"

#include <iostream>
#include <memory>
#include <sstream>

namespace platsim {

namespace {

// Topology options as text, so numbers may be written in hex.
struct NewOptions {
  std::string layout, sockets, dies, channelsPerDie, channels, firstChannel, intLvAddrSel;
  std::string channelSize, holeBase, highChannelSize, logicalMap, output;
  std::string hashed, hash64K, hash2M, hash1G, dieInterleave, socketInterleave, ccm;
};

bool ParseBool(const std::string& text, const std::string& what) {
  if (text == "true" || text == "on" || text == "yes" || text == "1") return true;
  if (text == "false" || text == "off" || text == "no" || text == "0") return false;
  throw UserError(what + ": expected true or false, not '" + text + "'");
}

// A size in bytes: a number, or a number and K, M, G or T (powers of 1024;
// "16G", "16GiB" and "16GB" alike).
uint64_t ParseSize(const std::string& text, const std::string& what) {
  static const std::pair<const char*, unsigned> kUnits[] = {
      {"KiB", 10}, {"MiB", 20}, {"GiB", 30}, {"TiB", 40}, {"KB", 10}, {"MB", 20},
      {"GB", 30},  {"TB", 40},  {"K", 10},   {"M", 20},   {"G", 30},  {"T", 40}};
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X'))
    return ParseNumber(text, what);
  for (const auto& [unit, shift] : kUnits) {
    const std::string u = unit;
    if (text.size() <= u.size() || text.compare(text.size() - u.size(), u.size(), u) != 0) continue;
    const uint64_t n = ParseNumber(text.substr(0, text.size() - u.size()), what);
    if (n > (UINT64_MAX >> shift)) throw UserError(what + ": out of range: '" + text + "'");
    return n << shift;
  }
  return ParseNumber(text, what);
}

void WriteNew(const NewOptions& o) {
  using sim::profile::Json;
  Json t = Json::object();
  auto num = [&](const std::string& text, const char* key, const char* opt) {
    if (!text.empty()) t[key] = ParseNumber(text, opt);
  };
  auto flag = [&](const std::string& text, const char* key, const char* opt) {
    if (!text.empty()) t[key] = ParseBool(text, opt);
  };
  if (!o.layout.empty()) t["layout"] = o.layout;
  num(o.sockets, "sockets", "--sockets");
  num(o.dies, "diesPerSocket", "--dies");
  num(o.channelsPerDie, "channelsPerDie", "--channels-per-die");
  num(o.channels, "channels", "--channels");
  num(o.firstChannel, "firstChannel", "--first-channel");
  flag(o.hashed, "hashed", "--hashed");
  if (!o.hash64K.empty() || !o.hash2M.empty() || !o.hash1G.empty()) {
    Json h = Json::object();
    if (!o.hash64K.empty()) h["64K"] = ParseBool(o.hash64K, "--hash-64k");
    if (!o.hash2M.empty()) h["2M"] = ParseBool(o.hash2M, "--hash-2m");
    if (!o.hash1G.empty()) h["1G"] = ParseBool(o.hash1G, "--hash-1g");
    t["hashEnables"] = h;
  }
  flag(o.dieInterleave, "dieInterleave", "--die-interleave");
  flag(o.socketInterleave, "socketInterleave", "--socket-interleave");
  num(o.intLvAddrSel, "intLvAddrSel", "--intlv-sel");
  auto size = [&](const std::string& text, const char* key, const char* opt) {
    if (!text.empty()) t[key] = sim::profile::Hex(ParseSize(text, opt));
  };
  size(o.channelSize, "channelSize", "--channel-size");
  size(o.holeBase, "holeBase", "--hole-base");
  size(o.highChannelSize, "highChannelSize", "--high-channel-size");
  if (!o.logicalMap.empty()) {
    Json list = Json::array();
    std::stringstream ss(o.logicalMap);
    std::string item;
    while (std::getline(ss, item, ',')) list.push_back(ParseNumber(item, "--logical-map"));
    t["logicalChannelMap"] = list;
  }
  flag(o.ccm, "ccm", "--ccm");

  // Checked and completed by the same loader a profile file goes through.
  sim::topology::Topology topo;
  try {
    topo = sim::topology::TopologyFromJson(t, "$.topology");
  } catch (const sim::profile::ProfileError& e) {
    throw UserError(std::string("topology: ") + e.what());
  }
  Json profile = Json::object();
  profile["topology"] = sim::topology::TopologyToJson(topo);
  if (o.output.empty() || o.output == "-") {
    std::cout << profile.dump(2) << "\n";
    return;
  }
  tools::WriteOutputFile(o.output, profile.dump(2) + "\n", "cannot write " + o.output);
}

struct DimmsOptions {
  std::string smbios, output;
};

// The devices, and the skeleton: one entry per installed device, its label,
// serial and part filled in, its place left as "?" (the table does not say
// which channel a slot is wired to; the loader refuses the "?" until it is
// replaced).
void ListDimms(const GlobalOptions& opts, const DimmsOptions& o) {
  using Json = sim::profile::Json;
  const std::vector<uint8_t> bytes = tools::ReadInputBytes(o.smbios, "DMI table", "platsim");
  const smbios::Table t = smbios::ReadMemoryDevices(bytes);
  Json devices = Json::array(), skeleton = Json::array();
  size_t installed = 0;
  for (const smbios::MemoryDevice& d : t.devices) {
    const bool empty = d.sizeBytes && *d.sizeBytes == 0;
    Json j{
        {"handle", tools::Hex(d.handle)}, {"locator", d.locator}, {"bankLocator", d.bankLocator}};
    j["size"] = d.sizeBytes ? Json(*d.sizeBytes) : Json(nullptr);
    j["speedMTs"] = d.speed ? Json(*d.speed) : Json(nullptr);
    j["ranks"] = d.ranks ? Json(*d.ranks) : Json(nullptr);
    j["manufacturer"] = d.manufacturer;
    j["serial"] = d.serial;
    j["part"] = d.part;
    j["installed"] = !empty;
    devices.push_back(j);
    if (empty) continue;
    ++installed;
    skeleton.push_back(Json{{"socket", "?"},
                            {"die", "?"},
                            {"channel", "?"},
                            {"dimm", "?"},
                            {"label", d.locator},
                            {"serial", d.serial},
                            {"part", d.part}});
  }
  const Json section{{"dimms", skeleton}};
  if (!o.output.empty())
    tools::WriteOutputFile(o.output, section.dump(2) + "\n", "cannot write '" + o.output + "'");
  if (opts.json) {
    Json j{{"file", o.smbios}, {"devices", devices}, {"damage", t.damage}, {"skeleton", section}};
    std::cout << j.dump(2, ' ', false, Json::error_handler_t::replace) << "\n";
  } else {
    std::cout << "memory devices (SMBIOS type 17) of " << o.smbios << ": " << t.devices.size()
              << ", " << installed << " installed\n";
    for (const smbios::MemoryDevice& d : t.devices) {
      std::cout << "  " << tools::Hex(d.handle) << "  \"" << d.locator << "\" / \"" << d.bankLocator
                << "\"  ";
      if (!d.sizeBytes)
        std::cout << "size unknown";
      else if (*d.sizeBytes == 0)
        std::cout << "empty";
      else
        std::cout << tools::SizeText(*d.sizeBytes);
      if (d.speed) std::cout << ", " << *d.speed << " MT/s";
      if (d.ranks) std::cout << ", " << *d.ranks << " rank" << (*d.ranks == 1 ? "" : "s");
      std::cout << ", " << d.manufacturer << ", serial " << d.serial << ", part " << d.part << "\n";
    }
    for (const std::string& d : t.damage) std::cout << "damaged: " << d << "\n";
    if (o.output.empty())
      std::cout << "\nskeleton of the profile's \"dimms\" section: replace every \"?\" with "
                   "the DIMM's socket, die, channel and DIMM number (or \"chipSelect\"), which "
                   "the table does not give\n"
                << section.dump(2) << "\n";
  }
  if (!t.damage.empty()) throw Refusal("");  // said above
}

}  // namespace

void AddProfileCommands(CLI::App& app, GlobalOptions& opts) {
  auto* profile = app.add_subcommand("profile", "platform profiles");
  profile->require_subcommand(1);
  auto* dump = profile->add_subcommand("dump", "write the expanded profile of the platform in use");
  SetExitCodes(dump, "written", "");
  dump->callback([&opts] {
    sim::Platform platform;
    LoadPlatform(opts, platform);
    std::cout << sim::profile::Dump(platform).dump(2) << "\n";
  });

  auto o = std::make_shared<NewOptions>();
  auto* make = profile->add_subcommand(
      "new", "write a profile from topology options (left out: the built-in platform's values)");
  make->add_option("--layout", o->layout, "fabric-id layout: combined or extended");
  make->add_option("--sockets", o->sockets, "sockets, 1-2");
  make->add_option("--dies", o->dies, "dies per socket, 1-4");
  make->add_option("--channels-per-die", o->channelsPerDie, "memory channels per die, 1-8");
  make->add_option("--channels", o->channels, "channels interleaved per map: 1, 2, 4, 8 or 6");
  make->add_option("--first-channel", o->firstChannel, "first interleaved channel of each die");
  make->add_option("--hashed", o->hashed, "hashed channel interleave (true/false)");
  make->add_option("--hash-64k", o->hash64K, "64 KiB hash term enable (extended layout)");
  make->add_option("--hash-2m", o->hash2M, "2 MiB hash term enable (extended layout)");
  make->add_option("--hash-1g", o->hash1G, "1 GiB hash term enable (extended layout)");
  make->add_option("--die-interleave", o->dieInterleave, "interleave over the dies of a socket");
  make->add_option("--socket-interleave", o->socketInterleave, "interleave over both sockets");
  make->add_option("--intlv-sel", o->intLvAddrSel, "intLvAddrSel 0-4: interleave from bit 8-12");
  make->add_option("--channel-size", o->channelSize,
                   "DRAM per channel, a multiple of 256 MiB (bytes, or with K, M, G, T: 16G)");
  make->add_option("--hole-base", o->holeBase, "MMIO hole [base, 4 GiB), 0 for none (e.g. 3G)");
  make->add_option("--high-channel-size", o->highChannelSize,
                   "DRAM per channel in a second map above the first (0: none; e.g. 1G)");
  make->add_option("--logical-map", o->logicalMap,
                   "six-channel mode: physical channel of logical 0-5, e.g. 0,1,2,3,4,5");
  make->add_option("--ccm", o->ccm, "whether the fabric has a CCM block (true/false)");
  make->add_option("-o,--output", o->output, "file to write (default: standard output)");
  SetExitCodes(make, "written", "");
  make->callback([o] { WriteNew(*o); });

  auto d = std::make_shared<DimmsOptions>();
  auto* dimms = profile->add_subcommand(
      "dimms",
      "list the memory devices of a DMI table (SMBIOS type 17) and write a skeleton of the "
      "profile's \"dimms\" section");
  dimms
      ->add_option("--smbios", d->smbios,
                   "the DMI table: /sys/firmware/dmi/tables/DMI or `dmidecode --dump-bin` output")
      ->required();
  dimms->add_option("-o,--output", d->output,
                    "write the skeleton to FILE (default: after the list, on standard output)");
  SetExitCodes(dimms, "listed", "the table is damaged (what could be read is listed)");
  dimms->callback([&opts, d] { ListDimms(opts, *d); });
}

}  // namespace platsim
