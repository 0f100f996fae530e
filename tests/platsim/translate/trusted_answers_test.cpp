// Answers platsim must not give: each case once exited 0 with a wrong result.
// Now each ends in a clear refusal (exit code 1) that says what is wrong.
#include "tests/platsim/platsim_run.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace {

using platsim_test::Exec;
using platsim_test::TempDir;

// One node, Combined layout, no CCM; one DRAM map of six channels (code 6),
// which the fabric allows but calcSysAddr stops on in this layout.
constexpr const char* kSixChannelCombined = R"({"fabric": [
  {"node": 0, "function": 1, "offset": "0x208", "instance": "broadcast", "value": 0},
  {"node": 0, "function": 0, "offset": "0x110", "instance": "broadcast", "value": "0x61"},
  {"node": 0, "function": 0, "offset": "0x114", "instance": "broadcast", "value": "0x17000"},
  {"node": 0, "function": 0, "offset": "0x060", "instance": "broadcast", "value": "0x543210"},
  {"node": 0, "function": 0, "offset": "0x050", "instance": 0, "value": "0x000"},
  {"node": 0, "function": 0, "offset": "0x050", "instance": 1, "value": "0x100"},
  {"node": 0, "function": 0, "offset": "0x050", "instance": 2, "value": "0x200"},
  {"node": 0, "function": 0, "offset": "0x050", "instance": 3, "value": "0x300"},
  {"node": 0, "function": 0, "offset": "0x050", "instance": 4, "value": "0x400"},
  {"node": 0, "function": 0, "offset": "0x050", "instance": 5, "value": "0x500"},
  {"node": 0, "function": 0, "offset": "0x110", "instance": 0, "value": "0x61"},
  {"node": 0, "function": 0, "offset": "0x114", "instance": 0, "value": "0x17000"}
]})";

// The four-channel map of the translation tests, with registers for only
// one of its four channels (fabric id 0x13, instance 19).
constexpr const char* kOneChannelOfFour = R"({"fabric": [
  {"node": 0, "function": 1, "offset": "0x208", "instance": "broadcast", "value": 0},
  {"node": 0, "function": 0, "offset": "0x110", "instance": "broadcast", "value": "0x31"},
  {"node": 0, "function": 0, "offset": "0x114", "instance": "broadcast", "value": "0xF010"},
  {"node": 0, "function": 0, "offset": "0x50",  "instance": 19, "value": "0x1300"},
  {"node": 0, "function": 0, "offset": "0x110", "instance": 19, "value": "0x31"},
  {"node": 0, "function": 0, "offset": "0x114", "instance": 19, "value": "0xF010"}
]})";

TEST(PlatsimTrustedAnswers, RefusedWithTheReason) {
  TempDir dir;
  const std::string six = "--profile " + dir.Write("six.json", kSixChannelCombined);
  const std::string partial = "--profile " + dir.Write("partial.json", kOneChannelOfFour);
  const std::string raw = "--profile " + platsim_test::Examples() + "/raw-registers.json";
  struct Row {
    std::string args;
    const char* message;
    int exit = 1;  // refused; 2: the profile lacks the section the command needs
  };
  const std::string bare = "--profile " + dir.Write("bare.json", "{\"topology\": {}}");
  const Row rows[] = {
      // The hole from the registers the driver reads (F0x104 and holeEn of the
      // owner's map), with no topology description in the profile.
      {raw + " translate sys 0xC0000000",
       "system address 0x00000000C0000000 is in the MMIO hole [0x00000000C0000000, 4 GiB)"},
      {raw + " translate sys 0xFFFFFFFF", "is in the MMIO hole"},
      // The driver stops; the simulator does not take the stop over.
      {six + " translate sys 0x1000",
       "the driver took fatal stop 0xC0052012 in slot 1, translating its normalized address"},
      {six + " translate norm 0x1000 --channel 0",
       "could not be translated: the driver took fatal stop 0xC0052012 in slot 1 (a six-channel "
       "interleave in the Combined fabric-id layout)"},
      // Address 0x100 goes to channel 0x11 (bits 9:8 are the channel).
      {partial + " translate sys 0x100",
       "is sent by the address maps to socket 0 die 0 channel 17, but the profile sets no "
       "register of node 0 instance 17"},
      {"mailbox set MemClock 1234", "MemTuneSmm answered EFI_NOT_FOUND"},
      {"mca --cpu 2",
       "the profile's processor list has no processor 2 (section \"processors\" lists 0, 1)"},
      // One rule for a profile without the section a command needs: an input
      // error, exit 2, naming the section.
      {bare + " mca --cpu 0",
       "the profile lists no processors (section \"processors\"): there are no banks to capture",
       2},
      {bare + " acpi append-bert --kind 1 --severity 2 " + dir.Write("empty.bin", ""),
       "the profile installs no EFI_ACPI_TABLE_PROTOCOL (section \"acpi\", key \"protocols\")", 2},
      {"--profile " + dir.Write("nohest.json", R"({"acpi": {"bert": {"region": {}}}})") +
           " acpi add-hest " + dir.Path("empty.bin"),
       "the profile has no HEST table (section \"acpi\", key \"hest\")", 2},
      {bare + " acpi dump --out " + dir.Path("out"),
       "the profile has no ACPI tables (section \"acpi\", keys \"bert\" and \"hest\"): nothing "
       "written to '",
       2},
      {bare + " mailbox read", "the profile has no SMM (section \"smm\")", 2},
      {bare + " mailbox set MemClock 1234", "the profile has no SMM (section \"smm\")", 2},
  };
  for (const Row& r : rows) {
    const auto run = Exec(r.args);
    EXPECT_EQ(run.exit, r.exit) << r.args << "\n" << run.out << run.err;
    EXPECT_NE(run.err.find(r.message), std::string::npos) << r.args << "\n" << run.err;
  }
  EXPECT_FALSE(std::filesystem::exists(dir.Path("out"))) << "acpi dump wrote a directory";
  // The channel that has registers answers, through the same profile.
  EXPECT_EQ(Exec(partial + " translate sys 0x300").exit, 0);
}

}  // namespace
