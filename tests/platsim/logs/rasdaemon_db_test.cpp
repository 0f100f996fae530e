// rasdaemon's database as rasdaemon 0.6.8 creates it, built here with
// libsqlite3: the reader's rows, the compact memory record of extlog_event,
// databases that are not rasdaemon's, damaged or locked; ras-mc-ctl --errors
// (a real peer reading the same file) listing what platsim reads; and
// platsim decode on a database and a kernel log with the same event, and a
// bank the profile maps to a channel's normalized address.
#include "tests/platsim/logs/rasdaemon_db_support.h"
#include "tests/platsim/platsim_run.h"
#include "tools/platsim/logs/log_text.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <sqlite3.h>

#include <cstring>

namespace {

using platsim::logs::ReadRasdaemonDb;
using platsim_test::Db;
using platsim_test::TempDir;
using Json = nlohmann::json;

// 2026-12-01 10:00:00 UTC.
constexpr int64_t kDec1 = 1796119200;

// The compact record: validation bits, then the u16 and u64 fields in order.
std::vector<uint8_t> Compact(uint64_t valid, std::array<uint16_t, 8> fields, uint16_t rank,
                             std::optional<uint8_t> extended) {
  std::vector<uint8_t> b(54, 0);
  for (unsigned i = 0; i < 8; ++i) b[i] = static_cast<uint8_t>(valid >> (8 * i));
  for (unsigned i = 0; i < 8; ++i) {
    b[8 + 2 * i] = static_cast<uint8_t>(fields[i]);
    b[9 + 2 * i] = static_cast<uint8_t>(fields[i] >> 8);
  }
  b[48] = static_cast<uint8_t>(rank);
  b[49] = static_cast<uint8_t>(rank >> 8);
  if (extended) b.push_back(*extended);
  return b;
}

// status 0x9400000000000000 (VAL, EN, ADDRV), 0xBC00000000000000 (VAL, UC,
// EN, MISCV, ADDRV), 0x8800000000000000 (VAL, MISCV: no address) as SQLite
// stores them: signed.
const char* const kMceRows = R"(
INSERT INTO mce_record (id, timestamp, status, addr, misc, cpu, socketid, apicid, bank, error_msg)
VALUES (1, '2026-12-01 10:00:00 +0000', -7782220156096217088, 134226496, 0, 0, 0, 0, 5,
        'memory read error'),
       (2, '2026-12-01 10:00:07 +0000', -4899916394579099648, 305419776, 1, 2, 0, 4, 17,
        'memory write error'),
       (3, '2026-12-01 10:00:09 +0000', -8646911284551352320, 4096, 0, 1, 0, 2, 6, 'no address');
INSERT INTO mc_event (id, timestamp, err_count, err_type, err_msg, label, mc, top_layer,
  middle_layer, lower_layer, address, grain, syndrome, driver_detail)
VALUES (1, '2026-12-01 10:01:00 +0000', 3, 'Corrected', 'read error', 'DIMM_A1', 0, 0, 1, -1,
        305419264, 64, 0, '');
)";

void Fill(Db& db) {
  db.Exec(kMceRows);
  // node 1, card 4, module 0, bank 1, device 14, row 58165, column 816 valid,
  // with rank 2; the extended byte's row bits 17:16 = 1 (bit 18 valid).
  const uint64_t valid = (1u << 3) | (1u << 4) | (1u << 5) | (1u << 6) | (1u << 7) | (1u << 8) |
                         (1u << 9) | (1u << 15) | (1u << 18);
  db.Extlog(1, 2, 0xb50c68ce80, Compact(valid, {1, 4, 0, 1, 14, 58165, 816, 7}, 2, 1));
}

