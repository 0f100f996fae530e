// platsim faults, the command, end to end on the small platform: a row fault
// of DIMM "A1" written as rasdaemon mce_record rows and a cell fault of its
// other chip select written as the kernel's machine-check lines; the report
// (text and JSON) must name the platform, the DIMM and both faults, and the
// page list must hold the row's pages and the cell's page, one per line.
#include "tests/platsim/faults/small_platform.h"
#include "tests/platsim/logs/rasdaemon_db_support.h"
#include "tests/platsim/platsim_run.h"
#include "sim/dram/channel_config_store.h"
#include "sim/dram/dram_to_normalized.h"
#include "tools/platsim/faults/fault_analysis.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <cstdio>
#include <set>

namespace {

using namespace platsim::faults;

// The system address of a cell of channel 0: reverse DRAM -> normalized, then slot 1.
uint64_t SystemOf(platsim::TranslateSession& s, uint8_t cs, uint8_t bank, uint32_t row,
                  uint16_t col) {
  DramAddress d{};
  d.chipSelect = cs;
  d.bank = bank;
  d.row = row;
  d.col = col;
  const auto found = sim::dram::NormalizedFromDram(sim::dram::ChannelConfigOf(s.Platform()), 0, d);
  EXPECT_GE(found.count, 1u) << found.reason;
  return s.Normalized(found.addresses.at(0), 0, 0, 0).system;
}

std::string Hex(uint64_t v) {
  char buf[24];
  std::snprintf(buf, sizeof buf, "%llx", static_cast<unsigned long long>(v));
  return buf;
}

TEST(FaultsCommand, DatabaseAndKernelLogToReportAndPageList) {
  platsim_test::TempDir dir;
  platsim::GlobalOptions opts;
  opts.profile = dir.Write("small.json", faulttest::kSmallProfile);
  platsim::TranslateSession session(opts);
  Locator locator(session);

  // Row 200 of bank 5, chip select 0: three columns, ten minutes apart
  // (2026-12-01 10:00 UTC on). Status 0x9400000000000000: VAL, EN, ADDRV,
  // corrected (stored signed by SQLite).
  const std::string db = dir.Path("ras-mc_event.db");
  {
    platsim_test::Db d(db);
    const uint16_t cols[] = {1, 40, 300};
    for (int i = 0; i < 3; ++i)
      d.Exec("INSERT INTO mce_record (id, timestamp, status, addr, cpu, socketid, bank) VALUES (" +
             std::to_string(i + 1) + ", '2026-12-01 10:" + std::to_string(10 * i) +
             "0:00 +0000', -7782220156096217088, " +
             std::to_string(SystemOf(session, 0, 5, 200, cols[i])) + ", 0, 0, 5)");
  }
  // Bank 2, row 10, column 4 of chip select 1 twice, an hour apart.
  const uint64_t cell = SystemOf(session, 1, 2, 10, 4);
  std::string log;
  for (const char* time : {"1796122800", "1796126400"})
    log +=
        "mce: [Hardware Error]: CPU 3: Machine Check: 0 Bank 5: 9400000000000000\n"
        "mce: [Hardware Error]: TSC 0 ADDR " +
        Hex(cell) + "\nmce: [Hardware Error]: PROCESSOR 2:a20f10 TIME " + time +
        " SOCKET 0 APIC 6 microcode 1\n";
  const std::string kern = dir.Write("kern.log", log);

  DramAddress row{};
  row.bank = 5;
  row.row = 200;
  std::set<uint64_t> want;
  for (uint64_t p : locator.RowPages({0, 0, 0, 0}, row)) want.insert(p);
  ASSERT_GT(want.size(), 1u);
  want.insert(cell & ~uint64_t{0xFFF});

  const struct {
    const char* name;
    bool json;
  } cases[] = {{"text", false}, {"json", true}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string pages = dir.Path(std::string("pages-") + c.name + ".txt");
    const auto run = platsim_test::Exec("--profile " + opts.profile + (c.json ? " --json" : "") +
                                        " faults " + db + " " + kern + " --pages " + pages);
    EXPECT_EQ(run.exit, 0) << run.err;
    std::istringstream in(platsim_test::Slurp(pages));
    // One physical address a line ("0x" and 16 hex digits), ascending, each once.
    std::vector<uint64_t> lines;
    for (std::string l; std::getline(in, l);) {
      EXPECT_EQ(l.size(), 18u) << l;
      lines.push_back(std::stoull(l, nullptr, 16));
    }
    EXPECT_EQ(lines, std::vector<uint64_t>(want.begin(), want.end()));
    if (c.json) {
      const auto j = nlohmann::json::parse(run.out);
      EXPECT_EQ(j["platform"]["profile"], opts.profile);
      ASSERT_EQ(j["dimms"].size(), 1u);
      EXPECT_EQ(j["dimms"][0]["label"]["label"], "A1");
      std::vector<std::string> modes;
      for (const auto& f : j["dimms"][0]["faults"]) modes.push_back(f["mode"]);
      EXPECT_EQ(modes, (std::vector<std::string>{"row", "cell"}));
      EXPECT_TRUE(j["unattributed"].empty());
    } else {
      for (const std::string& s :
           {"platform: profile " + opts.profile + "\n",
            std::string("DIMM socket 0 die 0 channel 0 DIMM 0 (chip selects 0-1)\n"),
            std::string("  label       \"A1\", serial S-1\n"),
            std::string("single row, corrected: 3 errors"),
            std::string("single cell, corrected: 2 errors")})
        EXPECT_NE(run.out.find(s), std::string::npos) << s << "\n" << run.out;
    }
  }
}

}  // namespace
