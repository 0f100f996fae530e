#include "tools/platsim/translate/translate_session.h"

#include "addr_translate/translation_stops.h"
#include "registers/fabric_registers.h"
#include "tools/platsim/cli/platform_load.h"
#include "tools/common/byte_view.h"
#include "tools/common/size_text.h"
#include "tools/common/hex_text.h"

#include <iostream>
#include <cstring>

namespace platsim {

namespace {

constexpr uint64_t k4G = 1ULL << 32;

std::string StopText(uint32_t code, const std::string& where) {
  std::string s = "the driver took fatal stop " + tools::Hex(code) + " in " + where;
  if (const char* m = FatalStopMeaning(code); *m) s += std::string(" (") + m + ")";
  return s;
}

std::string ChannelName(uint32_t socket, uint32_t die, uint32_t channel) {
  return "socket " + std::to_string(socket) + " die " + std::to_string(die) + " channel " +
         std::to_string(channel);
}

// The simulator's key of register `r` of node `node`, instance `instance`.
sim::fabric::FabricRegKey KeyOf(uint32_t node, atd::FabricReg r, uint16_t instance) {
  return {static_cast<uint8_t>(node), r.function, r.offset, instance};
}

// A stream that drops what is written to it.
class NullBuffer : public std::streambuf {
 protected:
  int overflow(int c) override { return c; }
};

}  // namespace

const char* FatalStopMeaning(uint32_t code) {
  for (const atd::TranslationStop& s : atd::kTranslationStops)
    if (s.code == code) return s.meaning;
  return "";
}

TranslateSession::TranslateSession(const GlobalOptions& opts)
    : opts_(opts), showMessages_(opts.trace || opts.diag) {
  LoadPlatform(opts, platform_);
  named_ = PlatformBehindTranslation(opts, platform_);
  platform_.trace.Enable(false);
  // A fatal stop ends the run as it would on hardware; the simulator does not
  // take it over and let the driver go on with a made-up value.
  platform_.stopRequestAnswer = 0;
  if (showMessages_) console_ = sim::uart::InstallConsole(platform_, MessageSink());
  try {
    driver_.emplace(platform_);
  } catch (const sim::FatalStopEnded& e) {
    throw Refusal("AddrTranslateDxe took fatal stop " + tools::Hex(e.code) + " while starting");
  }
  if (driver_->Status() != EFI_SUCCESS || driver_->Protocol() == nullptr)
    throw Refusal("AddrTranslateDxe did not start on this platform (status " +
                  tools::Hex(driver_->Status()) + ")");
  // Only the translations' own messages from here on.
  uint32_t none = 0;
  Run([] {}, none, Shown::No);
  messages_.str("");

  fabric_ = &sim::fabric::DataFabric::Of(platform_);
  using namespace atd::fabric_reg;
  const auto broadcast = [this](atd::FabricReg r) {
    return fabric_->Get(KeyOf(0, r, sim::fabric::kBroadcast));
  };
  masks_ =
      atd::decodeFabricIdMasks(broadcast(SystemFabricIdMask0::kReg),
                               broadcast(SystemFabricIdMask1::kReg), broadcast(HashControl::kReg));
}

TranslateSession::~TranslateSession() = default;

std::ostream& TranslateSession::MessageSink() {
  return opts_.json ? static_cast<std::ostream&>(messages_) : std::cout;
}

template <typename F>
bool TranslateSession::Run(F op, uint32_t& stopCode, Shown shown) {
  NullBuffer none;
  std::ostream drop(&none);
  if (shown == Shown::No && console_) console_->SetOutput(drop);
  if (shown == Shown::Yes && opts_.trace) platform_.trace.Enable(true);
  bool ok = true;
  try {
    op();
  } catch (const sim::FatalStopEnded& e) {
    stopCode = e.code;
    ok = false;
  }
  platform_.trace.Enable(false);
  if (console_) {
    console_->Flush();
    if (shown == Shown::No) console_->SetOutput(MessageSink());
  }
  return ok;
}

uint32_t TranslateSession::CheckChannel(uint64_t socket, uint64_t die, uint64_t channel) {
  // The channel must exist: its socket and die fit the fabric's ids, and its
  // coherent slave answers on that node.
  const uint64_t maxSocket = masks_.socketMask >> masks_.socketShift;
  const uint64_t maxDie = masks_.dieMask >> masks_.dieShift;
  if (socket > maxSocket)
    throw UserError("no socket " + std::to_string(socket) + " on this platform (sockets 0-" +
                    std::to_string(maxSocket) + ")");
  if (die > maxDie)
    throw UserError("no die " + std::to_string(die) + " on socket " + std::to_string(socket) +
                    " (dies 0-" + std::to_string(maxDie) + ")");
  const uint32_t node =
      atd::nodeIdFrom(static_cast<uint32_t>(socket), static_cast<uint32_t>(die), masks_);
  if (channel > 254 || !fabric_->Has(KeyOf(node, atd::fabric_reg::BlockFabricId::kReg,
                                           static_cast<uint16_t>(channel))))
    throw UserError("no channel " + std::to_string(channel) + " on socket " +
                    std::to_string(socket) + " die " + std::to_string(die));
  return node;
}

const ChannelRegisters& TranslateSession::Channel(uint32_t node, uint32_t instance) {
  const uint32_t key = node << 16 | instance;
  if (auto it = channels_.find(key); it != channels_.end()) return it->second;
  using namespace atd::fabric_reg;
  const auto n = static_cast<uint8_t>(node);
  const auto i = static_cast<uint16_t>(instance);
  auto get = [&](atd::FabricReg r) { return fabric_->Get(KeyOf(n, r, i)); };
  ChannelRegisters c;
  c.hasFabricId = fabric_->Has(KeyOf(n, BlockFabricId::kReg, i));
  c.fabricId = BlockFabricId::FabricId::Get(get(BlockFabricId::kReg));
  c.holeBase = atd::decodeDramHoleBase(get(DramHoleControl::kReg));
  const uint32_t reg1B4 = get(HiAddrOffsetControl::kReg);
  c.hiAddrOffset = atd::decodeHiAddrOffset(masks_.layout, reg1B4);
  c.hiAddrEnabled = HiAddrOffsetControl::Enable::Get(reg1B4) != 0;
  for (unsigned m = 0; m < 2; ++m) {
    c.baseReg[m] = get(DramBaseReg(m));
    c.limitReg[m] = get(DramLimitReg(m));
    const atd::DramAddressMap map =
        atd::decodeDramAddressMap(masks_.layout, c.baseReg[m], c.limitReg[m]);
    c.map[m] = map;
    const atd::ChannelInterleave ch = atd::calcNormAddrChannels(map.chanIntlvCode);
    c.interleaveBits[m] = ch.bits + map.dieIntlvCode + map.socketIntlvBit;
    c.sixChannel[m] = ch.sixChannel;
    c.lossy[m] = (atd::calcSysAddrChannels(map.chanIntlvCode).hashed || ch.sixChannel) &&
                 (map.dieIntlvCode != 0 || map.socketIntlvBit != 0);
    if (!map.valid || ch.sixChannel || map.dramLimitAddr < map.dramBaseAddr) continue;
    // The channel's share of the map: its bytes less the hole, over the ways
    // of the interleave.
    uint64_t bytes = map.dramLimitAddr - map.dramBaseAddr + 1;
    if (map.holeEn && c.holeBase < k4G) {
      const uint64_t from = std::max(c.holeBase, map.dramBaseAddr);
      const uint64_t to = std::min(k4G - 1, map.dramLimitAddr);
      if (from <= to) bytes -= to - from + 1;
    }
    c.size[m] = c.interleaveBits[m] < 64 ? bytes >> c.interleaveBits[m] : 0;
    c.first[m] = m == 0 ? 0 : c.hiAddrOffset;
  }
  return channels_.emplace(key, c).first->second;
}

std::string TranslateSession::MissingRegisters(uint32_t node, uint32_t instance) {
  const auto n = static_cast<uint8_t>(node);
  const auto i = static_cast<uint16_t>(instance);
  bool any = false;
  for (const auto& [key, value] : fabric_->Registers())
    any = any || (key.node == n && key.instance == i);
  const std::string where =
      "node " + std::to_string(node) + " instance " + std::to_string(instance);
  if (!any) return "the profile sets no register of " + where;
  using namespace atd::fabric_reg;
  std::string missing;
  for (const atd::FabricReg r : {BlockFabricId::kReg, DramBaseReg(0), DramLimitReg(0)})
    if (!fabric_->Has(KeyOf(n, r, i)))
      missing += (missing.empty() ? "F" : ", F") + tools::HexText(r.offset, 3);
  if (!missing.empty()) return "the profile does not set " + missing + " of " + where;
  return "F" + tools::HexText(DramBaseReg(0).offset, 3) + " of " + where + " (" +
         tools::Hex(fabric_->Get(KeyOf(n, DramBaseReg(0), i))) +
         ") is not a valid DRAM address map";
}

SysAnswer TranslateSession::System(uint64_t address) {
  SysAnswer r;
  r.address = address;
  TranslationProtocol& p = Protocol();
  uint32_t stop = 0;
  if (!Run([&] { r.status = p.SystemToNormalized(&address, &r.norm, &r.dram); }, stop)) {
    r.verdict = Verdict::Refused;
    r.fatalStop = stop;
    r.error = "could not be translated: " + StopText(stop, "slot 2");
    return r;
  }
  if (r.status != EFI_SUCCESS) {
    r.verdict = Verdict::Refused;
    r.error = "is not DRAM: no valid DRAM address map contains it";
    return r;
  }
  r.node = atd::nodeIdFrom(r.norm.socketId, r.norm.dieId, masks_);
  const ChannelRegisters& ch = Channel(r.node, r.norm.channelId);
  r.csFabricId = ch.fabricId;
  // The map calcNormAddr takes: map 1 from its base up when it is valid.
  const unsigned m = ch.map[1].valid && address >= ch.map[1].dramBaseAddr ? 1 : 0;
  if (!ch.hasFabricId || !ch.map[m].valid) {
    r.verdict = Verdict::Refused;
    r.error = "is sent by the address maps to " +
              ChannelName(r.norm.socketId, r.norm.dieId, r.norm.channelId) + ", but " +
              MissingRegisters(r.node, r.norm.channelId) +
              ", so the driver's normalized address for it means nothing";
    return r;
  }
  // The hole as the driver's own reads describe it: the owner's map has
  // holeEn, and F0x104 places the hole.
  if (ch.map[m].holeEn && address >= ch.holeBase && address < k4G) {
    r.verdict = Verdict::Refused;
    r.error = "is in the MMIO hole [" + tools::Hex64(ch.holeBase) + ", 4 GiB), not DRAM";
    return r;
  }
  if (!Run([&] { p.NormalizedToSystem(&r.norm, &r.back, &r.dramBack); }, stop)) {
    r.verdict = Verdict::Refused;
    r.fatalStop = stop;
    r.error = "could not be checked: " +
              StopText(stop, "slot 1, translating its normalized address " +
                                 tools::Hex64(r.norm.normalizedAddr) + " back");
    return r;
  }
  if (r.back != address) {
    if (ch.lossy[m]) {
      r.lossyMap = true;
    } else {
      r.verdict = Verdict::Refused;
      r.error = "does not come back: slot 1 translates its normalized address " +
                tools::Hex64(r.norm.normalizedAddr) + " to " + tools::Hex64(r.back) +
                ", so the profile's registers contradict each other";
    }
  }
  return r;
}

NormAnswer TranslateSession::Normalized(uint64_t normalized, uint64_t socket, uint64_t die,
                                        uint64_t channel) {
  NormAnswer r;
  r.normalized = normalized;
  r.node = CheckChannel(socket, die, channel);
  r.socket = static_cast<uint32_t>(socket);
  r.die = static_cast<uint32_t>(die);
  r.channel = static_cast<uint32_t>(channel);
  const ChannelRegisters& ch = Channel(r.node, r.channel);

  auto refuse = [&](std::string why) {
    r.verdict = Verdict::Refused;
    r.error = std::move(why);
    return r;
  };

  NormalizedAddress in{};
  in.normalizedAddr = normalized;
  in.socketId = static_cast<uint8_t>(socket);
  in.dieId = static_cast<uint8_t>(die);
  in.channelId = static_cast<uint8_t>(channel);
  TranslationProtocol& p = Protocol();
  uint32_t stop = 0;
  if (!Run([&] { r.status = p.NormalizedToSystem(&in, &r.system, &r.dram); }, stop))
    return refuse("could not be translated: " + StopText(stop, "slot 1"));

  if (!ch.map[0].valid) return refuse("lies in no DRAM: " + MissingRegisters(r.node, r.channel));
  // The channel's size, from its maps: calcSysAddr takes map 1 for addresses
  // from hiAddrOffset up when F0x1B4 enables it.
  const unsigned m = ch.hiAddrEnabled && normalized >= ch.hiAddrOffset ? 1 : 0;
  if (ch.size[m] != 0 && (normalized < ch.first[m] || normalized - ch.first[m] >= ch.size[m])) {
    std::string ranges;
    for (unsigned k = 0; k < 2; ++k) {
      if (ch.size[k] == 0 || (k == 1 && !ch.hiAddrEnabled)) continue;
      ranges += (ranges.empty() ? "" : " and ") + tools::Hex64(ch.first[k]) + "-" +
                tools::Hex64(ch.first[k] + ch.size[k] - 1) + " (" +
                tools::ExactSizeText(ch.size[k]) + ")";
    }
    return refuse("is beyond the channel's DRAM: its normalized addresses are " + ranges);
  }
  if (r.status != EFI_SUCCESS)
    return refuse("has no system address: slot 1 refuses it (status " + tools::Hex(r.status) + ")");

  // The answer must lead back to the same channel and normalized address;
  // this check is platsim's own, so it stays out of --diag and --trace.
  NormalizedAddress back{};
  DramAddress dram{};
  EFI_STATUS status = EFI_SUCCESS;
  if (!Run([&] { status = p.SystemToNormalized(&r.system, &back, &dram); }, stop, Shown::No))
    return refuse("could not be checked: slot 1 answers " + tools::Hex64(r.system) + ", but " +
                  StopText(stop, "slot 2, translating that answer back"));
  if (status != EFI_SUCCESS || back.normalizedAddr != normalized || back.socketId != in.socketId ||
      back.dieId != in.dieId || back.channelId != in.channelId) {
    std::string why =
        "does not come back: slot 1 answers " + tools::Hex64(r.system) + ", but that address is ";
    if (status != EFI_SUCCESS)
      why += "not DRAM";
    else
      why += "normalized address " + tools::Hex64(back.normalizedAddr) + " of " +
             ChannelName(back.socketId, back.dieId, back.channelId);
    if (ch.lossy[m])
      why +=
          " (this map interleaves dies or sockets in a hashed or six-channel mode, and the "
          "driver does not put their bits back)";
    return refuse(why);
  }
  return r;
}

std::vector<std::string> TranslateSession::TakeMessages() {
  std::vector<std::string> lines;
  std::istringstream in(messages_.str());
  for (std::string l; std::getline(in, l);) lines.push_back(l);
  messages_.str("");
  return lines;
}

std::vector<sim::fabric::FabricRead> TranslateSession::TakeFabricReads() {
  auto reads = sim::fabric::DecodeFabricReads(platform_.trace.Events());
  platform_.trace.Clear();
  return reads;
}

}  // namespace platsim