TEST(RasdaemonDb, ReadsTheTablesByColumnName) {
  TempDir dir;
  const std::string file = dir.Path("ras-mc_event.db");
  {
    Db db(file);
    Fill(db);
  }
  const auto r = ReadRasdaemonDb(file, "ras-mc_event.db");
  ASSERT_EQ(r.errors.size(), 5u);
  EXPECT_TRUE(r.unparsed.empty());
  struct Want {
    const char* source;
    std::optional<uint64_t> address;
    platsim::logs::Severity severity;
    int64_t time;
    uint32_t count;
  };
  using platsim::logs::Severity;
  const Want want[] = {
      {"ras-mc_event.db mce_record id 1", 0x8002240, Severity::kCorrected, kDec1, 1},
      {"ras-mc_event.db mce_record id 2", 0x12345600, Severity::kUncorrected, kDec1 + 7, 1},
      {"ras-mc_event.db mce_record id 3", std::nullopt, Severity::kCorrected, kDec1 + 9, 1},
      {"ras-mc_event.db mc_event id 1", 0x12345400, Severity::kCorrected, kDec1 + 60, 3},
      {"ras-mc_event.db extlog_event id 1", 0xb50c68ce80, Severity::kCorrected, kDec1, 1},
  };
  for (size_t i = 0; i < 5; ++i) {
    SCOPED_TRACE(want[i].source);
    EXPECT_EQ(r.errors[i].Source(), want[i].source);
    EXPECT_EQ(r.errors[i].address, want[i].address);
    EXPECT_EQ(r.errors[i].severity, want[i].severity);
    EXPECT_EQ(r.errors[i].time, want[i].time);
    EXPECT_EQ(r.errors[i].count, want[i].count);
  }
  EXPECT_EQ(r.errors[1].mca->status, 0xBC00000000000000u);
  EXPECT_EQ(r.errors[1].mca->bank, 17u);
  const auto& l = *r.errors[4].location;
  EXPECT_EQ(std::vector<std::optional<uint32_t>>(
                {l.node, l.card, l.module, l.bank, l.device, l.row, l.column, l.rank}),
            std::vector<std::optional<uint32_t>>({1, 4, 0, 1, 14, 58165 + 65536, 816, 2}));
  EXPECT_FALSE(l.bitPosition);  // bit 10 not valid
}

