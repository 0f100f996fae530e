// platsim map: the platform's address map as a table (or JSON) and, with
// --svg, as a picture; and a consistency check of the maps and channels that
// exits with 1 when it finds something.
#include "addr_translate/fabric/check_dram_hit.h"
#include "tools/common/output_file.h"
#include "harness/addr_translate_driver.h"
#include "sim/profile/profile.h"
#include "sim/uart/console.h"
#include "tools/platsim/map/address_map.h"
#include "tools/platsim/cli/commands.h"
#include "tools/platsim/cli/platform_load.h"
#include "tools/platsim/map/map_svg.h"
#include "tools/platsim/translate/dram_format.h"

#include <algorithm>
#include <cstdio>
#include <map>
#include <iostream>
#include <memory>
#include <sstream>

namespace platsim {

namespace {

using namespace addrmap;
using sim::profile::Json;

std::string Pad(const std::string& s, size_t w) {
  return s.size() >= w ? s + " " : s + std::string(w - s.size(), ' ');
}

std::string Dimms(const Channel& c) {
  if (!c.dimms.hasSlot) return DramText(ShownDram({}, c.socket, c.die, c.channel));
  if (c.dimms.pairs.empty()) return "slot " + std::to_string(c.dimms.slot) + ": no chip select";
  std::string s = "slot " + std::to_string(c.dimms.slot) + ": ";
  for (size_t i = 0; i < c.dimms.pairs.size(); ++i) {
    const PairGeometry& g = c.dimms.pairs[i];
    s += (i ? " + " : "") + std::to_string(g.chipSelects) + " cs x (" +
         std::to_string(1u << g.bankBits) + " banks, 2^" + std::to_string(g.rowBits) + " rows, 2^" +
         std::to_string(g.colBits) + " cols" +
         (g.rmBits ? ", " + std::to_string(1u << g.rmBits) + " ranks" : "") + ")";
  }
  return s + " = " + SizeText(c.dimms.capacity);
}

std::string Interleave(const DramMap& m) {
  std::string bits;
  for (uint32_t b : m.interleaveBits) bits += (bits.empty() ? "" : ",") + std::to_string(b);
  return bits.empty() ? "-" : bits;
}

// "s0 d0 ch 0-3, s1 d0 ch 0-3"; fabric ids no channel has are named as such.
std::string Targets(const AddressMap& am, const DramMap& m) {
  std::map<std::pair<unsigned, unsigned>, std::vector<unsigned>> byDie;
  std::string missing;
  for (uint32_t t : m.targets) {
    const Channel* c = am.ChannelById(t);
    if (c != nullptr)
      byDie[{c->socket, c->die}].push_back(c->channel);
    else
      missing += (missing.empty() ? "" : " ") + (t == atd::kNoOwner ? "none" : Hex(t));
  }
  std::string s;
  for (auto& [sd, chans] : byDie) {
    std::sort(chans.begin(), chans.end());
    std::string list;
    for (size_t i = 0; i < chans.size();) {
      size_t j = i;
      while (j + 1 < chans.size() && chans[j + 1] == chans[j] + 1) ++j;
      list += (list.empty() ? "" : ",") + std::to_string(chans[i]) +
              (j > i ? "-" + std::to_string(chans[j]) : "");
      i = j + 1;
    }
    s += (s.empty() ? "" : ", ") + std::string("s") + std::to_string(sd.first) + " d" +
         std::to_string(sd.second) + " ch " + list;
  }
  if (!missing.empty()) s += (s.empty() ? "" : ", ") + std::string("no channel: ") + missing;
  return s;
}

// hiAddrOffset of a map its channels hold as their second map.
std::string SecondMapOffset(const DramMap& m) {
  if (!m.secondMap) return "-";
  return m.hiAddrOffsets.size() == 1 ? Hex(m.hiAddrOffsets[0]) : "varies";
}

// Channels whose ChannelConfigTable slot another channel shares.
std::string SharedSlot(const AddressMap& am, const Channel& c) {
  std::string s;
  for (const Channel& o : am.channels)
    if (&o != &c && o.dimms.hasSlot && o.dimms.slot == c.dimms.slot)
      s += (s.empty() ? " (shared with s" : ", s") + std::to_string(o.socket) + " d" +
           std::to_string(o.die) + " ch " + std::to_string(o.channel);
  return s.empty() ? s : s + ")";
}

// The fabric-id layout, hash terms, where the maps are read, the hole and
// the DRAM in total.
void TextSummary(const AddressMap& am, std::ostream& out) {
  const auto& mk = am.masks;
  out << "fabric ids   " << (mk.layout == atd::FabricIdLayout::Combined ? "Combined" : "Extended")
      << " layout: socket mask " << Hex(mk.socketMask) << " (shift " << mk.socketShift
      << "), die mask " << Hex(mk.dieMask) << " (shift " << mk.dieShift << ")\n";
  out << "hash terms   64 KiB " << (mk.hash.hash64KEnable ? "on" : "off") << ", 2 MiB "
      << (mk.hash.hash2MEnable ? "on" : "off") << ", 1 GiB "
      << (mk.hash.hash1GEnable ? "on" : "off") << "\n";
  out << "maps read    "
      << (am.ccmInstance == atd::kNoCcmInstance
              ? "by broadcast (no CCM block)"
              : "from CCM instance " + std::to_string(am.ccmInstance))
      << " on node 0\n";
  if (am.hasHole)
    out << "MMIO hole    " << Addr(am.holeBase) << " - " << Addr(k4G - 1) << " ("
        << SizeText(k4G - am.holeBase) << "), F0x104 = " << Hex(am.reg104) << "\n";
  else
    out << "MMIO hole    none (F0x104 = " << Hex(am.reg104) << ")\n";
  uint64_t dram = 0;
  for (const DramMap& m : am.maps) dram += m.Size() - m.holeBytes;
  out << "DRAM         " << SizeText(dram) << " in " << am.maps.size()
      << (am.maps.size() == 1 ? " map, " : " maps, ") << am.channels.size()
      << (am.channels.size() == 1 ? " channel\n\n" : " channels\n\n");
}

void TextMaps(const AddressMap& am, std::ostream& out) {
  out << "DRAM address maps, in the order checkDramHit searches them\n";
  out << "map  " << Pad("system addresses", 29) << "  " << Pad("size", 9) << " " << Pad("hole", 8)
      << " " << Pad("channels", 8) << " " << Pad("code", 5) << " " << Pad("hashed", 7) << " "
      << Pad("dies", 5) << " " << Pad("sockets", 8) << " " << Pad("start bit", 10) << " "
      << Pad("interleave bits", 16) << " " << Pad("2nd-map offset", 15)
      << " served by (socket, die, channel)\n";
  for (const DramMap& m : am.maps) {
    out << Pad(std::to_string(m.index), 3) << "  "
        << Addr(m.map.dramBaseAddr) + "-" + Addr(m.map.dramLimitAddr) << "  "
        << Pad(SizeText(m.Size()), 9) << " " << Pad(m.map.holeEn ? SizeText(m.holeBytes) : "-", 8)
        << " " << Pad(std::to_string(m.routing.channels) + (m.routing.sixChannel ? "*" : ""), 8)
        << " " << Pad(std::to_string(m.map.chanIntlvCode), 5) << " "
        << Pad(m.routing.hashed ? "yes" : "no", 7) << " " << Pad(std::to_string(m.dies), 5) << " "
        << Pad(std::to_string(m.sockets), 8) << " " << Pad(std::to_string(m.intLvAddrBit), 10)
        << " " << Pad(Interleave(m), 16) << " " << Pad(SecondMapOffset(m), 15) << " "
        << Targets(am, m) << "\n";
  }
}

// What the maps table cannot say in a column: six channels, the hole inside
// a map, a code calcNormAddr reads differently.
void TextMapNotes(const AddressMap& am, std::ostream& out) {
  bool note = false;
  for (const DramMap& m : am.maps) {
    if (m.routing.sixChannel && !note) {
      out << "  * six channels: the fabric picks one of six by a hash and a modulo-3 rule; a "
             "channel's normalized addresses do not rise with the system address, so the "
             "channel table shows those of its first and last byte\n";
      note = true;
    }
  }
  for (const DramMap& m : am.maps) {
    if (m.map.holeEn)
      out << "  map " << m.index << ": holeEn, the MMIO hole lies inside; addresses from "
          << Addr(am.holeBase) << " up (in effect those from 4 GiB) are lowered by "
          << Hex(atd::holeAdjust(am.holeBase)) << " before the interleave is removed\n";
    if (m.routing.bits != m.normalizing.bits)
      out << "  map " << m.index << ": code " << unsigned{m.map.chanIntlvCode}
          << " sends every address to one channel, but calcNormAddr removes "
          << unsigned{m.normalizing.bits} << " bit(s) for it\n";
  }
}

void TextChannel(const AddressMap& am, const Channel& c, std::ostream& out) {
  std::string own;
  for (const OwnMap& o : c.own)
    own += (own.empty() ? "" : "/") + (!o.map.valid   ? std::string("-")
                                       : o.ccmMap < 0 ? "?"
                                                      : std::to_string(o.ccmMap));
  std::string hi = "-";
  if (c.hiAddrOffsetEnabled)
    hi = Hex(c.hiAddrOffset);
  else if (c.hiAddrOffset != 0)
    hi = Hex(c.hiAddrOffset) + " (off)";
  std::vector<std::string> ranges;
  for (const NormRange& r : c.ranges)
    ranges.push_back(r.known
                         ? Addr(r.first) + "-" + Addr(r.last) + " (" + std::to_string(r.map) + ")"
                         : "unknown (" + std::to_string(r.map) + ")");
  if (ranges.empty()) ranges.push_back("none");
  out << Pad(std::to_string(c.socket), 7) << " " << Pad(std::to_string(c.die), 4) << " "
      << Pad(std::to_string(c.channel), 8) << " " << Pad(std::to_string(c.node), 5) << " "
      << Pad(Hex(c.fabricId), 11) << " " << Pad(own, 9) << " " << Pad(hi, 18) << " "
      << Pad(ranges[0], 36) << " " << Dimms(c) << SharedSlot(am, c) << "\n";
  for (size_t i = 1; i < ranges.size(); ++i) out << std::string(69, ' ') << ranges[i] << "\n";
}

void TextChannels(const AddressMap& am, std::ostream& out) {
  out << "\nchannels (the coherent slaves; own maps: the maps above that their own map 0 / "
         "map 1 registers hold)\n";
  out << Pad("socket", 7) << " " << Pad("die", 4) << " " << Pad("channel", 8) << " "
      << Pad("node", 5) << " " << Pad("csFabricId", 11) << " " << Pad("own maps", 9) << " "
      << Pad("hiAddrOffset", 18) << " " << Pad("normalized addresses (map)", 36)
      << " DIMMs (ChannelConfigTable)\n";
  for (const Channel& c : am.channels) TextChannel(am, c, out);
}

void TextFindings(const AddressMap& am, std::ostream& out) {
  out << "\n";
  unsigned unpopulated = 0;
  for (const Channel& c : am.channels) unpopulated += c.Populated() ? 0 : 1;
  if (unpopulated != 0)
    out << unpopulated << (unpopulated == 1 ? " channel has" : " channels have")
        << " neither DIMMs nor map registers: unpopulated, not a finding\n";
  if (am.findings.empty()) {
    out << "consistency check: no overlaps, no gaps, every channel has a map and every map its "
           "channels\n";
    return;
  }
  out << "consistency check: " << am.findings.size()
      << (am.findings.size() == 1 ? " finding\n" : " findings\n");
  for (const Finding& f : am.findings) out << "  " << FindingName(f.kind) << ": " << f.text << "\n";
}

void Text(const AddressMap& am, const std::string& title, const TranslationPlatform& platform,
          std::ostream& out) {
  out << title << "\n";
  out << platform.line << "\n";
  TextSummary(am, out);
  TextMaps(am, out);
  TextMapNotes(am, out);
  TextChannels(am, out);
  TextFindings(am, out);
}

Json FabricIdsJson(const atd::FabricIdMasks& mk) {
  return {{"layout", mk.layout == atd::FabricIdLayout::Combined ? "combined" : "extended"},
          {"socketMask", Hex(mk.socketMask)},
          {"socketShift", mk.socketShift},
          {"dieMask", Hex(mk.dieMask)},
          {"dieShift", mk.dieShift},
          {"nodeMask", Hex(mk.nodeMask)},
          {"hash64KEnable", mk.hash.hash64KEnable != 0},
          {"hash2MEnable", mk.hash.hash2MEnable != 0},
          {"hash1GEnable", mk.hash.hash1GEnable != 0}};
}

Json MapJson(const AddressMap& am, const DramMap& m) {
  Json t = Json::array();
  for (uint32_t id : m.targets) t.push_back(Hex(id));
  Json offsets = Json::array();
  for (uint64_t o : m.hiAddrOffsets) offsets.push_back(Hex(o));
  return {{"map", m.index},
          {"base", Hex(m.map.dramBaseAddr)},
          {"limit", Hex(m.map.dramLimitAddr)},
          {"size", Hex(m.Size())},
          {"dramBaseReg", Hex(m.baseReg)},
          {"dramLimitReg", Hex(m.limitReg)},
          {"holeEn", m.map.holeEn},
          {"holeBytes", Hex(m.holeBytes)},
          {"chanIntlvCode", m.map.chanIntlvCode},
          {"numChanInterleaved", m.routing.channels},
          {"hashed", m.routing.hashed},
          {"sixChannel", m.routing.sixChannel},
          {"numDieInterleaved", m.dies},
          {"numSocketsInterleaved", m.sockets},
          {"intLvAddrBit", m.intLvAddrBit},
          {"numInterleaveBits", m.numInterleaveBits},
          {"interleaveBits", m.interleaveBits},
          {"dstFabricId", Hex(m.map.dstFabricId)},
          {"secondMap", m.secondMap},
          {"hiAddrOffsets", offsets},
          {"owner", OwnerText(am, m)},
          {"targets", t}};
}

Json ChannelJson(const Channel& c) {
  Json own = Json::array();
  for (const OwnMap& o : c.own)
    own.push_back(o.map.valid ? Json{{"dramBaseReg", Hex(o.baseReg)},
                                     {"dramLimitReg", Hex(o.limitReg)},
                                     {"map", o.ccmMap < 0 ? Json(nullptr) : Json(o.ccmMap)}}
                              : Json(nullptr));
  Json ranges = Json::array();
  for (const NormRange& r : c.ranges)
    ranges.push_back({{"map", r.map},
                      {"first", r.known ? Json(Hex(r.first)) : Json(nullptr)},
                      {"last", r.known ? Json(Hex(r.last)) : Json(nullptr)},
                      {"firstSystem", Hex(r.firstSys)},
                      {"lastSystem", r.known ? Json(Hex(r.lastSys)) : Json(nullptr)}});
  Json pairs = Json::array();
  for (const PairGeometry& g : c.dimms.pairs)
    pairs.push_back({{"pair", g.pair},
                     {"chipSelects", g.chipSelects},
                     {"bankBits", g.bankBits},
                     {"rowBits", g.rowBits},
                     {"colBits", g.colBits},
                     {"rankMultiplierBits", g.rmBits}});
  Json j = {{"socket", c.socket},
            {"die", c.die},
            {"channel", c.channel},
            {"node", c.node},
            {"csFabricId", Hex(c.fabricId)},
            {"ownMaps", own},
            {"hiAddrOffset", Hex(c.hiAddrOffset)},
            {"hiAddrOffsetEnabled", c.hiAddrOffsetEnabled},
            {"normalized", ranges},
            {"dimms", c.dimms.hasSlot ? Json{{"slot", c.dimms.slot},
                                             {"pairs", pairs},
                                             {"capacity", Hex(c.dimms.capacity)}}
                                      : Json(nullptr)}};
  // No geometry: null and the reason, as the translations show it.
  if (!c.dimms.hasSlot) j[kDramNoteKey] = NoDramReason(c.socket, c.die, c.channel);
  return j;
}

Json ToJson(const AddressMap& am, const std::string& title, const TranslationPlatform& platform) {
  Json j = Json::object();
  j["title"] = title;
  j["platform"] = platform.json;
  j["fabricIds"] = FabricIdsJson(am.masks);
  if (am.ccmInstance == atd::kNoCcmInstance)
    j["ccmInstance"] = nullptr;
  else
    j["ccmInstance"] = am.ccmInstance;
  j["hole"] = am.hasHole ? Json{{"base", Hex(am.holeBase)},
                                {"end", Hex(k4G)},
                                {"holeAdjust", Hex(atd::holeAdjust(am.holeBase))}}
                         : Json(nullptr);
  Json maps = Json::array();
  for (const DramMap& m : am.maps) maps.push_back(MapJson(am, m));
  j["maps"] = std::move(maps);
  Json channels = Json::array();
  for (const Channel& c : am.channels) channels.push_back(ChannelJson(c));
  j["channels"] = std::move(channels);
  Json findings = Json::array();
  for (const Finding& f : am.findings) {
    Json e = {{"kind", FindingName(f.kind)}, {"text", f.text}};
    if (f.to != 0) {
      e["from"] = Hex(f.from);
      e["to"] = Hex(f.to);
    }
    findings.push_back(std::move(e));
  }
  j["findings"] = std::move(findings);
  return j;
}

// Which channel serves each of the first granules of map `index`, each asked
// of the driver (slot 2).
Strip MakeStrip(const AddressMap& am, TranslationProtocol& protocol, unsigned index) {
  const DramMap* m = nullptr;
  for (const DramMap& d : am.maps)
    if (d.index == index) m = &d;
  if (m == nullptr) throw UserError("--strip-map " + std::to_string(index) + ": no such valid map");
  Strip s{index, m->map.dramBaseAddr, m->Granule(), {}};
  for (unsigned k = 0; k < kStripGranules; ++k) {
    const uint64_t a = s.base + s.granule * k;
    if (a > m->map.dramLimitAddr) break;
    StripCell c{a, StripCell::Kind::None, 0, 0, 0, 0, false};
    if (am.InHole(a)) {
      c.kind = StripCell::Kind::Hole;
    } else {
      NormalizedAddress n{};
      if (SystemToNormalized(protocol, a, &n)) {
        c.kind = StripCell::Kind::Channel;
        c.socket = n.socketId;
        c.die = n.dieId;
        c.channel = n.channelId;
        c.fabricId = 1u << 24 | n.socketId << 16 | n.dieId << 8 | n.channelId;
        for (const Channel& ch : am.channels) {
          if (ch.socket != n.socketId || ch.die != n.dieId || ch.channel != n.channelId) continue;
          c.fabricId = ch.fabricId;
          c.listed = true;
        }
      }
    }
    s.cells.push_back(c);
  }
  return s;
}

struct MapArgs {
  std::string svg;
  int stripMap = -1;
};

void Map(const GlobalOptions& opts, const MapArgs& args) {
  sim::Platform platform;
  // Hundreds of translations: nothing here reads the access trace.
  platform.trace.Enable(false);
  LoadPlatform(opts, platform);
  // The driver's diagnostic messages are not part of this view.
  std::ostringstream discard;
  auto console = sim::uart::InstallConsole(platform, discard);
  sim::AddrTranslateDriver driver(platform);
  if (driver.Status() != EFI_SUCCESS || driver.Protocol() == nullptr)
    throw UserError("AddrTranslateDxe did not start on this platform (status " +
                    Hex(driver.Status()) + ")");
  const AddressMap am = Read(platform, *driver.Protocol());
  const TranslationPlatform named = PlatformBehindTranslation(opts, platform);
  const std::string title =
      "Address map of " +
      (opts.profile.empty() ? std::string("the built-in default platform") : opts.profile);

  const bool svgToStdout = args.svg == "-";
  if (!args.svg.empty()) {
    std::unique_ptr<Strip> strip;
    if (args.stripMap >= 0)
      strip = std::make_unique<Strip>(MakeStrip(am, *driver.Protocol(), args.stripMap));
    else if (!am.maps.empty())
      strip = std::make_unique<Strip>(MakeStrip(am, *driver.Protocol(), am.maps.front().index));
    const std::string svg = RenderSvg(am, strip.get(), title, named.line);
    if (svgToStdout) {
      std::cout << svg;
    } else {
      tools::WriteOutputFile(args.svg, svg, "cannot write " + args.svg);
    }
  }
  if (!svgToStdout) {
    if (opts.json) {
      Json j = ToJson(am, title, named);
      if (!args.svg.empty()) j["svg"] = args.svg;
      std::cout << j.dump(2) << "\n";
    } else {
      Text(am, title, named, std::cout);
      if (!args.svg.empty()) std::cout << "picture: " << args.svg << "\n";
    }
  }
  std::cout.flush();
  if (!am.findings.empty()) throw Refusal("");  // all said above: exit code 1
}

}  // namespace

void AddMapCommands(CLI::App& app, GlobalOptions& opts) {
  auto args = std::make_shared<MapArgs>();
  auto* map = app.add_subcommand(
      "map",
      "the platform's address map: DRAM maps, hole, interleave, channels and their DIMMs, "
      "with a consistency check (exit 1 when it finds overlaps, gaps, channels without a map "
      "or maps without channels)");
  map->add_option("--svg", args->svg,
                  "also draw the address map as an SVG picture into FILE ('-': only the "
                  "picture, to standard output)")
      ->type_name("FILE");
  map->add_option("--strip-map", args->stripMap,
                  "the map whose first granules the picture's interleave strip shows "
                  "(default: the first valid map)")
      ->type_name("N")
      ->check(CLI::Range(0, 15));
  map->fallthrough();
  map->footer(
      "Examples:\n"
      "  platsim map\n"
      "  platsim --profile my.json map --svg map.svg\n"
      "  platsim map --svg - | rsvg-convert -o map.png\n"
      "  platsim --json map");
  SetExitCodes(map, "shown, and the check found nothing",
               "the check found overlaps, gaps, channels without a map or maps without channels "
               "(all shown)");
  map->callback([&opts, args] { Map(opts, *args); });
}

}  // namespace platsim
