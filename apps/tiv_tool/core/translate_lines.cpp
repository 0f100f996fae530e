#include "apps/tiv_tool/core/translate_lines.h"

#include "registers/channel_config.h"

namespace tivtool {

namespace {

constexpr uint8_t kUnwrittenByte = 0xA5;

void Fill(void* p, size_t n) {
  auto* b = static_cast<volatile uint8_t*>(p);
  for (size_t i = 0; i < n; ++i) b[i] = kUnwrittenByte;
}

bool SameDram(const DramAddress& a, const DramAddress& b) {
  return a.chipSelect == b.chipSelect && a.bank == b.bank && a.row == b.row && a.col == b.col &&
         a.rankMul == b.rankMul;
}

bool HasSlot(uint8_t socket, uint8_t die, uint8_t channel) {
  return atd::ChannelSlot(socket, die, channel) < atd::kChannelSlots;
}

}  // namespace

SysAnswer AskSystem(TranslationProtocol& p, uint64_t address) {
  SysAnswer a;
  a.address = address;
  uint64_t in = address;
  a.status = p.SystemToNormalized(&in, &a.norm, &a.dram);
  if (a.status != EFI_SUCCESS) return a;
  a.backStatus = p.NormalizedToSystem(&a.norm, &a.back, &a.dramBack);
  return a;
}

NormAnswer AskNormalized(TranslationProtocol& p, uint64_t normalized, uint8_t socket, uint8_t die,
                         uint8_t channel) {
  NormAnswer a;
  a.normalized = normalized;
  a.socket = socket;
  a.die = die;
  a.channel = channel;
  NormalizedAddress in{};
  in.normalizedAddr = normalized;
  in.socketId = socket;
  in.dieId = die;
  in.channelId = channel;
  Fill(&a.dram, sizeof a.dram);
  a.status = p.NormalizedToSystem(&in, &a.system, &a.dram);
  a.dramWritten = a.dram.chipSelect != kUnwrittenByte;
  return a;
}

void AddDramText(Text& line, const DramAddress& d, uint8_t socket, uint8_t die, uint8_t channel) {
  if (!HasSlot(socket, die, channel)) {
    line.Add("none (channel slot ")
        .Dec(atd::ChannelSlot(socket, die, channel))
        .Add(" is beyond the ")
        .Dec(atd::kChannelSlots)
        .Add(" slots of the channel configuration table: no DIMM geometry)");
    return;
  }
  line.Add("chip select ").Dec(d.chipSelect).Add(", bank ").Dec(d.bank).Add(", row ");
  line.Hex(d.row).Add(", column ").Hex(d.col).Add(", rank multiplier ").Dec(d.rankMul);
}

void PrintSys(ToolIo& io, const SysAnswer& a, Text& error) {
  Line l;
  l.Label(0, "system address").Hex64(a.address);
  io.Print(l.Str());
  if (a.status != EFI_SUCCESS) {
    error.Add("system address ")
        .Hex64(a.address)
        .Add(" is not DRAM: no valid DRAM address map contains it");
    return;
  }
  const NormalizedAddress& n = a.norm;
  l.Clear();
  l.Label(0, "owner").Add("socket ").Dec(n.socketId).Add(", die ").Dec(n.dieId);
  l.Add(", channel ").Dec(n.channelId);
  io.Print(l.Str());
  l.Clear();
  l.Label(0, "normalized address").Hex64(n.normalizedAddr);
  io.Print(l.Str());
  l.Clear();
  AddDramText(l.Label(0, "DRAM"), a.dram, n.socketId, n.dieId, n.channelId);
  io.Print(l.Str());
  l.Clear();
  l.Label(0, "back to system");
  if (a.backStatus != EFI_SUCCESS) {
    l.Add("none (slot 1 refuses the normalized address, status ").Hex(a.backStatus).Add(')');
    io.Print(l.Str());
    return;
  }
  l.Hex64(a.back).Add(a.back == a.address ? "  (round trip ok)" : "  (differs)");
  io.Print(l.Str());
  if (HasSlot(n.socketId, n.dieId, n.channelId) && !SameDram(a.dram, a.dramBack)) {
    l.Clear();
    AddDramText(l.Label(0, "DRAM back"), a.dramBack, n.socketId, n.dieId, n.channelId);
    io.Print(l.Add("  (differs)").Str());
  }
}

void PrintNorm(ToolIo& io, const NormAnswer& a, Text& error) {
  Line l;
  l.Label(0, "normalized address").Hex64(a.normalized);
  io.Print(l.Str());
  l.Clear();
  l.Label(0, "channel").Add("socket ").Dec(a.socket).Add(", die ").Dec(a.die);
  io.Print(l.Add(", channel ").Dec(a.channel).Str());
  if (a.dramWritten || a.status == EFI_SUCCESS) {
    l.Clear();
    AddDramText(l.Label(0, "DRAM"), a.dram, a.socket, a.die, a.channel);
    io.Print(l.Str());
  }
  if (a.status != EFI_SUCCESS) {
    error.Add("normalized address ").Hex64(a.normalized).Add(" of socket ").Dec(a.socket);
    error.Add(" die ").Dec(a.die).Add(" channel ").Dec(a.channel);
    error.Add(" has no system address: slot 1 refuses it (status ").Hex(a.status).Add(')');
    return;
  }
  l.Clear();
  io.Print(l.Label(0, "system address").Hex64(a.system).Str());
}

}  // namespace tivtool
