// What every platsim command shares: exit codes (0 done, 1 refused, 2 usage
// or input), --version, the global options after any subcommand and in every
// help, standard input as "-", files that cannot be inputs refused before
// they are read, and output that is the same on every run.
#include "tests/platsim/platsim_run.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace {

using platsim_test::Exec;
using platsim_test::TempDir;

TEST(PlatsimConventions, ExitCodesAndMessages) {
  TempDir dir;
  const std::string big = dir.Path("big.json");
  std::filesystem::resize_file(dir.Write("big.json", "{"), 65u << 20);  // sparse
  struct Row {
    std::string args;
    int exit;
    const char* out;  // expected in standard output
    const char* err;  // expected in standard error
  };
  const Row rows[] = {
      {"--version", 0, "platsim 0.", ""},
      {"translate sys 0x723456789 --json --profile -  < /dev/null", 2, "",
       "profile error: <stdin>: not valid JSON"},
      {"translate sys 0x723456789 --json", 0, "\"systemAddress\": \"0x0000000723456789\"", ""},
      {"translate sys 0x1 --bogus", 2, "",
       "platsim: error: The following argument was not expected"},
      {"translate", 2, "", "platsim: error: A subcommand is required: sys, norm, dram"},
      {"bogus", 2, "",
       "platsim: error: 'bogus' is not a subcommand of platsim; the subcommands are profile, "
       "translate, mca, acpi, mailbox, map, decode, faults"},
      {"--json translate bogus 1", 2, "",
       "platsim: error: 'bogus' is not a subcommand of platsim translate; the subcommands are "
       "sys, norm, dram"},
      {"mca --cpu x", 2, "", "--cpu: not a number: 'x'"},
      {"--profile " + dir.path.string() + " translate sys 1", 2, "", "is a directory, not a file"},
      {"--profile /dev/zero translate sys 1", 2, "", "is a device, not a file"},
      {"--profile " + big + " translate sys 1", 2, "", "is larger than 67108864 bytes"},
      {"--profile /nonexistent.json translate sys 1", 2, "", "No such file or directory"},
      {"translate sys --input /dev/zero", 2, "", "is a device, not a file"},
      {"acpi append-bert --kind 1 --severity 1 " + dir.path.string(), 2, "", "is a directory"},
      {"translate sys --profile " +
           dir.Write("dup.json", R"({"topology": {"sockets": 1}, "topology": {}})") + " 1",
       2, "", "profile error: $.topology: the key appears twice in its object"},
      // A number beyond the range of a double: at its path, or "$" when it
      // is the whole text; the column is that of its last character.
      {"translate sys 1 --profile " + dir.Write("lone.json", "1e501r\""), 2, "",
       "profile error: $: number overflow: 1e501 is out of range (line 1, column 5)"},
      {"translate sys 1 --profile " +
           dir.Write("deep.json", "{\"topology\":\n {\"sockets\": -1e501}}"),
       2, "",
       "profile error: $.topology.sockets: number overflow: -1e501 is out of range (line 2, column "
       "19)"},
      {"translate sys 0x723456789 --help", 0, "--profile", ""},
      {"mailbox set --help", 0, "--diag", ""},
      {"acpi dump --help", 0, "--json", ""},
      {"profile new --sockets 1 --channel-size 16G --hole-base 3G", 0,
       "\"channelSize\": \"0x400000000\"", ""},
      {"profile new --channel-size 512MiB --high-channel-size 0x10000000", 0,
       "\"channelSize\": \"0x20000000\"", ""},
      {"profile new --channel-size 16Q", 2, "", "--channel-size: not a number: '16Q'"},
      {"profile new --channel-size 99999999999T", 2, "", "out of range"},
  };
  for (const Row& r : rows) {
    const auto run = Exec(r.args);
    EXPECT_EQ(run.exit, r.exit) << r.args << "\n" << run.out << run.err;
    EXPECT_NE(run.out.find(r.out), std::string::npos) << r.args << "\n" << run.out;
    EXPECT_NE(run.err.find(r.err), std::string::npos) << r.args << "\n" << run.err;
  }
}

// Every command's help ends its options with its exit codes.
TEST(PlatsimConventions, EveryCommandsHelpListsItsExitCodes) {
  for (const char* command :
       {"profile dump", "profile new", "profile dimms", "translate sys", "translate norm",
        "translate dram", "mca", "acpi append-bert", "acpi add-hest", "acpi dump", "mailbox read",
        "mailbox set", "map", "decode", "faults"}) {
    const auto run = Exec(std::string(command) + " --help");
    EXPECT_EQ(run.exit, 0) << command;
    EXPECT_NE(run.out.find("\nExit codes: 0 "), std::string::npos) << command << "\n" << run.out;
    EXPECT_NE(run.out.find(", 2 usage or input error"), std::string::npos) << command;
  }
  // Which code a list with refused and unreadable lines ends with (tested in
  // PlatsimBatch.SystemAddressesFromAFileAndFromStandardInput).
  EXPECT_NE(Exec("translate sys --help").out.find("could not be read exits with 2"),
            std::string::npos);
}

TEST(PlatsimConventions, AcpiDumpGivesTheSameBytesOnEveryRun) {
  TempDir dir;
  for (const char* out : {"a", "b"}) {
    const auto r = Exec("acpi dump --out " + dir.Path(out));
    ASSERT_EQ(r.exit, 0) << r.err;
    EXPECT_NE(r.out.find("BERT: length 48, checksum ok"), std::string::npos) << r.out;
  }
  for (const char* table : {"BERT.dat", "HEST.dat", "BERT-region.bin"})
    EXPECT_EQ(platsim_test::Slurp(dir.Path(std::string("a/") + table)),
              platsim_test::Slurp(dir.Path(std::string("b/") + table)))
        << table;
  unsigned sum = 0;  // the written BERT is still a table whose bytes sum to 0
  for (unsigned char c : platsim_test::Slurp(dir.Path("a/BERT.dat"))) sum += c;
  EXPECT_EQ(sum % 256, 0u);
}

}  // namespace
