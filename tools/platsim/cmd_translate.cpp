// platsim translate: the drivers' own address translations on the simulated
// platform, system -> normalized (sys) and normalized -> system (norm), made
// through the TranslationProtocol that AddrTranslateDxe installs when it
// starts on the platform (slot 2 for sys, slot 1 for norm).
#include "addr_translate/dram/channel_config_table.h"
#include "addr_translate/fabric/fabric_decode.h"
#include "addr_translate/fabric/fabric_registers.h"
#include "sim/driver_harness.h"
#include "sim/dram/channel_geometry.h"
#include "sim/fabric/data_fabric.h"
#include "sim/profile/profile.h"
#include "sim/topology/topology_profile.h"
#include "sim/uart/console.h"
#include "tools/platsim/commands.h"
#include "tools/platsim/dram_format.h"
#include "tools/platsim/sys_translator.h"

#include <cstdio>
#include <cstring>
#include <iostream>
#include <memory>
#include <optional>
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

// The platform a command runs on: the profile loaded, the console on the
// UART, and AddrTranslateDxe started on it.
struct Session {
  sim::Platform platform;
  std::ostringstream messages;  // what the console printed, for --json
  std::shared_ptr<sim::uart::Console> console;
  std::optional<sim::AddrTranslateDriver> driver;
  bool showMessages;

  explicit Session(const GlobalOptions& opts) : showMessages(opts.trace || opts.diag) {
    if (opts.profile.empty())
      sim::profile::Load(sim::profile::Default(), platform);
    else
      sim::profile::LoadFile(opts.profile, platform);
    // The drivers' messages as they reach the UART: straight to the terminal
    // while translating, or kept for the JSON report.
    console = sim::uart::InstallConsole(
        platform, showMessages && !opts.json ? static_cast<std::ostream&>(std::cout) : messages);
    driver.emplace(platform);
    if (driver->Status() != EFI_SUCCESS || driver->Protocol() == nullptr)
      throw UserError("AddrTranslateDxe did not start on this platform (status " +
                      HexShort(driver->Status()) + ")");
    // Only the translations' own messages from here on.
    console->Flush();
    messages.str("");
  }

  TranslationProtocol& Protocol() { return *driver->Protocol(); }

  // The fabric-id description as the fabric holds it (no traced reads).
  atd::FabricIdMasks Masks() {
    const auto& f = sim::fabric::DataFabric::Of(platform);
    const uint16_t bc = sim::fabric::kBroadcast;
    return atd::decodeFabricIdMasks(f.Get({0, 1, 0x208, bc}), f.Get({0, 1, 0x20C, bc}),
                                    f.Get({0, 0, 0x3F8, bc}));
  }

  // Runs `op` with the trace on; afterwards the trace holds only what `op`
  // did. In text mode the drivers' messages appear under a heading as they
  // arrive.
  template <typename F>
  void Traced(const GlobalOptions& opts, F op) {
    if (showMessages && !opts.json) std::cout << "driver messages at the UART (0x3F8):\n";
    platform.trace.Clear();
    platform.trace.Enable(true);
    try {
      op();
    } catch (const sim::FatalStopEnded& e) {
      platform.trace.Enable(false);
      console->Flush();
      throw UserError("the driver stopped with fatal stop code " + HexShort(e.code));
    }
    platform.trace.Enable(false);
    console->Flush();
    if (showMessages && !opts.json) {
      if (console->Text().empty())
        std::cout << "  (none arrived: no diagnostic back-end wrote to the UART)\n";
      std::cout << "\n";
    }
  }
};

struct Report {
  Json json = Json::object();
  std::ostringstream text;
};

