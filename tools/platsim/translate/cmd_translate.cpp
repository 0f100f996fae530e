// platsim translate: the drivers' own address translations on the simulated
// platform, made through the TranslationProtocol that AddrTranslateDxe
// installs when it starts on the platform:
//   sys ADDR      system -> normalized address and DRAM coordinates (slot 2)
//   norm ADDR     normalized address of a channel -> system address (slot 1)
//   dram          DRAM coordinates of a channel -> normalized address (worked
//                 out from the channel's ChannelConfigTable entry) -> slot 1
//   sys|norm - / --input FILE   one translation per line (translate_batch.h)
#include "sim/dram/channel_config_store.h"
#include "sim/dram/channel_geometry.h"
#include "sim/dram/dram_to_normalized.h"
#include "tools/common/hex_text.h"
#include "tools/platsim/cli/commands.h"
#include "tools/platsim/translate/dram_format.h"
#include "tools/platsim/translate/sys_translator.h"
#include "tools/platsim/translate/translate_batch.h"
#include "tools/platsim/translate/translate_output.h"
#include "tools/platsim/translate/translate_session.h"
#include "tools/platsim/translate/translation_report.h"

#include <cstdio>
#include <cstring>
#include <iostream>
#include <memory>
#include <sstream>

namespace platsim {

namespace {

using sim::profile::Json;

void TranslateSys(const GlobalOptions& opts, const std::string& addrText) {
  const uint64_t address = ParseNumber(addrText, "system address");
  TranslateSession s(opts);
  NamePlatform(s, opts);
  Report r;
  const std::string error = ReportSys(s, opts, address, r);
  Emit(s, opts, r, error);
}

void TranslateNorm(const GlobalOptions& opts, const std::string& addrText,
                   const std::string& socketText, const std::string& dieText,
                   const std::string& channelText) {
  const uint64_t norm = ParseNumber(addrText, "normalized address");
  const uint64_t socket = ParseNumber(socketText, "--socket");
  const uint64_t die = ParseNumber(dieText, "--die");
  if (channelText.empty()) throw UserError("--channel is required");
  const uint64_t channel = ParseNumber(channelText, "--channel");
  TranslateSession s(opts);
  const uint32_t node = s.CheckChannel(socket, die, channel);
  NamePlatform(s, opts);
  BeginMessages(s, opts);
  const NormAnswer a = s.Normalized(norm, socket, die, channel);
  EndMessages(s, opts);

  Report r;
  r.json["direction"] = "normalized-to-system";
  r.json["normalizedAddress"] = tools::Hex64(norm);
  r.json["socket"] = socket;
  r.json["die"] = die;
  r.json["channel"] = channel;
  r.json["node"] = node;
  r.json["status"] = tools::Hex(a.status);
  char where[96];
  std::snprintf(where, sizeof where, "socket %llu, die %llu, channel %llu (node %u)",
                static_cast<unsigned long long>(socket), static_cast<unsigned long long>(die),
                static_cast<unsigned long long>(channel), node);
  r.text << "normalized address  " << tools::Hex64(norm) << "\n";
  r.text << "channel             " << where << "\n";
  if (a.verdict != Verdict::Ok)
    return Emit(s, opts, r, NormalizedSubject(norm, socket, die, channel) + " " + a.error);
  AddDram(r, ShownDram(a.dram, a.socket, a.die, a.channel), "dram");
  r.text << "system address      " << tools::Hex64(a.system) << "\n";
  r.json["systemAddress"] = tools::Hex64(a.system);
  Emit(s, opts, r, "");
}

struct DramArgs {
  std::string socket = "0", die = "0", channel, cs, bank, row, col, rankMul = "0";
};

// The coordinates asked for, each within what a DramAddress holds.
DramAddress ParseDramCoordinates(const DramArgs& args) {
  struct Field {
    const std::string& text;
    const char* name;
    uint64_t max;
  };
  const Field fields[] = {{args.cs, "--cs", 3},
                          {args.bank, "--bank", 31},
                          {args.row, "--row", UINT32_MAX},
                          {args.col, "--col", 0xFFFF},
                          {args.rankMul, "--rank-mul", 7}};
  uint64_t v[5];
  for (size_t i = 0; i < 5; ++i) {
    v[i] = ParseNumber(fields[i].text, fields[i].name);
    if (v[i] > fields[i].max)
      throw UserError(std::string(fields[i].name) + ": " + std::to_string(v[i]) +
                      " is more than a DRAM address holds (at most " +
                      std::to_string(fields[i].max) + ")");
  }
  DramAddress want{};
  want.chipSelect = static_cast<uint8_t>(v[0]);
  want.bank = static_cast<uint8_t>(v[1]);
  want.row = static_cast<uint32_t>(v[2]);
  want.col = static_cast<uint16_t>(v[3]);
  want.rankMul = static_cast<uint8_t>(v[4]);
  return want;
}

// The normalized addresses that slot 1 accepts and decodes back to `want`,
// and why the first one it did not was refused.
struct DramAnswers {
  std::vector<NormAnswer> accepted;
  std::string firstRefusal;
};

// Each address through slot 1, which checks it against the channel's size
// and translates the answer back.
DramAnswers CheckEach(TranslateSession& s, const GlobalOptions& opts,
                      const std::vector<uint64_t>& addresses, uint64_t socket, uint64_t die,
                      uint64_t channel, const DramAddress& want) {
  DramAnswers out;
  BeginMessages(s, opts);
  for (uint64_t a : addresses) {
    NormAnswer ans = s.Normalized(a, socket, die, channel);
    if (ans.verdict == Verdict::Ok && std::memcmp(&ans.dram, &want, sizeof want) != 0) {
      ans.verdict = Verdict::Refused;
      ans.error = "decodes to " + FormatDram(ans.dram) + " in slot 1";
    }
    if (ans.verdict == Verdict::Ok)
      out.accepted.push_back(ans);
    else if (out.firstRefusal.empty())
      out.firstRefusal = NormalizedSubject(a, socket, die, channel) + " " + ans.error;
  }
  EndMessages(s, opts);
  return out;
}

// The accepted addresses into the report: one line pair for a single answer,
// a list when several normalized addresses have the coordinates.
void AddDramAnswers(Report& r, const sim::dram::DramToNormalized& found,
                    const std::vector<NormAnswer>& answers) {
  const unsigned off = found.offsetBits;
  std::string offsetNote;
  if (off > 0)
    offsetNote = "  (bits " + std::to_string(off - 1) + ":0, the bytes of one access, are not " +
                 "part of the coordinates: " + std::to_string(1ULL << off) +
                 " addresses from this one share them)";
  Json list = Json::array();
  for (const NormAnswer& a : answers)
    list.push_back({{"normalizedAddress", tools::Hex64(a.normalized)},
                    {"systemAddress", tools::Hex64(a.system)}});
  r.json["addresses"] = list;
  if (answers.size() == 1 && found.count == 1) {
    r.text << "normalized address  " << tools::Hex64(answers[0].normalized) << offsetNote << "\n";
    r.text << "system address      " << tools::Hex64(answers[0].system) << "\n";
    r.json["normalizedAddress"] = tools::Hex64(answers[0].normalized);
    r.json["systemAddress"] = tools::Hex64(answers[0].system);
    return;
  }
  r.text << "more than one normalized address maps there: " << found.count
         << " in the table's view";
  if (found.count > found.addresses.size())
    r.text << ", the lowest " << found.addresses.size() << " checked";
  r.text << ", " << answers.size() << " of those in the channel's DRAM" << offsetNote << "\n";
  for (const NormAnswer& a : answers)
    r.text << "  normalized " << tools::Hex64(a.normalized) << "  system " << tools::Hex64(a.system)
           << "\n";
  r.json["count"] = found.count;
}

void TranslateDram(const GlobalOptions& opts, const DramArgs& args) {
  const uint64_t socket = ParseNumber(args.socket, "--socket");
  const uint64_t die = ParseNumber(args.die, "--die");
  const uint64_t channel = ParseNumber(args.channel, "--channel");
  const DramAddress want = ParseDramCoordinates(args);

  TranslateSession s(opts);
  const uint32_t node = s.CheckChannel(socket, die, channel);
  NamePlatform(s, opts);
  const unsigned slot = sim::dram::SlotOf(static_cast<unsigned>(socket), static_cast<unsigned>(die),
                                          static_cast<unsigned>(channel));
  char who[128];
  std::snprintf(who, sizeof who, "socket %llu, die %llu, channel %llu (node %u, slot %u)",
                static_cast<unsigned long long>(socket), static_cast<unsigned long long>(die),
                static_cast<unsigned long long>(channel), node, slot);
  Report r;
  r.json["direction"] = "dram-to-system";
  r.json["socket"] = socket;
  r.json["die"] = die;
  r.json["channel"] = channel;
  r.json["node"] = node;
  r.json["dram"] = DramJson(want);
  r.text << "channel             " << who << "\n";
  r.text << "DRAM                " << FormatDram(want) << "\n";
  const std::string subject = "no normalized address of socket " + std::to_string(socket) +
                              " die " + std::to_string(die) + " channel " +
                              std::to_string(channel) + " has these coordinates: ";
  const std::string none = NoDramReason(static_cast<unsigned>(socket), static_cast<unsigned>(die),
                                        static_cast<unsigned>(channel));
  if (!none.empty()) return Emit(s, opts, r, subject + none);

  // The reverse mapping works on a copy: nothing here may change the table
  // the driver reads.
  const atd::ChannelConfigTable table = sim::dram::ChannelConfigOf(s.Platform());
  const sim::dram::DramToNormalized found = sim::dram::NormalizedFromDram(table, slot, want);
  if (found.count == 0) return Emit(s, opts, r, subject + found.reason);

  const DramAnswers answers = CheckEach(s, opts, found.addresses, socket, die, channel, want);
  r.json["offsetBits"] = found.offsetBits;
  if (answers.accepted.empty()) return Emit(s, opts, r, answers.firstRefusal);
  AddDramAnswers(r, found, answers.accepted);
  Emit(s, opts, r, "");
}

}  // namespace

// Exit code 1 of sys and norm, and which code a list with both kinds of
// failed lines ends with.
constexpr const char* kRefusedExitCode =
    "refused: the address is not DRAM on this platform, or the driver's answer does not hold, "
    "or AddrTranslateDxe did not start (a list: some lines were refused, none was unreadable)";
constexpr const char* kListExitCodes =
    "A list with lines that were refused and lines that could not be read exits with 2: an "
    "unreadable line is a fault of the input, which a refusal does not hide.";

void AddTranslateCommands(CLI::App& app, GlobalOptions& opts) {
  auto* translate = app.add_subcommand(
      "translate", "translate addresses with the drivers' own code on the simulated platform");
  translate->require_subcommand(1);
  translate->footer(
      "Examples:\n"
      "  platsim translate sys 0x12345678\n"
      "  platsim translate norm 0x2468ACF --socket 0 --die 1 --channel 2\n"
      "  platsim translate dram --socket 0 --die 1 --channel 2 --cs 1 --bank 14 --row 0x1C68 "
      "--col 0x2B1\n"
      "  platsim translate sys --input addresses.txt --json   (one JSON line per address)\n"
      "  grep -o '0x[0-9a-f]*' memtest.log | platsim translate sys -\n"
      "  platsim translate sys 0x140000000 --trace   (register reads and driver messages)\n"
      "  platsim --profile my.json translate sys 0x1000");

  struct Args {
    std::string address, input, socket = "0", die = "0", channel;
  };
  auto args = std::make_shared<Args>();
  auto batchOrOne = [](const Args& a, const char* what) {
    if (!a.input.empty() && !a.address.empty())
      throw UserError("give either an address or --input, not both");
    if (a.input.empty() && a.address.empty())
      throw UserError(std::string(what) + " is required (or - or --input FILE for a list)");
    return a.address == "-" ? std::string("-") : a.input;
  };

  auto* sys = translate->add_subcommand(
      "sys",
      "system address -> normalized address, channel and DRAM coordinates (protocol slot 2)");
  sys->add_option("ADDR", args->address,
                  "system physical address (decimal or 0x hex); - reads one per line from "
                  "standard input");
  sys->add_option("--input", args->input, "file with one address per line (- standard input)");
  sys->footer(kListExitCodes);
  SetExitCodes(sys, "translated (a list: every line)", kRefusedExitCode);
  sys->callback([&opts, args, batchOrOne] {
    const std::string list = batchOrOne(*args, "ADDR");
    if (list.empty()) return TranslateSys(opts, args->address);
    const int code = TranslateBatch(opts, BatchDirection::System, list);
    if (code == 1) throw Refusal("");
    if (code == 2) throw UserError("");
  });

  auto* norm = translate->add_subcommand(
      "norm",
      "normalized address of a channel -> system address and DRAM coordinates (protocol slot 1)");
  norm->add_option("ADDR", args->address,
                   "normalized address (decimal or 0x hex); - reads lines 'ADDR SOCKET DIE "
                   "CHANNEL' from standard input");
  norm->add_option("--input", args->input,
                   "file with one 'ADDR SOCKET DIE CHANNEL' per line (- standard input)");
  norm->add_option("--socket", args->socket, "socket id (default 0)");
  norm->add_option("--die", args->die, "die id within the socket (default 0)");
  norm->add_option("--channel", args->channel, "channel: the coherent slave's instance id");
  norm->footer(kListExitCodes);
  SetExitCodes(norm, "translated (a list: every line)", kRefusedExitCode);
  norm->callback([&opts, args, batchOrOne] {
    const std::string list = batchOrOne(*args, "ADDR");
    if (list.empty())
      return TranslateNorm(opts, args->address, args->socket, args->die, args->channel);
    if (!args->channel.empty() || args->socket != "0" || args->die != "0")
      throw UserError(
          "--socket, --die and --channel name the channel of one address; the "
          "lines of a list carry their own");
    const int code = TranslateBatch(opts, BatchDirection::Normalized, list);
    if (code == 1) throw Refusal("");
    if (code == 2) throw UserError("");
  });

  auto d = std::make_shared<DramArgs>();
  auto* dram = translate->add_subcommand(
      "dram",
      "DRAM coordinates of a channel -> normalized address (from the channel's configuration "
      "table) -> system address (protocol slot 1)");
  dram->add_option("--socket", d->socket, "socket id (default 0)");
  dram->add_option("--die", d->die, "die id within the socket (default 0)");
  dram->add_option("--channel", d->channel, "channel: the coherent slave's instance id")
      ->required();
  dram->add_option("--cs", d->cs, "chip select, 0-3")->required();
  dram->add_option("--bank", d->bank, "bank")->required();
  dram->add_option("--row", d->row, "row")->required();
  dram->add_option("--col", d->col, "column")->required();
  dram->add_option("--rank-mul", d->rankMul, "rank multiplier (default 0)");
  SetExitCodes(dram, "translated",
               "no normalized address of the channel has the coordinates, or slot 1 refused "
               "them, or AddrTranslateDxe did not start");
  dram->callback([&opts, d] { TranslateDram(opts, *d); });
}

}  // namespace platsim
