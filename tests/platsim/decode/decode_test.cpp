// platsim decode as the user runs it, on what the driver and platsim itself
// write: regions after the driver's appends, `acpi dump` tables, `mca --json`
// snapshots; damaged files; usage errors.
#include "addr_translate/errors/error_slots.h"
#include "diag/boot_services_table.h"
#include "tests/platsim/records/record_bytes.h"
#include "sim/acpi/acpi_tables.h"
#include "sim/platform/platform.h"
#include "tests/platsim/platsim_run.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace {

namespace fs = std::filesystem;
using Json = nlohmann::ordered_json;
using record_bytes::Bytes;

using ToolRun = platsim_test::Run;

// platsim with standard error joined to the output, or dropped (`quiet`) where
// the output is parsed as JSON.
ToolRun Platsim(const std::string& args, bool quiet = false) {
  return quiet ? platsim_test::Shell(platsim_test::Platsim() + " " + args + " 2>/dev/null")
               : platsim_test::ExecJoined(args);
}

class PlatsimDecode : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/tiv_decode_XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    dir_ = tmpl;
  }
  void TearDown() override { fs::remove_all(dir_); }
  std::string Write(const std::string& name, const Bytes& bytes) {
    const fs::path p = dir_ / name;
    std::ofstream(p, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
    return p.string();
  }
  fs::path dir_;
};

Bytes MemoryEntry(uint64_t address) {
  record_bytes::Memory m;
  m.address = address;
  return record_bytes::Entry(record_bytes::kMemoryGuid, m.Build());
}

// Slot 3 twice, as the firmware test does: raw data (corrected), then a
// memory error entry (fatal), on a BERT whose region is an empty block.
Bytes RegionAfterTwoAppends(uint64_t address) {
  sim::Platform p;
  diag::gBS = p.BootServices();
  sim::acpi::InstallProtocols(p);
  sim::acpi::InstallBert(p, sim::acpi::EmptyErrorStatusBlock());
  const Bytes raw = {0xDE, 0xAD, 0xBE, 0xEF, 1, 2, 3, 4};
  const Bytes entry = MemoryEntry(address);
  EXPECT_EQ(atd::AppendBertRecord(raw.data(), 8, 1, 2), EFI_SUCCESS);
  EXPECT_EQ(atd::AppendBertRecord(entry.data(), static_cast<UINT32>(entry.size()), 2, 1),
            EFI_SUCCESS);
  diag::gBS = nullptr;
  return sim::acpi::BootErrorRegion(p);
}

TEST_F(PlatsimDecode, DriverRegionAddressesTranslateAsTranslateSys) {
  const uint64_t address = 0x723456789;
  const std::string region = Write("region.bin", RegionAfterTwoAppends(address));
  const ToolRun r = Platsim("--json decode " + region, true);
  ASSERT_EQ(r.exit, 0) << r.out;
  const Json j = Json::parse(r.out);
  EXPECT_TRUE(j["damage"].empty());
  const Json& block = j["region"]["blocks"][0];
  EXPECT_EQ(block["errorSeverity"], 1);
  EXPECT_EQ(block["rawData"], "de ad be ef 01 02 03 04");
  const Json& mem = block["entries"][0]["memoryError"];
  EXPECT_EQ(mem["physicalAddress"], "0x0000000723456789");
  const ToolRun sys = Platsim("--json translate sys 0x723456789", true);
  ASSERT_EQ(sys.exit, 0) << sys.out;
  // The platform is named once for the whole record, not in each translation.
  Json answer = Json::parse(sys.out);
  answer.erase("platform");
  EXPECT_EQ(mem["translation"], answer);

  // Standard input, and text whose translation lines are translate sys's own.
  const ToolRun text = Platsim("decode - < " + region);
  EXPECT_EQ(text.exit, 0) << text.out;
  std::istringstream lines(Platsim("translate sys 0x723456789").out);
  for (std::string line; std::getline(lines, line);)
    if (line.rfind("platform: ", 0) != 0) {
      EXPECT_NE(text.out.find("      " + line + "\n"), std::string::npos) << line << "\n"
                                                                          << text.out;
    }
}

