// The records decode already read, as memory errors (a region's memory
// section, a snapshot's logged bank placed by its identification value), the
// bank map's rules and the time window.
#include "tests/platsim/platsim_run.h"
#include "tests/platsim/records/record_bytes.h"
#include "tools/platsim/logs/log_text.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

namespace {

using namespace platsim::logs;
using Json = nlohmann::json;

// 2026-12-01 10:00:00 UTC; as a CPER timestamp: BCD seconds, minutes, hours,
// flags (precise), day, month, year, century.
constexpr int64_t kDec1 = 1796119200;
constexpr uint64_t kDec1Cper = 0x2026120101100000;

record_bytes::Bytes Region() {
  record_bytes::Memory m;
  m.valid = (1u << 1) | (1u << 3) | (1u << 8) | (1u << 9);  // address, node, row, column
  m.address = 0x12345678;
  m.node = 1;
  m.card = 7;  // not valid: not read
  m.row = 0x246;
  m.column = 0x22F;
  return record_bytes::Block(
      2, record_bytes::Entry(record_bytes::kMemoryGuid, m.Build(), 0x300, 2, 4, 0, kDec1Cper), {},
      2);
}

TEST(LogSources, RegionSectionAsMemoryError) {
  const auto r = ReadRecordFile(Region(), "/x/region.bin", "region.bin");
  ASSERT_EQ(r.errors.size(), 1u);
  const MemoryError& e = r.errors[0];
  EXPECT_EQ(e.Source(), "region.bin data entry at 0x14");
  EXPECT_EQ(e.address, 0x12345678u);
  EXPECT_EQ(e.time, kDec1);
  EXPECT_EQ(e.severity, Severity::kCorrected);
  EXPECT_EQ(e.location->node, 1u);
  EXPECT_FALSE(e.location->card);
  EXPECT_EQ(e.location->row, 0x246u);
  EXPECT_EQ(e.location->column, 0x22Fu);
  EXPECT_TRUE(r.unparsed.empty());
  EXPECT_EQ(DetectSource(Region()), SourceKind::kRecords);
}

TEST(LogSources, SnapshotBankPlacedByItsIdentification) {
  platsim_test::TempDir dir;
  const auto snap = platsim_test::Exec("--json mca --cpu 0");
  ASSERT_EQ(snap.exit, 0) << snap.err;
  const std::string snapshot = dir.Write("snap.json", snap.out);
  const std::string region = dir.Path("region.bin");
  {
    const auto b = Region();
    std::ofstream(region, std::ios::binary)
        .write(reinterpret_cast<const char*>(b.data()), static_cast<std::streamsize>(b.size()));
  }
  Json profile = Json::parse(platsim_test::Exec("profile dump").out);
  // Bank 2 of processor 0 carries msr5 0x001000B000000000 on the built-in platform.
  profile["mcaBanks"] =
      Json::parse(R"([{"ipid": "0x001000B000000000", "channel": 2, "address": "normalized"}])");
  const auto run = platsim_test::Exec("--profile " + dir.Write("p.json", profile.dump()) +
                                      " --json decode " + snapshot + " " + region);
  const Json j = Json::parse(run.out);
  ASSERT_EQ(j["errors"].size(), 2u) << run.out;
  EXPECT_EQ(j["errors"][0]["source"], "snap.json processor 0 bank 2");
  EXPECT_EQ(j["errors"][0]["address"], "0x00000001234567C0");
  EXPECT_EQ(j["errors"][0]["addressReading"],
            "normalized address of socket 0 die 0 channel 2, translated with slot 1");
  EXPECT_EQ(j["errors"][1]["addressReading"], "system address, as the record gives it");
}

TEST(LogSources, BankRules) {
  const auto bankError = [](uint32_t bank, std::optional<uint32_t> socket,
                            std::optional<uint64_t> ipid) {
    MemoryError e;
    e.address = 0x1000;
    McaFields f;
    f.bank = bank;
    f.socket = socket;
    f.ipid = ipid;
    e.mca = f;
    return e;
  };
  const BankRule onSocket1{5, std::nullopt, 1, 0, 3, true};
  const BankRule byIpid{std::nullopt, 0xAB, 0, 1, 2, true};
  const BankRule systemFor5{5, std::nullopt, 1, 0, 0, false};
  struct Case {
    const char* name;
    MemoryError error;
    std::vector<BankRule> rules;
    std::string reading;
  };
  const std::string normalized13 =
      "normalized address of socket 1 die 0 channel 3, translated with slot 1";
  const std::vector<Case> cases = {
      {"no rules", bankError(5, 1, {}), {}, kSystemAsReported},
      {"bank on its socket", bankError(5, 1, {}), {onSocket1}, normalized13},
      {"bank on another socket", bankError(5, 0, {}), {onSocket1}, kSystemAsReported},
      {"socket not logged", bankError(5, {}, {}), {onSocket1}, normalized13},
      {"identification value first",
       bankError(5, 1, 0xAB),
       {byIpid, onSocket1},
       "normalized address of socket 0 die 1 channel 2, translated with slot 1"},
      {"the first rule that names it",
       bankError(5, 1, {}),
       {systemFor5, onSocket1},
       kSystemAsReported},
      {"not a bank", MemoryError{}, {onSocket1}, kSystemAsRecorded},
  };
  for (const Case& c : cases) {
    std::vector<MemoryError> list = {c.error};
    PlaceAddresses(list, c.rules);
    EXPECT_EQ(AddressReading(list[0]), c.reading) << c.name;
    EXPECT_EQ(list[0].kind == AddressKind::kNormalized, list[0].channel.has_value()) << c.name;
  }
}

TEST(LogSources, TimeWindowKeepsErrorsWithoutTime) {
  LogRead r;
  for (const std::optional<int64_t> t : {std::optional<int64_t>(100), std::optional<int64_t>(200),
                                         std::optional<int64_t>(), std::optional<int64_t>(300)}) {
    MemoryError e;
    e.time = t;
    r.errors.push_back(e);
  }
  ApplyTimeWindow(r, 150, 250);
  ASSERT_EQ(r.errors.size(), 2u);
  EXPECT_EQ(r.errors[0].time, 200);
  EXPECT_FALSE(r.errors[1].time);
  ASSERT_EQ(r.notes.size(), 1u);
  EXPECT_EQ(r.notes[0],
            "2 error record(s) outside the time window left out (1 before --since, 1 after "
            "--until)");
}

}  // namespace
