// The fault analysis on a small platform (one die, two 256 MiB channels
// interleaved with the hash, channel 0 with two chip selects and the bank
// hash): faults of every mode injected into one DIMM, their cells turned into
// system addresses by the reverse DRAM -> normalized translation and slot 1,
// must come back as one fault of that mode and extent; a faulty row's pages
// must equal what slot 2 says of every cache line of the map.
#include "tests/platsim/faults/small_platform.h"
#include "tests/platsim/map/map_test_support.h"
#include "tests/platsim/platsim_run.h"
#include "sim/dram/channel_config_store.h"
#include "sim/dram/channel_geometry.h"
#include "sim/dram/dram_to_normalized.h"
#include "tools/platsim/faults/fault_analysis.h"
#include "tools/platsim/faults/fault_report.h"
#include "tools/platsim/faults/fault_svg.h"
#include "tools/platsim/faults/time_text.h"

#include <gtest/gtest.h>

#include <chrono>
#include <set>
#include <sstream>

namespace {

using namespace platsim::faults;
using platsim::logs::MemoryError;
using platsim::logs::Severity;

struct Cell {
  uint32_t cs, bank, row, col;
};

class FaultAnalysis : public ::testing::Test {
 protected:
  void SetUp() override {
    opts_.profile = dir_.Write("small.json", faulttest::kSmallProfile);
    session_ = std::make_unique<platsim::TranslateSession>(opts_);
    locator_ = std::make_unique<Locator>(*session_);
  }

  // The system address of a cell of channel 0, through the translations.
  uint64_t SystemOf(const Cell& c) {
    DramAddress d{};
    d.chipSelect = static_cast<uint8_t>(c.cs);
    d.bank = static_cast<uint8_t>(c.bank);
    d.row = c.row;
    d.col = static_cast<uint16_t>(c.col);
    const atd::ChannelConfigTable table = sim::dram::ChannelConfigOf(session_->Platform());
    const auto found = sim::dram::NormalizedFromDram(table, 0, d);
    EXPECT_GE(found.count, 1u) << found.reason;
    const platsim::NormAnswer a = session_->Normalized(found.addresses.at(0), 0, 0, 0);
    EXPECT_EQ(a.verdict, platsim::Verdict::Ok) << a.error;
    return a.system;
  }

  MemoryError ErrorAt(const Cell& c, int64_t time, Severity s = Severity::kCorrected) {
    MemoryError e;
    e.SetSource("test");
    e.address = SystemOf(c);
    e.time = time;
    e.severity = s;
    return e;
  }

