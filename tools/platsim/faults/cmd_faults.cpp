// platsim faults: memory errors from the logs of a machine, translated on the
// profile's platform to DIMMs and DRAM cells, grouped into faults, and what
// to do about each (docs/platsim/faults.md).
//   platsim --profile machine.json faults ras-mc_event.db kern.log --pages pages.txt
#include "tools/platsim/cli/commands.h"
#include "tools/platsim/cli/platform_load.h"
#include "tools/platsim/faults/fault_analysis.h"
#include "tools/common/hex_text.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <iostream>
#include <memory>
#include <set>

namespace platsim {

namespace {

using Json = sim::profile::Json;
using namespace faults;

// The version of the --json schema (docs/platsim/faults.md); raised when a
// field changes meaning or goes away, not when one is added.
constexpr int kSchemaVersion = 1;

struct FaultsArgs {
  std::vector<std::string> files;
  std::string since, until, pages, window = "24h";
  uint32_t pageThreshold = 2, dimmThreshold = 10, spread = 3;
};

// Seconds since 1970 UTC: a number, or "YYYY-MM-DD" with an optional
// "[T ]HH:MM[:SS]" and an optional "Z" or "UTC".
int64_t ParseTime(const std::string& text, const char* option) {
  const std::string bad =
      std::string(option) +
      ": expected seconds since 1970 or YYYY-MM-DD[ HH:MM[:SS]] (UTC), found '" + text + "'";
  if (!text.empty() && std::all_of(text.begin(), text.end(), [](char c) {
        return std::isdigit(static_cast<unsigned char>(c)) != 0;
      }))
    return static_cast<int64_t>(ParseNumber(text, option));
  std::tm tm{};
  int y = 0, mo = 0, d = 0, h = 0, mi = 0, s = 0;
  char sep = 0;
  int n = 0;
  const int got = std::sscanf(text.c_str(), "%4d-%2d-%2d%n%c%2d:%2d%n:%2d%n", &y, &mo, &d, &n, &sep,
                              &h, &mi, &n, &s, &n);
  if (got < 3 || (got >= 4 && sep != ' ' && sep != 'T') || (got > 3 && got < 6))
    throw UserError(bad);
  std::string rest = text.substr(static_cast<size_t>(n));
  if (got == 3) rest = text.substr(10);
  if (!rest.empty() && rest != "Z" && rest != " UTC" && rest != "UTC") throw UserError(bad);
  if (mo < 1 || mo > 12 || d < 1 || d > 31 || h > 23 || mi > 59 || s > 60) throw UserError(bad);
  tm.tm_year = y - 1900;
  tm.tm_mon = mo - 1;
  tm.tm_mday = d;
  tm.tm_hour = h;
  tm.tm_min = mi;
  tm.tm_sec = s;
  return static_cast<int64_t>(timegm(&tm));
}

// "24h", "90m", "3600s", "2d" or seconds.
int64_t ParseWindow(const std::string& text) {
  std::string digits = text;
  int64_t unit = 1;
  if (!text.empty()) {
    const char u = text.back();
    const int64_t units[] = {1, 60, 3600, 86400};
    const char* const names = "smhd";
    for (int i = 0; i < 4; ++i)
      if (u == names[i]) {
        unit = units[i];
        digits.pop_back();
      }
  }
  const uint64_t v = ParseNumber(digits, "--window");
  if (v == 0 || v > (uint64_t{1} << 40) / static_cast<uint64_t>(unit))
    throw UserError("--window: expected a positive length such as 24h, found '" + text + "'");
  return static_cast<int64_t>(v) * unit;
}

std::string TimeText(const std::optional<int64_t>& t) {
  if (!t) return "no time";
  const std::time_t v = static_cast<std::time_t>(*t);
  std::tm tm{};
  gmtime_r(&v, &tm);
  char buf[40];
  std::strftime(buf, sizeof buf, "%Y-%m-%d %H:%M:%S UTC", &tm);
  return buf;
}

Json TimeJson(const std::optional<int64_t>& t) {
  return t ? Json(TimeText(t)) : Json(nullptr);
}

std::string DimmName(const DimmKey& k) {
  return "socket " + std::to_string(k.socket) + " die " + std::to_string(k.die) + " channel " +
         std::to_string(k.channel) + " DIMM " + std::to_string(k.dimm) + " (chip selects " +
         std::to_string(k.dimm * 2) + "-" + std::to_string(k.dimm * 2 + 1) + ")";
}

std::string LabelText(const sim::dram::DimmLabel* l) {
  if (!l) return "no label (the profile's \"dimms\" section names none)";
  std::string s = "\"" + l->label + "\"";
  if (!l->serial.empty()) s += ", serial " + l->serial;
  if (!l->part.empty()) s += ", part " + l->part;
  return s;
}

Json LabelJson(const sim::dram::DimmLabel* l) {
  if (!l) return nullptr;
  return Json{{"label", l->label}, {"serial", l->serial}, {"part", l->part}};
}

// "0x10" or "0x10-0x80 (5)" for the extent lines.
std::string ListText(const std::vector<uint32_t>& v, bool hex) {
  auto one = [hex](uint32_t x) { return hex ? tools::Hex(x) : std::to_string(x); };
  if (v.size() == 1) return one(v.front());
  if (v.size() <= 4) {
    std::string s;
    for (uint32_t x : v) s += (s.empty() ? "" : ", ") + one(x);
    return s;
  }
  return one(v.front()) + "-" + one(v.back()) + " (" + std::to_string(v.size()) + " distinct)";
}

struct Repair {
  uint32_t channel, rank, bankGroup, bank, row;
  std::optional<uint32_t> column;
};

Repair RepairOf(Locator& loc, const DimmKey& key, const Fault& f) {
  const uint32_t cs = f.ranks.front();
  const unsigned bits = loc.BankBits(key, cs), groups = loc.GroupBits(key, cs);
  Repair r{key.channel,
           cs,
           BankGroupOf(f.banks.front(), bits, groups),
           BankInGroup(f.banks.front(), bits, groups),
           f.rows.front(),
           std::nullopt};
  if (f.mode == Mode::kCell) r.column = f.columns.front();
  return r;
}

std::string RepairText(const Repair& r) {
  std::string s = "channel=" + std::to_string(r.channel) + " rank=" + std::to_string(r.rank) +
                  " bank_group=" + std::to_string(r.bankGroup) + " bank=" + std::to_string(r.bank) +
                  " row=" + std::to_string(r.row);
  if (r.column) s += " column=" + std::to_string(*r.column);
  return s;
}

Json RepairJson(const Repair& r) {
  Json j{{"action", "repair"},        {"channel", r.channel}, {"rank", r.rank},
         {"bank_group", r.bankGroup}, {"bank", r.bank},       {"row", r.row}};
  j["column"] = r.column ? Json(*r.column) : Json(nullptr);
  return j;
}

void RunFaults(const GlobalOptions& opts, const FaultsArgs& a) {
  FaultOptions fo;
  fo.pageThreshold = a.pageThreshold;
  fo.dimmThreshold = a.dimmThreshold;
  fo.spread = a.spread;
  fo.window = ParseWindow(a.window);
  if (fo.pageThreshold == 0 || fo.dimmThreshold == 0 || fo.spread < 2)
    throw UserError("the thresholds must be at least 1 and --spread at least 2");
  logs::ReadOptions ro;
  if (!a.since.empty()) ro.since = ParseTime(a.since, "--since");
  if (!a.until.empty()) ro.until = ParseTime(a.until, "--until");
  if (ro.since && ro.until && *ro.since > *ro.until)
    throw UserError("--since is later than --until");

  const logs::LogRead read = logs::ReadLogs(a.files, opts, ro);
  TranslateSession session(opts);
  Locator locator(session);
  const Analysis an = Analyze(locator, read.errors, fo);
  const TranslationPlatform platform = PlatformBehindTranslation(opts);

  std::set<uint64_t> allPages;
  for (const DimmReport& d : an.dimms)
    for (const Fault& f : d.faults)
      if (f.offline) allPages.insert(f.pages.begin(), f.pages.end());

  if (opts.json) {
    Json j = Json::object();
    j["schemaVersion"] = kSchemaVersion;
    j["platform"] = platform.json;
    j["options"] = {{"pageThreshold", fo.pageThreshold},
                    {"dimmThreshold", fo.dimmThreshold},
                    {"windowSeconds", fo.window},
                    {"spread", fo.spread}};
    j["errors"] = {{"read", read.errors.size()},
                   {"placed", an.placed.size()},
                   {"unattributed", an.unattributed.size()},
                   {"unparsed", read.unparsed.size()}};
    Json dimms = Json::array();
    for (const DimmReport& d : an.dimms) {
      Json dj{{"socket", d.key.socket},
              {"die", d.key.die},
              {"channel", d.key.channel},
              {"dimm", d.key.dimm},
              {"label", LabelJson(d.label)}};
      dj["corrected"] = d.corrected;
      dj["uncorrected"] = d.uncorrected;
      dj["correctedPeakInWindow"] = d.correctedPeak;
      dj["replace"] = d.replace;
      dj["replaceWhy"] = d.replace ? Json(d.why) : Json(nullptr);
      Json fl = Json::array();
      for (const Fault& f : d.faults) {
        Json fj{
            {"mode", ModeKey(f.mode)},
            {"severity", f.severity == logs::Severity::kCorrected ? "corrected" : "uncorrected"},
            {"errors", f.errors},
            {"peakInWindow", f.peakInWindow},
            {"first", TimeJson(f.first)},
            {"last", TimeJson(f.last)}};
        fj["extent"] = {
            {"ranks", f.ranks}, {"banks", f.banks}, {"rows", f.rows}, {"columns", f.columns}};
        Json sources = Json::array();
        for (size_t pi : f.placed) sources.push_back(read.errors[an.placed[pi].error].source);
        fj["sources"] = sources;
        Json actions = Json::array();
        if (f.offline) {
          Json pages = Json::array();
          for (uint64_t p : f.pages) pages.push_back(tools::Hex64(p));
          actions.push_back({{"action", "offlinePages"}, {"pages", pages}});
        }
        if (f.repair) actions.push_back(RepairJson(RepairOf(locator, d.key, f)));
        if (f.replace)
          actions.push_back({{"action", "replaceDimm"},
                             {"label", d.label ? Json(d.label->label) : Json(nullptr)}});
        fj["actions"] = actions;
        fj["why"] = f.why;
        fl.push_back(std::move(fj));
      }
      dj["faults"] = fl;
      dimms.push_back(std::move(dj));
    }
    j["dimms"] = dimms;
    Json un = Json::array();
    for (const Unattributed& u : an.unattributed) {
      const logs::MemoryError& e = read.errors[u.error];
      un.push_back(
          {{"source", e.source}, {"file", e.file}, {"line", e.line}, {"reason", u.reason}});
    }
    j["unattributed"] = un;
    Json up = Json::array();
    for (const logs::Unparsed& u : read.unparsed)
      up.push_back({{"file", u.file}, {"line", u.line}, {"text", u.text}, {"reason", u.reason}});
    j["unparsed"] = up;
    j["notes"] = read.notes;
    j["pages"] = allPages.size();
    std::cout << j.dump(2, ' ', false, Json::error_handler_t::replace) << "\n";
  } else {
    std::cout << "platform      " << platform.phrase << "\n";
    std::cout << "errors        " << read.errors.size() << " read, " << an.placed.size()
              << " placed, " << an.unattributed.size() << " unattributed";
    if (!read.unparsed.empty()) std::cout << ", " << read.unparsed.size() << " lines not read";
    std::cout << "\n";
    for (const DimmReport& d : an.dimms) {
      std::cout << "\nDIMM " << DimmName(d.key) << "\n";
      std::cout << "  label       " << LabelText(d.label) << "\n";
      std::cout << "  errors      " << d.corrected << " corrected, " << d.uncorrected
                << " uncorrected\n";
      if (d.replace)
        std::cout << "  replace     the DIMM"
                  << (d.label ? " \"" + d.label->label + "\"" : std::string()) << ": " << d.why
                  << "\n";
      for (size_t i = 0; i < d.faults.size(); ++i) {
        const Fault& f = d.faults[i];
        std::cout << "  fault " << i + 1 << "     " << ModeName(f.mode) << ", "
                  << (f.severity == logs::Severity::kCorrected ? "corrected" : "uncorrected")
                  << ": " << f.errors << " error" << (f.errors == 1 ? "" : "s") << ", first "
                  << TimeText(f.first) << ", last " << TimeText(f.last) << "\n";
        std::cout << "    extent    rank " << ListText(f.ranks, false) << ", bank "
                  << ListText(f.banks, false) << ", row " << ListText(f.rows, true) << ", column "
                  << ListText(f.columns, true) << "\n";
        if (f.offline) {
          std::cout << "    offline   " << f.pages.size() << " page"
                    << (f.pages.size() == 1 ? "" : "s");
          if (f.pages.size() <= 4)
            for (uint64_t p : f.pages) std::cout << " " << tools::Hex64(p);
          std::cout << " (" << f.why << ")\n";
        }
        if (f.repair)
          std::cout << "    repair    " << RepairText(RepairOf(locator, d.key, f)) << "\n";
        if (f.replace)
          std::cout << "    replace   the DIMM"
                    << (d.label ? " \"" + d.label->label + "\"" : std::string()) << " (" << f.why
                    << ")\n";
        if (!f.offline && !f.replace) std::cout << "    action    none yet (" << f.why << ")\n";
      }
    }
    if (!an.unattributed.empty()) {
      std::cout << "\nunattributed\n";
      for (const Unattributed& u : an.unattributed)
        std::cout << "  " << read.errors[u.error].source << ": " << u.reason << "\n";
    }
    if (!read.unparsed.empty()) {
      std::cout << "\nnot read\n";
      for (const logs::Unparsed& u : read.unparsed)
        std::cout << "  " << u.file << " line " << u.line << ": " << u.reason << "\n";
    }
    for (const std::string& n : read.notes) std::cout << "note: " << n << "\n";
  }
  if (!a.pages.empty()) {
    std::ofstream out(a.pages, std::ios::trunc);
    for (uint64_t p : allPages) out << tools::Hex64(p) << "\n";
    out.flush();
    if (!out) throw UserError("cannot write the page list to '" + a.pages + "'");
  }
  std::cout.flush();
  if (!platform.warning.empty()) std::cerr << "platsim: " << platform.warning << "\n";
  if (!an.unattributed.empty() || !read.unparsed.empty()) throw Refusal("");  // said above
}

}  // namespace

void AddFaultsCommands(CLI::App& app, GlobalOptions& opts) {
  auto* cmd = app.add_subcommand(
      "faults",
      "memory errors from a machine's logs, placed on DIMMs and DRAM cells, grouped into faults, "
      "with the pages to offline, the rows to repair and the DIMMs to replace");
  auto args = std::make_shared<FaultsArgs>();
  cmd->add_option("FILE", args->files,
                  "rasdaemon's database, kernel log text, boot error regions, BERT tables or "
                  "machine-check snapshots (each recognised by its content)")
      ->required();
  cmd->add_option("--since", args->since,
                  "only errors from this time (seconds or YYYY-MM-DD HH:MM:SS, UTC)");
  cmd->add_option("--until", args->until, "only errors up to this time");
  cmd->add_option("--pages", args->pages,
                  "write the pages to offline to FILE, one physical address per line (for "
                  "/sys/devices/system/memory/soft_offline_page)");
  cmd->add_option("--page-threshold", args->pageThreshold,
                  "corrected errors of a cell, row or column fault within the window that offline "
                  "its pages (default 2)");
  cmd->add_option("--dimm-threshold", args->dimmThreshold,
                  "corrected errors of a DIMM within the window that call for replacing it "
                  "(default 10)");
  cmd->add_option("--window", args->window,
                  "the thresholds' time window: 24h (default), 90m, 3600s, 2d");
  cmd->add_option("--spread", args->spread,
                  "clusters in one bank that make a bank fault, and banks of one rank that make "
                  "a multiple-bank fault (default 3)");
  cmd->footer(
      "Examples:\n"
      "  platsim --profile machine.json faults /var/lib/rasdaemon/ras-mc_event.db kern.log\n"
      "  platsim --profile machine.json --json faults kern.log --since 2026-12-01 --pages "
      "pages.txt");
  SetExitCodes(cmd, "every error placed",
               "some errors could not be placed on a DIMM, or some lines could not be read (each "
               "listed with its reason)");
  cmd->fallthrough();
  cmd->callback([&opts, args] { RunFaults(opts, *args); });
}

}  // namespace platsim