// Where the record's own coordinates and the translation's part, both are
// shown; every translation says which platform it was made on, and without
// a profile standard error says it once. A reserved block severity is only
// a note: exit 0.
TEST_F(PlatsimDecode, PlatformBehindEachTranslationAndTheRecordsOwnPlace) {
  // 0x723456789 on the built-in platform: node 1, bank 14, row 7272, column 689.
  record_bytes::Memory same;
  same.valid = 1 << 1 | 1 << 3 | 1 << 6 | 1 << 8 | 1 << 9;
  same.address = 0x723456789, same.node = 1, same.bank = 14, same.row = 7272, same.column = 689;
  record_bytes::Memory other = same;
  other.bank = 3;
  const std::string region =
      Write("region.bin",
            record_bytes::Block(
                0x1 | 2 << 4,
                record_bytes::Cat({record_bytes::Entry(record_bytes::kMemoryGuid, same.Build()),
                                   record_bytes::Entry(record_bytes::kMemoryGuid, other.Build())}),
                {}, 5));
  const std::string builtIn =
      "on the built-in example platform (not the machine that logged this record; give --profile)";
  const std::string profile = platsim_test::Examples() + "/one-socket-eight-channels.json";
  const std::string mismatchNote =
      "note: data entry at 0xAC: the record's own bank differs from the translation: the profile "
      "may not describe the machine that logged the record\n";
  const auto count = [](const std::string& text, const std::string& what) {
    size_t n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
  };

  const ToolRun text = platsim_test::Exec("decode " + region);
  EXPECT_EQ(text.exit, 0) << text.out << text.err;
  EXPECT_EQ(count(text.out, "    translated          " + builtIn + "\n"), 2u) << text.out;
  EXPECT_EQ(text.err, "platsim: note: addresses are translated " + builtIn + "\n");
  EXPECT_EQ(count(text.out, "    mismatch            bank: record 3, translation 14\n"), 1u)
      << text.out;
  EXPECT_NE(text.out.find(mismatchNote), std::string::npos) << text.out;
  EXPECT_NE(text.out.find("note: status block at 0x0: Error Severity 5 is reserved"),
            std::string::npos);

  const ToolRun json = platsim_test::Exec("--json decode " + region);
  ASSERT_EQ(json.exit, 0) << json.out;
  const Json j = Json::parse(json.out);
  EXPECT_EQ(j["platform"], Json({{"profile", "built-in"},
                                 {"text", builtIn},
                                 {"description", "the built-in example platform"}}));
  const Json& entries = j["region"]["blocks"][0]["entries"];
  EXPECT_FALSE(entries[0]["memoryError"].contains("mismatch"));
  EXPECT_EQ(entries[1]["memoryError"]["mismatch"],
            Json::parse(R"([{"field": "bank", "record": 3, "translation": 14}])"));

  const ToolRun given = platsim_test::Exec("--profile " + profile + " decode " + region);
  EXPECT_EQ(given.err, "");
  EXPECT_NE(given.out.find("    translated          on the platform of profile " + profile + "\n"),
            std::string::npos)
      << given.out;
  const ToolRun givenJson = platsim_test::Exec("--json --profile " + profile + " decode " + region);
  EXPECT_EQ(Json::parse(givenJson.out)["platform"]["profile"], profile);

  // The README's example region decodes whole.
  const ToolRun example =
      platsim_test::Exec("decode " + platsim_test::Examples() + "/boot-error-region.bin");
  EXPECT_EQ(example.exit, 0) << example.out;
  EXPECT_NE(example.out.find("    mismatch            bank: record 3, translation 14\n"),
            std::string::npos);
}

TEST_F(PlatsimDecode, TablesThatAcpiDumpWritesAndMcaSnapshots) {
  const std::string entry = Write("entry.bin", MemoryEntry(0x76543210));
  const std::string out = (dir_ / "out").string();
  ASSERT_EQ(Platsim("acpi append-bert --kind 2 --severity 2 " + entry + " --dump " + out).exit, 0);
  const ToolRun bert =
      Platsim("--json decode " + out + "/BERT.dat --region " + out + "/BERT-region.bin", true);
  ASSERT_EQ(bert.exit, 0) << bert.out;
  const Json b = Json::parse(bert.out);
  EXPECT_EQ(b["bert"]["checksumOk"], true);
  EXPECT_EQ(b["bert"]["region"]["blocks"][0]["entries"][0]["memoryError"]["translation"]["channel"],
            1);
  const ToolRun hest = Platsim("decode " + out + "/HEST.dat");
  EXPECT_EQ(hest.exit, 0) << hest.out;
  EXPECT_NE(hest.out.find("error sources       0\n"), std::string::npos) << hest.out;
  EXPECT_EQ(Platsim("decode " + out + "/BERT.dat").exit, 0);

  const std::string snapshot = (dir_ / "mca.json").string();
  ASSERT_EQ(Platsim("--json mca --cpu 1 > " + snapshot, true).exit, 0);
  const ToolRun mca = Platsim("decode " + snapshot);
  EXPECT_EQ(mca.exit, 0) << mca.out;
  EXPECT_NE(mca.out.find("bank 1              status 0xB600000000080135: VAL UC EN ADDRV PCC\n"
                         "  error code          0x0135: cache hierarchy error, data read, data, "
                         "level 1\n"),
            std::string::npos)
      << mca.out;
  EXPECT_NE(mca.out.find("  address (msr2)      0x0000000076543210\n"), std::string::npos);
}