// A channel the ChannelConfigTable has no slot for gets zeros from the DRAM
// translation; say so next to the coordinates.
void AddDram(Report& r, const DramAddress& d, unsigned socket, unsigned die, unsigned channel,
             const char* key) {
  r.text << "DRAM                " << FormatDram(d) << "\n";
  r.json[key] = DramJson(d);
  const unsigned slot = sim::dram::SlotOf(socket, die, channel);
  if (slot >= atd::kChannelSlots) {
    r.text << "note                channel slot " << slot
           << " is beyond the 16 slots of the channel configuration table: no DIMM geometry, "
              "the coordinates are zeros\n";
    r.json["dramNote"] = "channel slot " + std::to_string(slot) + " beyond the table";
  }
}

void AddTrace(Session& s, const GlobalOptions& opts, Report& r) {
  const auto reads = sim::fabric::DecodeFabricReads(s.platform.trace.Events());
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
  if (s.showMessages && opts.json) {
    Json lines = Json::array();
    std::istringstream in(s.messages.str());
    for (std::string l; std::getline(in, l);) lines.push_back(l);
    r.json["messages"] = std::move(lines);
  }
}

void Emit(const GlobalOptions& opts, Report& r) {
  if (opts.json)
    std::cout << r.json.dump(2) << "\n";
  else
    std::cout << r.text.str();
}

// One system address through slot 2 and back through slot 1, into `r`.
// Returns why the address is not DRAM on this platform, empty when it is.
std::string ReportSys(Session& s, const GlobalOptions& opts, uint64_t address, Report& r) {
  NormalizedAddress n{};
  DramAddress dram{};
  EFI_STATUS status = EFI_SUCCESS;
  uint64_t back = kInvalidAddress;
  DramAddress dramBack{};
  s.Traced(opts, [&] {
    status = s.Protocol().SystemToNormalized(&address, &n, &dram);
    // And back through slot 1, which also gives the DRAM coordinates again.
    if (status == EFI_SUCCESS) s.Protocol().NormalizedToSystem(&n, &back, &dramBack);
  });

  r.json["direction"] = "system-to-normalized";
  r.json["systemAddress"] = Hex64(address);
  r.text << "system address      " << Hex64(address) << "\n";
  const bool isDram = status == EFI_SUCCESS;
  // The fabric's maps cover the MMIO hole below 4 GiB too; the driver does
  // not treat it specially, but the address is not DRAM.
  const auto& topo = s.platform.Extension<sim::topology::TopologyState>();
  const bool inHole = isDram && topo.expanded && !topo.expanded->IsDram(address);
  if (isDram) {
    const atd::FabricIdMasks m = s.Masks();
    const uint32_t node = atd::nodeIdFrom(n.socketId, n.dieId, m);
    // The owner's fabric id as its own register holds it (read untraced).
    const uint32_t owner = atd::fabric_reg::BlockFabricId::FabricId::Get(
        sim::fabric::DataFabric::Of(s.platform)
            .Get({static_cast<uint8_t>(node), 0, 0x50, n.channelId}));
    char who[128];
    std::snprintf(who, sizeof who, "socket %u, die %u, channel %u (csFabricId 0x%X, node %u)",
                  n.socketId, n.dieId, n.channelId, owner, node);
    r.text << "owner               " << who << "\n";
    r.text << "normalized address  " << Hex64(n.normalizedAddr) << "\n";
    r.json["normalizedAddress"] = Hex64(n.normalizedAddr);
    r.json["socket"] = n.socketId;
    r.json["die"] = n.dieId;
    r.json["channel"] = n.channelId;
    r.json["csFabricId"] = HexShort(owner);
    r.json["node"] = node;
    AddDram(r, dram, n.socketId, n.dieId, n.channelId, "dram");
    const bool sameDram = std::memcmp(&dram, &dramBack, sizeof dram) == 0;
    r.text << "back to system      " << Hex64(back)
           << (back == address ? "  (round trip ok)"
               : inHole        ? "  (differs: the address is not DRAM)"
                               : "  (differs: this map loses its die/socket interleave bits)")
           << "\n";
    if (!sameDram) r.text << "DRAM back           " << FormatDram(dramBack) << "  (differs)\n";
    r.json["backToSystem"] = Hex64(back);
    r.json["dramBack"] = DramJson(dramBack);
  } else {
    r.text << "normalized address  none: not DRAM\n";
    r.json["normalizedAddress"] = nullptr;
  }
  r.json["status"] = HexShort(status);
  if (inHole) {
    r.text << "note                the address lies in the MMIO hole below 4 GiB\n";
    r.json["inMmioHole"] = true;
  }
  if (!isDram)
    return "system address " + Hex64(address) +
           " is not DRAM on this platform (no valid address map contains it)";
  if (inHole)
    return "system address " + Hex64(address) + " is in the MMIO hole [" +
           Hex64(topo.expanded->holeBase) + ", 4 GiB), not DRAM";
  return {};
}

