// platsim faults: memory errors from the logs of a machine, translated on the
// profile's platform to DIMMs and DRAM cells, grouped into faults, and what
// to do about each (docs/platsim/faults.md).
//   platsim --profile machine.json faults ras-mc_event.db kern.log --pages pages.txt
#include "tools/platsim/cli/commands.h"
#include "tools/platsim/cli/platform_load.h"
#include "tools/platsim/faults/fault_analysis.h"
#include "tools/platsim/faults/fault_report.h"
#include "tools/platsim/faults/fault_svg.h"
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

struct FaultsArgs {
  std::vector<std::string> files;
  std::string since, until, pages, svg, window = "24h";
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

  const ReportInput in{read, an, locator, fo, platform};
  const std::vector<uint64_t> allPages = PagesToOffline(an);

  if (opts.json)
    std::cout << ReportJson(in).dump(2, ' ', false, Json::error_handler_t::replace) << "\n";
  else
    ReportText(in, std::cout);
  if (!a.svg.empty()) {
    std::ofstream out(a.svg, std::ios::trunc);
    out << RenderFaultSvg(locator, an, read.errors, "Memory errors and faults",
                          "translated " + platform.phrase);
    out.flush();
    if (!out) throw UserError("cannot write the picture to '" + a.svg + "'");
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
  cmd->add_option("--svg", args->svg,
                  "draw each affected DIMM's banks by rows with its errors and faults to FILE "
                  "(SVG)");
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
