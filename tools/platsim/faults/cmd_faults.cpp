// platsim faults: memory errors from the logs of a machine, translated on the
// profile's platform to DIMMs and DRAM cells, grouped into faults, and what
// to do about each (docs/platsim/faults.md).
//   platsim --profile machine.json faults ras-mc_event.db kern.log --pages pages.txt
#include "tools/platsim/cli/commands.h"
#include "tools/platsim/cli/platform_load.h"
#include "tools/platsim/faults/fault_analysis.h"
#include "tools/platsim/faults/fault_report.h"
#include "tools/platsim/faults/fault_svg.h"
#include "tools/platsim/faults/time_text.h"
#include "tools/common/output_file.h"
#include "tools/common/hex_text.h"

#include <iostream>
#include <memory>

namespace platsim {

namespace {

using Json = sim::profile::Json;
using namespace faults;

struct FaultsArgs {
  std::vector<std::string> files;
  std::string since, until, pages, svg, window = "24h";
  uint32_t pageThreshold = 2, dimmThreshold = 10, spread = 3;
};

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
  const TranslationPlatform& platform = session.Named();

  const ReportInput in{read, an, locator, fo, platform};
  const std::vector<uint64_t> allPages = PagesToOffline(an);

  if (opts.json)
    std::cout << ReportJson(in).dump(2, ' ', false, Json::error_handler_t::replace) << "\n";
  else
    ReportText(in, std::cout);
  if (!a.svg.empty())
    tools::WriteOutputFile(
        a.svg, RenderFaultSvg(locator, an, read.errors, "Memory errors and faults", platform.line),
        "cannot write the picture to '" + a.svg + "'");
  if (!a.pages.empty()) {
    std::string list;
    for (uint64_t p : allPages) list += tools::Hex64(p) + "\n";
    tools::WriteOutputFile(a.pages, list, "cannot write the page list to '" + a.pages + "'");
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