TEST_F(PlatsimDecode, DamagedRecordsExitOneUsageErrorsTwo) {
  const Bytes region = RegionAfterTwoAppends(0x1000);
  const std::string cut = Write("cut.bin", Bytes(region.begin(), region.begin() + 100));
  Bytes table = record_bytes::Table("BERT", {180, 0, 0, 0, 0, 0, 0, 0x7F, 0, 0, 0, 0});
  table[9] ^= 0xFF;
  const std::string bert = Write("bert.dat", table);
  const struct {
    std::string args;
    int code;
    std::string says;
  } cases[] = {
      {"decode " + cut, 1,
       "damaged: region offset 0xC, Data Length: expected at most 80 (the region's bytes after "
       "the block), found 152\n"},
      {"decode " + bert + " --region " + cut, 1,
       "damaged: table offset 0x24, Boot Error Region Length: expected at most 100"},
      {"decode " + bert, 1, "damaged: table offset 0x9, Checksum: expected 0x"},
      {"decode " + cut + " --kind nope", 2,
       "platsim: error: --kind: expected auto, region, bert, hest or mca, found 'nope'\n"},
      {"decode " + cut + " --region " + cut, 2,
       "platsim: error: --region goes with a BERT table, and '" + cut +
           "' holds a boot error region\n"},
      {"decode " + dir_.string(), 2, "is a directory, not a file\n"},
      {"decode /dev/zero", 2, "is a device, not a file\n"},
      {"decode " + (dir_ / "missing").string(), 2, "No such file or directory\n"},
  };
  for (const auto& c : cases) {
    const ToolRun r = Platsim(c.args);
    EXPECT_EQ(r.exit, c.code) << c.args << "\n" << r.out;
    EXPECT_NE(r.out.find(c.says), std::string::npos) << c.args << "\n" << r.out;
  }
}

}  // namespace

// One error source structure of each type the walk knows, appended by
// platsim acpi; acpica's iasl disassembles the table on its own, and its
// subtable offsets are the ones the decoder and the acpi summary must find.
TEST_F(PlatsimDecode, HestWalkAgreesWithAcpica) {
  const struct {
    uint16_t type;
    size_t length, banksAt;
  } kinds[] = {{0, 40, 32}, {1, 48, 44}, {2, 20, 0},  {6, 48, 0},  {7, 44, 0},
               {8, 56, 0},  {9, 64, 0},  {10, 92, 0}, {11, 48, 44}};
  Bytes sources;
  for (const auto& k : kinds) {
    Bytes s(k.length + (k.banksAt ? 28 : 0), 0);
    record_bytes::Put(s, 0, k.type, 2);
    record_bytes::Put(s, 2, k.type + 100, 2);
    if (k.banksAt) s[k.banksAt] = 1;
    sources.insert(sources.end(), s.begin(), s.end());
  }
  const std::string out = (dir_ / "hest").string();
  const ToolRun add =
      Platsim("acpi add-hest " + Write("sources.bin", sources) + " --count 9 --dump " + out);
  ASSERT_EQ(add.exit, 0) << add.out;
  EXPECT_NE(add.out.find("structures by type: 0 1 2 6 7 8 9 10 11\n"), std::string::npos)
      << add.out;

  ASSERT_EQ(std::system(("cd " + out + " && iasl -d HEST.dat >/dev/null 2>&1").c_str()), 0);
  std::ifstream dsl(out + "/HEST.dsl");
  std::vector<unsigned> acpica;
  for (std::string line; std::getline(dsl, line);)
    if (line.find("Subtable Type :") != std::string::npos)
      acpica.push_back(static_cast<unsigned>(std::stoul(line.substr(1, 3), nullptr, 16)));
  const ToolRun decoded = Platsim("--json decode " + out + "/HEST.dat", true);
  ASSERT_EQ(decoded.exit, 0) << decoded.out;
  const Json j = Json::parse(decoded.out);
  std::vector<unsigned> ours;
  for (const auto& s : j["hest"]["sources"]) ours.push_back(s["offset"]);
  EXPECT_EQ(ours, acpica);
  EXPECT_EQ(ours.size(), 9u);
}
