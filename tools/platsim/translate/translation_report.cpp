#include "tools/platsim/translate/translation_report.h"

#include "tools/common/hex_text.h"
#include "tools/platsim/translate/dram_format.h"
#include "tools/platsim/translate/translate_output.h"

#include <cstdio>
#include <cstring>
#include <iostream>

namespace platsim {

void NamePlatform(TranslateSession& s, const GlobalOptions& opts) {
  if (!opts.json) std::cout << s.Named().line << "\n";
}

void BeginMessages(TranslateSession& s, const GlobalOptions& opts) {
  if (s.ShowMessages() && !opts.json) std::cout << "driver messages at the UART (0x3F8):\n";
}

void EndMessages(TranslateSession& s, const GlobalOptions& opts) {
  if (s.ShowMessages() && !opts.json) std::cout << "\n";
}

void AddDram(Report& r, const ShownDram& d, const char* key) {
  r.text << "DRAM                " << DramText(d) << "\n";
  AddDramJson(r.json, key, d);
}

// Completes the report: whether it stands, and what --diag and --trace add.
void Finish(TranslateSession& s, const GlobalOptions& opts, Report& r, const std::string& error) {
  const auto reads = s.TakeFabricReads();
  r.json["ok"] = error.empty();
  if (!error.empty()) r.json["error"] = error;
  if (s.ShowMessages() && opts.json) r.json["messages"] = s.TakeMessages();
  if (opts.trace) {
    r.json["fabricReads"] = FabricReadsJson(reads);
    PrintFabricReads(r.text, reads);
  }
}

// Prints the report; refuses with `error` when there is one.
void Emit(TranslateSession& s, const GlobalOptions& opts, Report& r, const std::string& error) {
  Finish(s, opts, r, error);
  if (opts.json) {
    r.json["platform"] = s.Named().json;
    std::cout << r.json.dump(2) << "\n";
  } else {
    std::cout << r.text.str();
  }
  std::cout.flush();
  if (!error.empty()) throw Refusal(error);
}

// One system address through slot 2 and back through slot 1, into `r`.
// Returns why there is no answer, empty when there is one.
std::string ReportSys(TranslateSession& s, const GlobalOptions& opts, uint64_t address, Report& r,
                      uint32_t* fatalStop) {
  BeginMessages(s, opts);
  const SysAnswer a = s.System(address);
  EndMessages(s, opts);
  if (fatalStop) *fatalStop = a.fatalStop;

  r.json["direction"] = "system-to-normalized";
  r.json["systemAddress"] = tools::Hex64(address);
  r.json["status"] = tools::Hex(a.status);
  r.text << "system address      " << tools::Hex64(address) << "\n";
  if (a.verdict != Verdict::Ok) return SystemSubject(address) + " " + a.error;

  const NormalizedAddress& n = a.norm;
  char who[128];
  std::snprintf(who, sizeof who, "socket %u, die %u, channel %u (csFabricId 0x%X, node %u)",
                n.socketId, n.dieId, n.channelId, a.csFabricId, a.node);
  r.text << "owner               " << who << "\n";
  r.text << "normalized address  " << tools::Hex64(n.normalizedAddr) << "\n";
  r.json["normalizedAddress"] = tools::Hex64(n.normalizedAddr);
  r.json["socket"] = n.socketId;
  r.json["die"] = n.dieId;
  r.json["channel"] = n.channelId;
  r.json["csFabricId"] = tools::Hex(a.csFabricId);
  r.json["node"] = a.node;
  AddDram(r, ShownDram(a.dram, n.socketId, n.dieId, n.channelId), "dram");
  r.text << "back to system      " << tools::Hex64(a.back)
         << (a.lossyMap ? "  (differs: this map loses its die/socket interleave bits)"
                        : "  (round trip ok)")
         << "\n";
  if (a.lossyMap) r.json["note"] = kLossyMapNote;
  // Slot 1 decodes the coordinates again, of the same channel.
  const ShownDram back(a.dramBack, n.socketId, n.dieId, n.channelId);
  if (back.Has() && std::memcmp(&a.dram, &a.dramBack, sizeof a.dram) != 0)
    r.text << "DRAM back           " << DramText(back) << "  (differs)\n";
  r.json["backToSystem"] = tools::Hex64(a.back);
  AddDramJson(r.json, "dramBack", back);
  return "";
}

}  // namespace platsim