  platsim_test::TempDir dir_;
  platsim::GlobalOptions opts_;
  std::unique_ptr<platsim::TranslateSession> session_;
  std::unique_ptr<Locator> locator_;
};

struct ModeCase {
  const char* name;
  std::vector<Cell> cells;
  Mode mode;
  std::vector<uint32_t> ranks, banks;
};

TEST(FaultTimes, SinceUntilAndWindowTexts) {
  // 2026-12-01 is day 20788 since 1970-01-01 (56 years of 365 days, 14 leap
  // days, and the 334 days of 2026 before December).
  constexpr int64_t kDec1 = 20788LL * 86400;
  const struct {
    const char* text;
    int64_t want;  // -1: refused
  } cases[] = {
      {"1764583200", 1764583200},
      {"2026-12-01", kDec1},
      {"2026-12-01 10:00", kDec1 + 36000},
      {"2026-12-01T10:00:05Z", kDec1 + 36005},
      {"2026-12-01 10:00:05 UTC", kDec1 + 36005},
      {"2026-02-29", -1},
      {"2026-13-01", -1},
      {"2026-12-01 10", -1},
      {"2026-12-01x", -1},
      {"2026-12-01 25:00", -1},
      {"yesterday", -1},
      {"", -1},
  };
  for (const auto& c : cases) {
    if (c.want < 0)
      EXPECT_THROW(ParseTime(c.text, "--since"), platsim::UserError) << c.text;
    else
      EXPECT_EQ(ParseTime(c.text, "--since"), c.want) << c.text;
  }
  EXPECT_EQ(TimeText(kDec1 + 36005), "2026-12-01 10:00:05 UTC");
  EXPECT_EQ(ParseWindow("24h"), 86400);
  EXPECT_EQ(ParseWindow("90m"), 5400);
  EXPECT_EQ(ParseWindow("2d"), 172800);
  EXPECT_EQ(ParseWindow("3600"), 3600);
  for (const char* bad : {"0", "h", "", "-1h", "5w"})
    EXPECT_THROW(ParseWindow(bad), platsim::UserError) << bad;
}

TEST_F(FaultAnalysis, EachInjectedModeComesBackWithItsExtent) {
  const std::vector<ModeCase> cases = {
      {"cell", {{0, 3, 100, 17}, {0, 3, 100, 17}, {0, 3, 100, 17}}, Mode::kCell, {0}, {3}},
      {"row",
       {{0, 5, 200, 1}, {0, 5, 200, 40}, {0, 5, 200, 300}, {0, 5, 200, 777}},
       Mode::kRow,
       {0},
       {5}},
      {"column",
       {{1, 2, 10, 64}, {1, 2, 20, 64}, {1, 2, 30, 64}, {1, 2, 400, 64}},
       Mode::kColumn,
       {1},
       {2}},
      {"bank",
       {{0, 7, 1, 3}, {0, 7, 50, 100}, {0, 7, 99, 200}, {0, 7, 300, 600}, {0, 7, 500, 900}},
       Mode::kBank,
       {0},
       {7}},
      {"multiple banks",
       {{0, 1, 11, 5}, {0, 4, 22, 6}, {0, 9, 33, 7}, {0, 12, 44, 8}},
       Mode::kMultiBank,
       {0},
       {1, 4, 9, 12}},
      {"multiple ranks",
       {{0, 1, 1, 1}, {0, 2, 2, 2}, {0, 3, 3, 3}, {1, 4, 4, 4}, {1, 5, 5, 5}, {1, 6, 6, 6}},
       Mode::kMultiRank,
       {0, 1},
       {1, 2, 3, 4, 5, 6}},
  };
  for (const ModeCase& c : cases) {
    std::vector<MemoryError> errors;
    std::set<uint32_t> rows, cols;
    for (size_t i = 0; i < c.cells.size(); ++i) {
      errors.push_back(ErrorAt(c.cells[i], 1000 + static_cast<int64_t>(i) * 60));
      rows.insert(c.cells[i].row);
      cols.insert(c.cells[i].col);
    }
    const Analysis a = Analyze(*locator_, errors, FaultOptions{});
    ASSERT_TRUE(a.unattributed.empty()) << c.name << ": " << a.unattributed[0].reason;
    ASSERT_EQ(a.dimms.size(), 1u) << c.name;
    const DimmReport& d = a.dimms[0];
    EXPECT_EQ(d.key, (DimmKey{0, 0, 0, 0})) << c.name;
    ASSERT_NE(d.label, nullptr) << c.name;
    EXPECT_EQ(d.label->label, "A1") << c.name;
    ASSERT_EQ(d.faults.size(), 1u) << c.name;
    const Fault& f = d.faults[0];
    EXPECT_EQ(f.mode, c.mode) << c.name;
    EXPECT_EQ(f.ranks, c.ranks) << c.name;
    EXPECT_EQ(f.banks, c.banks) << c.name;
    EXPECT_EQ(f.rows, std::vector<uint32_t>(rows.begin(), rows.end())) << c.name;
    EXPECT_EQ(f.columns, std::vector<uint32_t>(cols.begin(), cols.end())) << c.name;
    EXPECT_EQ(f.errors, c.cells.size()) << c.name;
    EXPECT_EQ(*f.first, 1000) << c.name;
    // Bank-wide faults and beyond replace the DIMM; cells, rows and columns
    // with two or more errors in a day offline their pages.
    const bool wide =
        c.mode == Mode::kBank || c.mode == Mode::kMultiBank || c.mode == Mode::kMultiRank;
    EXPECT_EQ(f.replace, wide) << c.name;
    EXPECT_EQ(f.offline, !wide) << c.name;
    EXPECT_EQ(d.replace, wide) << c.name;
  }
}

TEST_F(FaultAnalysis, FaultsSideBySideInOneDimmStayApart) {
  struct Mixed {
    const char* name;
    std::vector<Cell> cells;
    std::vector<Mode> modes;  // in the order the analysis lists them
  };
  const std::vector<Mixed> cases = {
      // A stray cell on a row the column fault crosses: a column and a cell.
      {"column crossed by a cell",
       {{0, 2, 10, 64}, {0, 2, 20, 64}, {0, 2, 30, 64}, {0, 2, 10, 500}},
       {Mode::kColumn, Mode::kCell}},
      {"row and cell in one bank",
       {{0, 6, 300, 1}, {0, 6, 300, 2}, {0, 6, 300, 3}, {0, 6, 77, 9}},
       {Mode::kRow, Mode::kCell}},
      // Two banks of one rank are fewer than the three of a multi-bank
      // fault: two cell faults.
      {"cells in two banks", {{0, 1, 5, 5}, {0, 8, 6, 6}}, {Mode::kCell, Mode::kCell}},
      // Bank faults in both ranks: one multi-rank fault.
      {"bank faults in two ranks",
       {{0, 3, 1, 1}, {0, 3, 2, 2}, {0, 3, 3, 3}, {1, 3, 4, 4}, {1, 3, 5, 5}, {1, 3, 6, 6}},
       {Mode::kMultiRank}},
  };
  for (const Mixed& c : cases) {
    std::vector<MemoryError> errors;
    for (const Cell& cell : c.cells) errors.push_back(ErrorAt(cell, 0));
    const Analysis a = Analyze(*locator_, errors, FaultOptions{});
    ASSERT_EQ(a.dimms.size(), 1u) << c.name;
    std::vector<Mode> got;
    for (const Fault& f : a.dimms[0].faults) got.push_back(f.mode);
    EXPECT_EQ(got, c.modes) << c.name;
  }
}

TEST_F(FaultAnalysis, SeveritiesThresholdsAndUnplacedErrors) {
  const Cell cell{0, 3, 100, 17};
  // One corrected error: below the page threshold of 2; then two a day
  // apart (window 24 h): still one per window. An uncorrected error on the
  // same cell is a fault of its own and replaces the DIMM.
  std::vector<MemoryError> errors = {ErrorAt(cell, 0), ErrorAt(cell, 86400)};
  MemoryError none;
  none.SetSource("no address");
  MemoryError mmio;
  mmio.SetSource("beyond DRAM");
  mmio.address = 0x40000000;  // above the 512 MiB of DRAM
  MemoryError lost;
  lost.SetSource("normalized without channel");
  lost.address = 0x1000;
  lost.kind = platsim::logs::AddressKind::kNormalized;
  errors.push_back(none);
  errors.push_back(mmio);
  errors.push_back(lost);
  Analysis a = Analyze(*locator_, errors, FaultOptions{});
  ASSERT_EQ(a.unattributed.size(), 3u);
  EXPECT_NE(a.unattributed[0].reason.find("no address"), std::string::npos);
  EXPECT_NE(a.unattributed[1].reason.find("0x0000000040000000"), std::string::npos)
      << a.unattributed[1].reason;
  EXPECT_NE(a.unattributed[2].reason.find("without the channel"), std::string::npos);
  ASSERT_EQ(a.dimms.size(), 1u);
  ASSERT_EQ(a.dimms[0].faults.size(), 1u);
  EXPECT_EQ(a.dimms[0].faults[0].peakInWindow, 1u);
  EXPECT_FALSE(a.dimms[0].faults[0].offline);

  // A third error within a day of the second: two in one window.
  errors.push_back(ErrorAt(cell, 86400 + 3600));
  errors.push_back(ErrorAt(cell, 5000, Severity::kUncorrected));
  a = Analyze(*locator_, errors, FaultOptions{});
  ASSERT_EQ(a.dimms[0].faults.size(), 2u);
  const Fault& ce = a.dimms[0].faults[0];
  const Fault& ue = a.dimms[0].faults[1];
  EXPECT_EQ(ce.severity, Severity::kCorrected);
  EXPECT_EQ(ce.errors, 3u);
  EXPECT_EQ(ce.peakInWindow, 2u);
  EXPECT_TRUE(ce.offline);
  ASSERT_EQ(ce.pages.size(), 1u);
  EXPECT_EQ(ce.pages[0], SystemOf(cell) & ~uint64_t{0xFFF});
  EXPECT_EQ(ue.severity, Severity::kUncorrected);
  EXPECT_TRUE(ue.replace);
  EXPECT_TRUE(a.dimms[0].replace);

  // A normalized address of channel 0 lands on the same cell as its system
  // address; the bank group is the high 2 of the 4 bank bits (bank 13: group
  // 3, bank 1).
  MemoryError norm;
  norm.address = 0;
  norm.kind = platsim::logs::AddressKind::kNormalized;
  norm.channel = platsim::logs::ChannelRef{0, 0, 0};
  a = Analyze(*locator_, {norm}, FaultOptions{});
  ASSERT_EQ(a.placed.size(), 1u) << a.unattributed.at(0).reason;
  EXPECT_EQ(a.placed[0].system, 0u);
  EXPECT_EQ(locator_->GroupBits(a.placed[0].dimm, 0), 2u);
  EXPECT_EQ(BankGroupOf(13, 4, 2), 3u);
  EXPECT_EQ(BankInGroup(13, 4, 2), 1u);
}

TEST(FaultPlaces, ChannelsWithoutDimmGeometryAreUnattributed) {
  // The built-in platform: maps of 16 GiB per die, socket-major; 60 GiB lies
  // in socket 1 die 1, whose channels have slots (1 + 1) * 8 + channel,
  // beyond the 16 of the table.
  platsim::GlobalOptions opts;
  platsim::TranslateSession session(opts);
  Locator locator(session);
  MemoryError e;
  e.address = 60ULL << 30;
  const Analysis a = Analyze(locator, {e}, FaultOptions{});
  ASSERT_EQ(a.unattributed.size(), 1u);
  EXPECT_NE(a.unattributed[0].reason.find("socket 1 die 1 channel"), std::string::npos)
      << a.unattributed[0].reason;
  EXPECT_NE(a.unattributed[0].reason.find("beyond the 16 slots"), std::string::npos)
      << a.unattributed[0].reason;
}

TEST_F(FaultAnalysis, RowPagesAreWhatSlotTwoSaysOfEveryCacheLine) {
  // A row of each chip select (the second its top row), both found in one
  // pass: every cache line of the 512 MiB map through slot 2, kept where it
  // lands in that row of channel 0.
  const DramAddress rows[] = {{0, 5, {}, 200, 0, 0, {}}, {1, 14, {}, 1023, 0, 0, {}}};
  std::set<uint64_t> expect[2];
  TranslationProtocol& p = session_->Protocol();
  // Under the sanitizers slot 2 is ten times slower: there the walk covers
  // the first 64 and the last 16 MiB of the map (where the two rows lie), and
  // the row's pages are compared inside them.
  static constexpr uint64_t kGapStart = 64ULL << 20, kGapEnd = 496ULL << 20;
  bool sanitized = false;
#if defined(__has_feature)
#if __has_feature(address_sanitizer)
  sanitized = true;
#endif
#endif
  auto walked = [sanitized](uint64_t a) { return !sanitized || a < kGapStart || a >= kGapEnd; };
  for (uint64_t a = 0; a < (512ULL << 20); a += 64) {
    if (!walked(a)) {
      a = kGapEnd - 64;
      continue;
    }
    NormalizedAddress n{};
    DramAddress d{};
    if (p.SystemToNormalized(&a, &n, &d) != EFI_SUCCESS || n.channelId != 0 || d.rankMul != 0)
      continue;
    for (size_t r = 0; r < 2; ++r)
      if (d.chipSelect == rows[r].chipSelect && d.bank == rows[r].bank && d.row == rows[r].row)
        expect[r].insert(a & ~uint64_t{0xFFF});
  }
  for (size_t r = 0; r < 2; ++r) {
    const auto t0 = std::chrono::steady_clock::now();
    std::vector<uint64_t> pages = locator_->RowPages({0, 0, 0, 0}, rows[r]);
    const std::chrono::duration<double, std::milli> ms = std::chrono::steady_clock::now() - t0;
    EXPECT_FALSE(pages.empty()) << r;
    std::erase_if(pages, [&](uint64_t page) { return !walked(page); });
    EXPECT_EQ(pages, std::vector<uint64_t>(expect[r].begin(), expect[r].end())) << r;
    EXPECT_FALSE(expect[r].empty()) << r;
    RecordProperty("rowPagesMs" + std::to_string(r), std::to_string(ms.count()));
  }
}

TEST_F(FaultAnalysis, ReportNamesTheDimmTheActionsAndTheRepairCoordinates) {
  platsim::logs::LogRead read;
  // A corrected row fault (two columns, an hour apart) and an uncorrected
  // error, on DIMM 0 "A1"; one error beyond DRAM.
  read.errors = {ErrorAt({0, 5, 200, 1}, 1764583200), ErrorAt({0, 5, 200, 40}, 1764586800),
                 ErrorAt({1, 2, 10, 4}, 1764586800, Severity::kUncorrected)};
  MemoryError beyond;
  beyond.SetSource("kern.log line 9");
  beyond.address = 0x40000000;
  read.errors.push_back(beyond);
  const FaultOptions fo;
  const Analysis an = Analyze(*locator_, read.errors, fo);
  const platsim::TranslationPlatform platform = platsim::PlatformBehindTranslation(opts_);
  const ReportInput in{read, an, *locator_, fo, platform};
  const sim::profile::Json j = ReportJson(in);
  EXPECT_EQ(j["schemaVersion"], 1);
  EXPECT_EQ(j["platform"]["profile"], opts_.profile);
  ASSERT_EQ(j["dimms"].size(), 1u);
  const auto& d = j["dimms"][0];
  EXPECT_EQ(d["label"]["label"], "A1");
  EXPECT_EQ(d["label"]["serial"], "S-1");
  EXPECT_EQ(d["replace"], true);
  ASSERT_EQ(d["faults"].size(), 2u);
  const auto& row = d["faults"][0];
  EXPECT_EQ(row["mode"], "row");
  EXPECT_EQ(row["first"], "2025-12-01 10:00:00 UTC");
  EXPECT_EQ(row["extent"]["columns"], sim::profile::Json({1, 40}));
  EXPECT_EQ(row["extent"]["columnsDistinct"], 2);
  ASSERT_EQ(row["actions"].size(), 2u);
  EXPECT_EQ(row["actions"][0]["action"], "offlinePages");
  EXPECT_EQ(row["actions"][0]["pages"].size(),
            locator_->RowPages({0, 0, 0, 0}, {0, 5, {}, 200, 0, 0, {}}).size());
  // Bank 5 of 4 bank bits, 2 of them group bits: group 0b01, bank 0b01.
  const sim::profile::Json repair = {{"action", "repair"}, {"channel", 0}, {"rank", 0},
                                     {"bank_group", 1},    {"bank", 1},    {"row", 200},
                                     {"column", nullptr}};
  EXPECT_EQ(row["actions"][1], repair);
  const auto& ue = d["faults"][1];
  EXPECT_EQ(ue["severity"], "uncorrected");
  EXPECT_EQ(ue["actions"].back(), sim::profile::Json({{"action", "replaceDimm"}, {"label", "A1"}}));
  ASSERT_EQ(j["unattributed"].size(), 1u);
  EXPECT_EQ(j["unattributed"][0]["source"], "kern.log line 9");
  // All pages once, ascending: the row's and the uncorrected cell's.
  const std::vector<uint64_t> pages = PagesToOffline(an);
  EXPECT_TRUE(std::is_sorted(pages.begin(), pages.end()));
  EXPECT_EQ(pages.size(), row["actions"][0]["pages"].size() + 1);

  std::ostringstream text;
  ReportText(in, text);
  for (const char* line :
       {"DIMM socket 0 die 0 channel 0 DIMM 0 (chip selects 0-1)\n",
        "  label       \"A1\", serial S-1\n", "  fault 1     single row, corrected: 2 errors",
        "    repair    channel=0 rank=0 bank_group=1 bank=1 row=200\n",
        "    replace   the DIMM \"A1\" (uncorrected errors)\n",
        "  kern.log line 9: system address "})
    EXPECT_NE(text.str().find(line), std::string::npos) << line << "\n" << text.str();
}

TEST_F(FaultAnalysis, PictureShowsErrorsAndFaultsWhereTheyAre) {
  // A row fault in bank 5 row 200 and an uncorrected error in bank 2 row
  // 900, chip select 0 (1024 rows, 16 banks).
  const std::vector<MemoryError> errors = {ErrorAt({0, 5, 200, 1}, 0), ErrorAt({0, 5, 200, 40}, 60),
                                           ErrorAt({0, 2, 900, 4}, 60, Severity::kUncorrected)};
  const Analysis an = Analyze(*locator_, errors, FaultOptions{});
  const std::string svg = RenderFaultSvg(*locator_, an, errors, "test");
  const std::string svgFile = dir_.Write("faults.svg", svg), png = dir_.Path("faults.png");
  const platsim_test::Run render =
      platsim_test::Shell("rsvg-convert -o " + png + " " + svgFile + " 2>&1");
  ASSERT_EQ(render.exit, 0) << render.out;
  maptest::Image img;
  ASSERT_TRUE(maptest::ReadPng(png, &img));
  auto swatch = [&](const char* id) {
    const std::string sel = std::string("id=\"") + id + "\"";
    return img.At(maptest::Num(svg, sel, "x") + 7, maptest::Num(svg, sel, "y") + 7);
  };
  const std::string panel = "id=\"panel-s0d0c0cs0\"";
  ASSERT_EQ(maptest::Attr(svg, panel, "data-rows"), "1024");
  const double x0 = maptest::Num(svg, panel, "data-x"), y0 = maptest::Num(svg, panel, "data-y");
  const double bw = maptest::Num(svg, panel, "data-bank-width");
  const double h = maptest::Num(svg, panel, "data-height");
  // Where bank b, row r is drawn: bank columns of bw, rows to scale.
  auto at = [&](double bank, double row) {
    return img.At(x0 + bw * bank + bw / 2 - 1, y0 + h * row / 1024 + 1);
  };
  EXPECT_EQ(at(5, 200), swatch("legend-corrected"));
  EXPECT_EQ(at(2, 900), swatch("legend-uncorrected"));
  EXPECT_EQ(at(9, 500), swatch("legend-bank"));
  EXPECT_NE(swatch("legend-bank"), swatch("legend-corrected"));
  // The row fault's frame: its left edge, one pixel left of bank 5.
  EXPECT_EQ(img.At(x0 + bw * 5 - 1, y0 + h * 200 / 1024 + 1), swatch("legend-fault"));
}

}  // namespace
