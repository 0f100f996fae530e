// platsim translate: the drivers' own address translations on the simulated
// platform, system -> normalized (sys) and normalized -> system (norm).
#include "addr_translate/fabric/calc_norm_addr.h"
#include "addr_translate/fabric/calc_sys_addr.h"
#include "addr_translate/fabric/check_dram_hit.h"
#include "addr_translate/fabric/fabric_decode.h"
#include "sim/fabric/data_fabric.h"
#include "sim/profile/profile.h"
#include "sim/topology/topology_profile.h"
#include "sim/uart_capture.h"
#include "tools/platsim/commands.h"

#include <cstdio>
#include <iostream>
#include <memory>
#include <sstream>

namespace platsim {

namespace {

using sim::profile::Json;

std::string Hex64(uint64_t v) {
  char buf[24];
  std::snprintf(buf, sizeof buf, "0x%016llX", static_cast<unsigned long long>(v));
  return buf;
}

std::string HexShort(uint64_t v) {
  char buf[24];
  std::snprintf(buf, sizeof buf, "0x%llX", static_cast<unsigned long long>(v));
  return buf;
}

// The platform a command runs on, with the UART capture attached.
struct Session {
  sim::Platform platform;
  std::shared_ptr<sim::UartCapture> uart;

  explicit Session(const GlobalOptions& opts) {
    if (opts.profile.empty())
      sim::profile::Load(sim::profile::Default(), platform);
    else
      sim::profile::LoadFile(opts.profile, platform);
    uart = sim::UartCapture::Attach(platform);
  }

  // The fabric-id description as the fabric holds it (no traced reads).
  atd::FabricIdMasks Masks() {
    const auto& f = sim::fabric::DataFabric::Of(platform);
    const uint16_t bc = sim::fabric::kBroadcast;
    return atd::decodeFabricIdMasks(f.Get({0, 1, 0x208, bc}), f.Get({0, 1, 0x20C, bc}),
                                    f.Get({0, 0, 0x3F8, bc}));
  }