TEST(RasdaemonDb, CompactRecordLengthsAndValidBits) {
  struct Case {
    const char* name;
    std::vector<uint8_t> blob;
    std::optional<uint32_t> row, bank;
    bool readable;
  };
  const std::vector<Case> cases = {
      {"54 bytes, row valid",
       Compact(1u << 8, {0, 0, 0, 3, 0, 0x1234, 0, 0}, 0, {}),
       0x1234,
       {},
       true},
      {"55 bytes, extended row bits not valid",
       Compact(1u << 8, {0, 0, 0, 0, 0, 0x1234, 0, 0}, 0, 3),
       0x1234,
       {},
       true},
      {"55 bytes, extended row valid",
       Compact((1u << 8) | (1u << 18), {0, 0, 0, 0, 0, 5, 0, 0}, 0, 3),
       0x30005,
       {},
       true},
      {"bank address only (bit 20): the low byte",
       Compact(1u << 20, {0, 0, 0, 0x0203, 0, 0, 0, 0}, 0, {}),
       {},
       3,
       true},
      {"nothing valid", Compact(0, {1, 2, 3, 4, 5, 6, 7, 8}, 9, {}), {}, {}, true},
      {"53 bytes", std::vector<uint8_t>(53), {}, {}, false},
      {"56 bytes", std::vector<uint8_t>(56), {}, {}, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const auto d = platsim::logs::DecodeCompactMemoryError(c.blob);
    ASSERT_EQ(d.location.has_value(), c.readable) << d.fault;
    if (!c.readable) continue;
    EXPECT_EQ(d.location->row, c.row);
    EXPECT_EQ(d.location->bank, c.bank);
  }
}

TEST(RasdaemonDb, RefusesWhatIsNotRasdaemonsOrCannotBeRead) {
  TempDir dir;
  const std::string other = dir.Path("other.db");
  { Db db(other, "CREATE TABLE aer_event (id INTEGER PRIMARY KEY);"); }
  const std::string damaged =
      dir.Write("damaged.db", std::string("SQLite format 3\0", 16) + std::string(200, '\x5a'));
  const std::string locked = dir.Path("locked.db");
  Db holder(locked);
  holder.Exec("BEGIN EXCLUSIVE; INSERT INTO mc_event (id) VALUES (1);");
  const std::string older = dir.Path("older.db");
  { Db db(older, "CREATE TABLE mce_record (id INTEGER PRIMARY KEY, timestamp TEXT);"); }
  const std::pair<std::string, const char*> cases[] = {
      {other, "none of the tables mce_record, mc_event, extlog_event"},
      {damaged, "file is not a database"},
      {locked, "database is locked"},
      {older, "table mce_record has no column status"},
  };
  for (const auto& [file, message] : cases) {
    SCOPED_TRACE(file);
    try {
      ReadRasdaemonDb(file, "x.db");
      ADD_FAILURE() << "read";
    } catch (const platsim::UserError& e) {
      EXPECT_NE(std::string(e.what()).find(message), std::string::npos) << e.what();
    }
  }
  // The command: exit 2 with the message.
  const auto run = platsim_test::Exec("decode " + damaged);
  EXPECT_EQ(run.exit, 2);
  EXPECT_NE(run.err.find("file is not a database"), std::string::npos) << run.err;
  holder.Exec("COMMIT;");
}

// The peer: ras-mc-ctl --errors on the same database lists every event
// platsim reads, with the same id, time stamp, address and status.
TEST(RasdaemonDb, RasMcCtlListsTheSameEvents) {
  const std::string script = "/usr/sbin/ras-mc-ctl";
  ASSERT_TRUE(std::filesystem::exists(script))
      << "ras-mc-ctl is missing: scripts/install-deps.sh installs rasdaemon";
  TempDir dir;
  const std::string file = dir.Path("ras-mc_event.db");
  {
    Db db(file);
    Fill(db);
  }
  const auto copy = platsim_test::Shell("sed 's#/var/lib/rasdaemon/ras-mc_event.db#" + file +
                                        "#' " + script + " > " + dir.Path("ras-mc-ctl"));
  ASSERT_EQ(copy.exit, 0);
  const auto peer = platsim_test::Shell("perl " + dir.Path("ras-mc-ctl") + " --errors 2>&1");
  ASSERT_EQ(peer.exit, 0) << peer.out;
  EXPECT_NE(peer.out.find("1 2026-12-01 10:00:00 +0000 error: memory read error, "
                          "status=0x9400000000000000, addr=0x08002240, bank=0x00000005"),
            std::string::npos)
      << peer.out;

  const auto ours =
      platsim_test::Shell(platsim_test::Platsim() + " --json decode " + file + " 2>/dev/null");
  const Json j = Json::parse(ours.out);
  ASSERT_EQ(j["errors"].size(), 5u);
  // The peer's lines: "<id> <timestamp> ..." under the heading of each table.
  std::map<std::string, std::vector<std::string>> lines;  // table -> lines
  std::string table;
  std::istringstream in(peer.out);
  for (std::string line; std::getline(in, line);) {
    if (line == "MCE events:")
      table = "mce_record";
    else if (line == "Memory controller events:")
      table = "mc_event";
    else if (line == "Extlog events:")
      table = "extlog_event";
    else if (!line.empty() && std::isdigit(static_cast<unsigned char>(line[0])) && !table.empty())
      lines[table].push_back(line);
  }
  size_t peerEvents = 0;
  for (const auto& [t, l] : lines) peerEvents += l.size();
  EXPECT_EQ(peerEvents, j["errors"].size());
  for (const Json& e : j["errors"]) {
    SCOPED_TRACE(e.dump());
    const std::string source = e["source"];  // "ras-mc_event.db TABLE id N"
    const std::string t = source.substr(16, source.find(" id ") - 16);
    const std::string id = source.substr(source.find(" id ") + 4);
    const auto& list = lines[t];
    std::string line;
    for (const auto& l : list)
      if (l.rfind(id + " 2026-12-01 ", 0) == 0) line = l;
    ASSERT_FALSE(line.empty()) << "no peer line for " << source;
    std::vector<std::string> want;
    if (!e["address"].is_null()) {
      const uint64_t a = std::stoull(e["address"].get<std::string>(), nullptr, 16);
      char buf[40];
      if (t == "mc_event")
        std::snprintf(buf, sizeof buf, "addr %llu,", (unsigned long long)a);
      else if (t == "extlog_event")
        std::snprintf(buf, sizeof buf, "address=0x%08llx,", (unsigned long long)a);
      else
        std::snprintf(buf, sizeof buf, "addr=0x%08llx", (unsigned long long)a);
      want.push_back(buf);
    }
    if (e.contains("mca")) {
      std::string status = e["mca"]["status"];
      for (auto& c : status) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
      want.push_back("status=" + status);
    }
    if (e.contains("location"))
      for (auto it = e["location"].begin(); it != e["location"].end(); ++it)
        if (it.key() != "row")  // the peer unpacks the 16-bit field only
          want.push_back(it.key() + "=" + std::to_string(it.value().get<uint32_t>()));
    for (const auto& w : want) EXPECT_NE(line.find(w), std::string::npos) << w << " in " << line;
  }
}

TEST(RasdaemonDb, DecodeWithKernelLogAndBankMap) {
  TempDir dir;
  const std::string db = dir.Path("ras-mc_event.db");
  {
    Db d(db);
    d.Exec(kMceRows);
  }
  // The kernel's lines of mce_record id 1, two seconds later, and of a
  // second bank that only the log has.
  const std::string log = dir.Write(
      "kern.log",
      "mce: [Hardware Error]: CPU 0: Machine Check: 0 Bank 5: 9400000000000000\n"
      "mce: [Hardware Error]: TSC 0 ADDR 8002240\n"
      "mce: [Hardware Error]: PROCESSOR 2:a20f10 TIME 1796119202 SOCKET 0 APIC 0 microcode 1\n"
      "mce: [Hardware Error]: CPU 0: Machine Check: 0 Bank 5: 9400000000000000\n"
      "mce: [Hardware Error]: TSC 0 ADDR 8002240\n"
      "mce: [Hardware Error]: PROCESSOR 2:a20f10 TIME 1796122800 SOCKET 0 APIC 0 microcode 1\n"
      "mce: [Hardware Error]: PROCESSOR 2:a20f10 TIME x SOCKET 0 APIC 0 microcode 1\n");
  // Bank 17 logs the normalized address of socket 0 die 0 channel 1.
  const auto dump = platsim_test::Shell(platsim_test::Platsim() + " profile dump 2>/dev/null");
  ASSERT_EQ(dump.exit, 0);
  Json profile = Json::parse(dump.out);
  profile["mcaBanks"] = Json::parse(
      R"([{"bank": 17, "socket": 0, "die": 0, "channel": 1, "address": "normalized"}])");
  const std::string p = dir.Write("profile.json", profile.dump());
  const auto run = platsim_test::Shell(platsim_test::Platsim() + " --profile " + p +
                                       " --json decode " + db + " " + log + " 2>/dev/null");
  const Json j = Json::parse(run.out);
  ASSERT_EQ(j["errors"].size(), 5u) << run.out;  // 3 + 1 of the database, 1 of the log alone
  std::vector<std::string> sources, readings;
  for (const Json& e : j["errors"]) {
    sources.push_back(e["source"]);
    readings.push_back(e.value("addressReading", ""));
  }
  EXPECT_EQ(sources, (std::vector<std::string>{
                         "ras-mc_event.db mce_record id 1", "ras-mc_event.db mce_record id 2",
                         "ras-mc_event.db mce_record id 3", "ras-mc_event.db mc_event id 1",
                         "kern.log line 4"}));
  EXPECT_EQ(readings[0], "system address, as the bank reported it");
  EXPECT_EQ(readings[1], "normalized address of socket 0 die 0 channel 1, translated with slot 1");
  EXPECT_EQ(readings[3], "system address, as the record gives it");
  const std::string notes = j["notes"].dump();
  EXPECT_NE(notes.find("kern.log line 1 is the event of ras-mc_event.db mce_record id 1 (same "
                       "cpu, bank, status and address, 2 s apart): counted once"),
            std::string::npos)
      << notes;
  EXPECT_NE(notes.find("kern.log line 4 and ras-mc_event.db mce_record id 1"), std::string::npos)
      << notes;
  ASSERT_EQ(j["unparsed"].size(), 1u);
  EXPECT_EQ(j["unparsed"][0]["where"], "kern.log line 7");
  // As text: every error, the notes, then what was not read; exit 1.
  const auto text = platsim_test::Exec("--profile " + p + " decode " + db + " " + log);
  EXPECT_EQ(text.exit, 1);
  for (const char* want :
       {"5 memory errors read from 2 files\n",
        "memory error 1 of 5: ras-mc_event.db mce_record id 1\n  time            2026-12-01 "
        "10:00:00 UTC\n  severity        corrected\n",
        "memory error 5 of 5: kern.log line 4\n", "\nnote: kern.log line 1 is the event of ",
        "\n1 not read:\n  kern.log line 7: a PROCESSOR line without the CPU line of its bank\n"})
    EXPECT_NE(text.out.find(want), std::string::npos) << want << "\n" << text.out;
  // The log from standard input and from a pipe, read once.
  for (const std::string& args : {"decode - < " + log, "decode <(cat " + log + ")"}) {
    const auto piped =
        platsim_test::Shell("bash -c '" + platsim_test::Platsim() + " " + args + "' 2>/dev/null");
    EXPECT_NE(piped.out.find("2 memory errors read from 1 file\n"), std::string::npos)
        << args << "\n"
        << piped.out;
  }
  // A bad bank map names its JSON path.

  profile["mcaBanks"] = Json::parse(R"([{"bank": 17, "address": "physical"}])");
  const auto bad =
      platsim_test::Exec("--profile " + dir.Write("bad.json", profile.dump()) + " decode " + db);
  EXPECT_EQ(bad.exit, 2);
  EXPECT_NE(bad.err.find("$.mcaBanks[0].address"), std::string::npos) << bad.err;
}

}  // namespace