void TranslateSys(const GlobalOptions& opts, const std::string& addrText) {
  const uint64_t address = ParseNumber(addrText, "system address");
  Session s(opts);
  Report r;
  const std::string refusal = ReportSys(s, opts, address, r);
  AddTrace(s, opts, r);
  Emit(opts, r);
  if (!refusal.empty()) throw UserError(refusal);
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

  NormalizedAddress in{};
  in.normalizedAddr = norm;
  in.socketId = static_cast<uint8_t>(socket);
  in.dieId = static_cast<uint8_t>(die);
  in.channelId = static_cast<uint8_t>(channel);
  uint64_t sys = 0;
  DramAddress dram{};
  EFI_STATUS status = EFI_SUCCESS;
  s.Traced(opts, [&] { status = s.Protocol().NormalizedToSystem(&in, &sys, &dram); });

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
  // Slot 1 writes the DRAM coordinates whether or not a system address
  // comes back.
  AddDram(r, dram, in.socketId, in.dieId, in.channelId, "dram");
  const bool ok = status == EFI_SUCCESS;
  if (ok) {
    r.text << "system address      " << Hex64(sys) << "\n";
    r.json["systemAddress"] = Hex64(sys);
  } else {
    r.text << "system address      none\n";
    r.json["systemAddress"] = nullptr;
  }
  r.json["status"] = HexShort(status);
  AddTrace(s, opts, r);
  Emit(opts, r);
  if (!ok)
    throw UserError("normalized address " + Hex64(norm) +
                    " is outside that channel's DRAM (or the channel has none)");
}

}  // namespace

struct SysTranslator::Impl {
  GlobalOptions opts;
  Session session;
  explicit Impl(const GlobalOptions& o) : opts(o), session(o) {}
};

SysTranslator::SysTranslator(const GlobalOptions& opts) : impl_(std::make_unique<Impl>(opts)) {}
SysTranslator::~SysTranslator() = default;

SysTranslation SysTranslator::Translate(uint64_t address) {
  impl_->session.messages.str("");  // only this address's messages
  Report r;
  SysTranslation t;
  t.refusal = ReportSys(impl_->session, impl_->opts, address, r);
  AddTrace(impl_->session, impl_->opts, r);
  t.text = r.text.str();
  t.json = std::move(r.json);
  return t;
}

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
      "  platsim --diag translate sys 0x140000000       (driver messages as they reach the UART)\n"
      "  platsim --profile my.json --json translate sys 0x1000");

  struct Args {
    std::string address, socket = "0", die = "0", channel;
  };
  auto args = std::make_shared<Args>();

  auto* sys = translate->add_subcommand(
      "sys",
      "system address -> normalized address, channel and DRAM coordinates (protocol slot 2)");
  sys->add_option("ADDR", args->address, "system physical address (decimal or 0x hex)")->required();
  sys->fallthrough();
  sys->callback([&opts, args] { TranslateSys(opts, args->address); });

  auto* norm = translate->add_subcommand(
      "norm",
      "normalized address of a channel -> system address and DRAM coordinates (protocol slot 1)");
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