  // Runs `op` with the trace on and the UART emptied; afterwards the trace
  // holds only what `op` did.
  template <typename F>
  void Traced(F op) {
    platform.trace.Clear();
    uart->Clear();
    platform.trace.Enable(true);
    try {
      op();
    } catch (const sim::FatalStopEnded& e) {
      throw UserError("the driver stopped with fatal stop code " + HexShort(e.code));
    }
    platform.trace.Enable(false);
  }
};

struct Report {
  Json json = Json::object();
  std::ostringstream text;
};

void AddTrace(Session& s, const GlobalOptions& opts, Report& r) {
  const auto reads = sim::fabric::DecodeFabricReads(s.platform.trace.Events());
  const auto lines = s.uart->Lines();
  if (opts.trace) {
    Json list = Json::array();
    r.text << "\nfabric register reads (" << reads.size() << "):\n";
    int i = 0;
    for (const auto& rd : reads) {
      char idx[16];
      std::snprintf(idx, sizeof idx, "%4d  ", ++i);
      r.text << idx << sim::fabric::ToString(rd) << "\n";
      Json e = Json::object();
      e["node"] = rd.node;
      e["function"] = rd.function;
      e["offset"] = HexShort(rd.offset);
      if (rd.instance == sim::fabric::kBroadcast)
        e["instance"] = "broadcast";
      else
        e["instance"] = rd.instance;
      e["value"] = HexShort(rd.value);
      const std::string name = sim::fabric::FabricRegisterName(rd.function, rd.offset);
      if (!name.empty()) e["register"] = name;
      list.push_back(std::move(e));
    }
    r.json["fabricReads"] = std::move(list);
  }
  if (opts.trace || opts.diag) {
    r.text << "\ndriver messages at the UART (0x3F8):\n";
    if (lines.empty()) r.text << "  (none arrived: no diagnostic back-end wrote to the UART)\n";
    for (const auto& l : lines) r.text << "  " << l << "\n";
    r.json["messages"] = lines;
  }
}

void Emit(const GlobalOptions& opts, Report& r) {
  if (opts.json)
    std::cout << r.json.dump(2) << "\n";
  else
    std::cout << r.text.str();
}

void TranslateSys(const GlobalOptions& opts, const std::string& addrText) {
  const uint64_t address = ParseNumber(addrText, "system address");
  Session s(opts);
  NormalizedAddress n{};
  s.Traced([&] { n = atd::calcNormAddr(address); });

  Report r;
  r.json["direction"] = "system-to-normalized";
  r.json["systemAddress"] = Hex64(address);
  r.text << "system address      " << Hex64(address) << "\n";
  const bool dram = n.normalizedAddr != kInvalidAddress;
  // The fabric's maps cover the MMIO hole below 4 GiB too; the driver does
  // not treat it specially, but the address is not DRAM.
  const auto& topo = s.platform.Extension<sim::topology::TopologyState>();
  const bool inHole = dram && topo.expanded && !topo.expanded->IsDram(address);
  if (dram) {
    const atd::FabricIdMasks m = s.Masks();
    const uint32_t owner = atd::checkDramHit(address);
    const uint64_t back = atd::calcSysAddr(n.normalizedAddr, n.socketId, n.dieId, n.channelId);
    char who[128];
    std::snprintf(who, sizeof who, "socket %u, die %u, channel %u (csFabricId 0x%X, node %u)",
                  n.socketId, n.dieId, n.channelId, owner, atd::nodeIdOf(owner, m));
    r.text << "owner               " << who << "\n";
    r.text << "normalized address  " << Hex64(n.normalizedAddr) << "\n";
    r.text << "back to system      " << Hex64(back)
           << (back == address ? "  (round trip ok)"
               : inHole        ? "  (differs: the address is not DRAM)"
                               : "  (differs: this map loses its die/socket interleave bits)")
           << "\n";
    r.json["normalizedAddress"] = Hex64(n.normalizedAddr);
    r.json["socket"] = n.socketId;
    r.json["die"] = n.dieId;
    r.json["channel"] = n.channelId;
    r.json["csFabricId"] = HexShort(owner);
    r.json["node"] = atd::nodeIdOf(owner, m);
    r.json["backToSystem"] = Hex64(back);
  } else {
    r.text << "normalized address  none: not DRAM\n";
    r.json["normalizedAddress"] = nullptr;
  }
  if (inHole) {
    r.text << "note                the address lies in the MMIO hole below 4 GiB\n";
    r.json["inMmioHole"] = true;
  }
  AddTrace(s, opts, r);
  Emit(opts, r);
  if (!dram)
    throw UserError("system address " + Hex64(address) +
                    " is not DRAM on this platform (no valid address map contains it)");
  if (inHole)
    throw UserError("system address " + Hex64(address) + " is in the MMIO hole [" +
                    Hex64(topo.expanded->holeBase) + ", 4 GiB), not DRAM");
}

void TranslateNorm(const GlobalOptions& opts, const std::string& addrText,
                   const std::string& socketText, const std::string& dieText,
                   const std::string& channelText) {
  const uint64_t norm = ParseNumber(addrText, "normalized address");
  const uint64_t socket = ParseNumber(socketText, "--socket");
  const uint64_t die = ParseNumber(dieText, "--die");
  const uint64_t channel = ParseNumber(channelText, "--channel");
  Session s(opts);

  // The channel must exist: its socket and die fit the fabric's ids, and its
  // coherent slave answers on that node.
  const atd::FabricIdMasks m = s.Masks();
  const uint64_t maxSocket = m.socketMask >> m.socketShift;
  const uint64_t maxDie = m.dieMask >> m.dieShift;
  if (socket > maxSocket)
    throw UserError("no socket " + std::to_string(socket) + " on this platform (sockets 0-" +
                    std::to_string(maxSocket) + ")");
  if (die > maxDie)
    throw UserError("no die " + std::to_string(die) + " on socket " + std::to_string(socket) +
                    " (dies 0-" + std::to_string(maxDie) + ")");
  const uint32_t node =
      atd::nodeIdFrom(static_cast<uint32_t>(socket), static_cast<uint32_t>(die), m);
  const auto& fabric = sim::fabric::DataFabric::Of(s.platform);
  if (channel > 254 ||
      !fabric.Has({static_cast<uint8_t>(node), 0, 0x50, static_cast<uint16_t>(channel)}))
    throw UserError("no channel " + std::to_string(channel) + " on socket " +
                    std::to_string(socket) + " die " + std::to_string(die));

  uint64_t sys = 0;
  s.Traced([&] {
    sys = atd::calcSysAddr(norm, static_cast<uint32_t>(socket), static_cast<uint32_t>(die),
                           static_cast<uint32_t>(channel));
  });

  Report r;
  r.json["direction"] = "normalized-to-system";
  r.json["normalizedAddress"] = Hex64(norm);
  r.json["socket"] = socket;
  r.json["die"] = die;
  r.json["channel"] = channel;
  r.json["node"] = node;
  char where[96];
  std::snprintf(where, sizeof where, "socket %llu, die %llu, channel %llu (node %u)",
                static_cast<unsigned long long>(socket), static_cast<unsigned long long>(die),
                static_cast<unsigned long long>(channel), node);
  r.text << "normalized address  " << Hex64(norm) << "\n";
  r.text << "channel             " << where << "\n";
  const bool ok = sys != kInvalidAddress;
  if (ok) {
    r.text << "system address      " << Hex64(sys) << "\n";
    r.json["systemAddress"] = Hex64(sys);
  } else {
    r.text << "system address      none\n";
    r.json["systemAddress"] = nullptr;
  }
  AddTrace(s, opts, r);
  Emit(opts, r);
  if (!ok)
    throw UserError("normalized address " + Hex64(norm) +
                    " is outside that channel's DRAM (or the channel has none)");
}

}  // namespace

void AddTranslateCommands(CLI::App& app, GlobalOptions& opts) {
  auto* translate = app.add_subcommand(
      "translate", "translate addresses with the drivers' own code on the simulated platform");
  translate->require_subcommand(1);
  translate->fallthrough();
  translate->footer(
      "Examples:\n"
      "  platsim translate sys 0x12345678\n"
      "  platsim translate norm 0x2468ACF --socket 0 --die 1 --channel 2\n"
      "  platsim translate sys 0x140000000 --trace      (register reads and driver messages)\n"
      "  platsim --profile my.json --json translate sys 0x1000");

  struct Args {
    std::string address, socket = "0", die = "0", channel;
  };
  auto args = std::make_shared<Args>();

  auto* sys = translate->add_subcommand(
      "sys", "system address -> normalized address and channel (calcNormAddr)");
  sys->add_option("ADDR", args->address, "system physical address (decimal or 0x hex)")->required();
  sys->fallthrough();
  sys->callback([&opts, args] { TranslateSys(opts, args->address); });

  auto* norm = translate->add_subcommand(
      "norm", "normalized address of a channel -> system address (calcSysAddr)");
  norm->add_option("ADDR", args->address, "normalized address (decimal or 0x hex)")->required();
  norm->add_option("--socket", args->socket, "socket id (default 0)");
  norm->add_option("--die", args->die, "die id within the socket (default 0)");
  norm->add_option("--channel", args->channel, "channel: the coherent slave's instance id")
      ->required();
  norm->fallthrough();
  norm->callback([&opts, args] {
    TranslateNorm(opts, args->address, args->socket, args->die, args->channel);
  });
}

}  // namespace platsim
