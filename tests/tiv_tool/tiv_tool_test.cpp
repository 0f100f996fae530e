// TivTool's commands on the host: the same core as TivTool.efi, run against
// AddrTranslateDxe on the simulated platform through a ToolIo of the test.
// What it prints is compared with what platsim prints for the same question
// (translate sys/norm on the same profile; decode of the snapshot file the
// tool wrote), since the two must give the same lines. `mca` is tested here
// and not in OVMF: QEMU has none of the platform's machine-check banks.
#include "apps/tiv_tool/core/commands.h"
#include "harness/addr_translate_driver.h"
#include "pi/acpi_tables.h"
#include "sim/mca/mca_banks.h"
#include "sim/profile/profile.h"
#include "tests/platsim/platsim_run.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <cstdlib>
#include <cstring>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

namespace {

using platsim_test::ExecJoined;
using platsim_test::TempDir;

// The tool's surroundings: lines kept, files written into a folder, physical
// addresses are host pointers.
class HostIo final : public tivtool::ToolIo {
 public:
  std::vector<std::string> lines;
  TranslationProtocol* protocol = nullptr;
  const void* rsdp = nullptr;
  std::map<std::string, std::string> files;
  EFI_STATUS writeStatus = EFI_SUCCESS;
  EFI_SYSTEM_TABLE* systemTable = nullptr;

  EFI_SYSTEM_TABLE* SystemTable() override { return systemTable; }
  void Print(const char* line) override { lines.emplace_back(line); }
  TranslationProtocol* Translation() override { return protocol; }
  const void* AcpiRsdp() override { return rsdp; }
  const void* Physical(uint64_t address, uint64_t) override {
    return reinterpret_cast<const void*>(address);
  }
  void* Allocate(size_t bytes) override { return std::malloc(bytes); }
  void Free(void* memory) override { std::free(memory); }
  EFI_STATUS WriteFile(const char* path, const void* data, size_t size) override {
    if (writeStatus == EFI_SUCCESS) files[path] = std::string(static_cast<const char*>(data), size);
    return writeStatus;
  }
};

EFI_STATUS RunTool(HostIo& io, const std::vector<std::string>& words) {
  std::vector<const char*> argv{"TivTool.efi"};
  for (const auto& w : words) argv.push_back(w.c_str());
  return tivtool::Run(io, static_cast<unsigned>(argv.size()), argv.data());
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> out;
  std::istringstream in(text);
  for (std::string l; std::getline(in, l);) out.push_back(l);
  return out;
}

// platsim's lines as the board shows them: the owner's and the channel's
// register-derived parenthesis dropped (the board does not read the fabric),
// the program's name in its error line, no line about the platform.
std::vector<std::string> AsOnTheBoard(const std::string& platsimOutput) {
  std::vector<std::string> out;
  for (std::string l : Lines(platsimOutput)) {
    if (l.rfind("platform: ", 0) == 0 || l.rfind("platsim: note: ", 0) == 0) continue;
    const std::string label = l.substr(l.find_first_not_of(' '));
    if (label.rfind("owner ", 0) == 0 || label.rfind("channel ", 0) == 0)
      l = l.substr(0, l.rfind(" ("));
    if (l.rfind("platsim: ", 0) == 0) l = "TivTool: " + l.substr(9);
    out.push_back(l);
  }
  return out;
}

std::string Joined(const std::vector<std::string>& lines) {
  std::string s;
  for (const auto& l : lines) s += l + "\n";
  return s;
}

// AddrTranslateDxe started on a platform loaded from a profile (the built-in
// one when none is named), as platsim starts it.
struct Board {
  sim::Platform platform;
  std::optional<sim::AddrTranslateDriver> driver;
  explicit Board(const std::string& profile, void (*adjust)(sim::Platform&) = nullptr) {
    if (profile.empty())
      sim::profile::Load(sim::profile::Default(), platform);
    else
      sim::profile::LoadFile(profile, platform);
    if (adjust) adjust(platform);
    driver.emplace(platform);
  }
};

std::string QemuProfile() {
  return std::string(TIV_SOURCE_DIR) + "/tests/firmware/topology_double_profile.json";
}

struct TranslateCase {
  const char* name;
  bool qemu;  // the topology double's table without a fabric, or the built-in platform
  std::vector<std::string> words;
  const char* platsimArgs;
  EFI_STATUS status;
};

TEST(TivToolTranslate, LinesAreThoseOfPlatsim) {
  const TranslateCase cases[] = {
      {"sys, owned by socket 0 die 1 channel 2",
       false,
       {"translate", "sys", "0x723456789"},
       "translate sys 0x723456789",
       EFI_SUCCESS},
      {"sys below the hole",
       false,
       {"translate", "sys", "0x12345678"},
       "translate sys 0x12345678",
       EFI_SUCCESS},
      {"sys on the other socket, a channel with no table slot",
       false,
       {"translate", "sys", "0xC40004000"},
       "translate sys 0xC40004000",
       EFI_SUCCESS},
      {"sys beyond every DRAM map",
       false,
       {"translate", "sys", "0xFFFFFFFFFFFF"},
       "translate sys 0xFFFFFFFFFFFF",
       EFI_INVALID_PARAMETER},
      {"sys without a data fabric",
       true,
       {"translate", "sys", "305419896"},
       "translate sys 305419896",
       EFI_INVALID_PARAMETER},
      {"norm, decimal ids",
       false,
       {"translate", "norm", "0xB8D15B89", "0", "1", "2"},
       "translate norm 0xB8D15B89 --socket 0 --die 1 --channel 2",
       EFI_SUCCESS},
      {"norm of a channel without table slot",
       false,
       {"translate", "norm", "0x1000", "1", "1", "3"},
       "translate norm 0x1000 --socket 1 --die 1 --channel 3",
       EFI_SUCCESS},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Board board(c.qemu ? QemuProfile() : "");
    ASSERT_NE(board.driver->Protocol(), nullptr);
    HostIo io;
    io.protocol = board.driver->Protocol();
    EXPECT_EQ(RunTool(io, c.words), c.status);
    const std::string profile = c.qemu ? "--profile " + QemuProfile() + " " : "";
    const auto desk = ExecJoined(profile + c.platsimArgs);
    EXPECT_EQ(desk.exit, c.status == EFI_SUCCESS ? 0 : 1) << desk.out;
    EXPECT_EQ(Joined(io.lines), Joined(AsOnTheBoard(desk.out)));
  }
}

// Slot 1 without a data fabric: the coordinates of the topology double's
// table (worked out in tests/firmware/probe/probe_translation_checks.c), then
// the refusal; platsim does not reach slot 1 there (its channel check needs
// the fabric), so the lines are written out.
TEST(TivToolTranslate, NormWithoutFabricGivesCoordinatesAndNoSystemAddress) {
  Board board(QemuProfile());
  HostIo io;
  io.protocol = board.driver->Protocol();
  EXPECT_EQ(RunTool(io, {"translate", "norm", "0x692345670", "0", "0", "0"}),
            EFI_INVALID_PARAMETER);
  EXPECT_EQ(Joined(io.lines),
            "normalized address  0x0000000692345670\n"
            "channel             socket 0, die 0, channel 0\n"
            "DRAM                chip select 1, bank 3, row 0xA48D, column 0x2CE, rank "
            "multiplier 0\n"
            "TivTool: error: normalized address 0x0000000692345670 of socket 0 die 0 channel 0 "
            "has no system address: slot 1 refuses it (status 0x8000000000000002)\n");
}

// Bank 3 of processor 0 logs `status` (the built-in platform's processor 0
// has four banks; bank 3 logs nothing there).
uint64_t gLoggedStatus = 0;
uint64_t gLoggedAddress = 0;
void LogOnBank3(sim::Platform& p) {
  sim::mca::SetBankRegister(p, 0, 3, 1, gLoggedStatus);
  sim::mca::SetBankRegister(p, 0, 3, 2, gLoggedAddress);
  sim::mca::SetBankRegister(p, 0, 3, 5, 0x000000B000000000ULL);
  sim::mca::SetBankRegister(p, 0, 3, 0xA, 0xD0000000);
}

// The snapshot shown by the board is what platsim decode shows of the file
// the board wrote, the translation of a logged address included (the board
// translates it through its own slot 2, decode on the same built-in
// platform); the file is the JSON platsim mca --json writes for the same
// processor.
TEST(TivToolMca, SnapshotLinesAndFileAreThoseOfPlatsim) {
  struct Case {
    const char* name;
    uint64_t status;  // of bank 3; 0: as the built-in platform has it
    uint64_t address = 0x12345000;
  };
  const Case cases[] = {
      {"built-in banks", 0},
      {"memory controller, read, channel 5", 0x9C00000000000095ULL},
      {"an address that is not DRAM", 0x8400000000000095ULL, 0xFFFFFFFFFFFFULL},
      {"bus error, timed out, I/O", 0xB400000000000F09ULL},
      {"TLB, filtered", 0x8800000000001016ULL},
      {"generic cache, no address", 0x800000000000000EULL},
      {"internal unclassified, overflow", 0xC000000000000432ULL},
      {"model-specific code", 0x8000000012340001ULL | 0x8000ULL},
  };
  TempDir dir;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    gLoggedStatus = c.status;
    gLoggedAddress = c.address;
    Board board("", c.status ? LogOnBank3 : nullptr);
    HostIo io;
    io.protocol = board.driver->Protocol();
    ASSERT_EQ(RunTool(io, {"mca", "--out", "fs0:\\snap.json", "0"}), EFI_SUCCESS);
    ASSERT_EQ(io.files.count("fs0:\\snap.json"), 1u);
    ASSERT_EQ(io.lines.back(), "wrote fs0:\\snap.json (" +
                                   std::to_string(io.files["fs0:\\snap.json"].size()) +
                                   " bytes: the snapshot, for platsim decode)");
    io.lines.pop_back();
    const std::string file = dir.Write("snap.json", io.files["fs0:\\snap.json"]);
    const auto desk = ExecJoined("decode " + file);
    // The platform decode names is the profile's; the board's is itself.
    std::vector<std::string> want;
    for (std::string l : AsOnTheBoard(desk.out)) {
      if (l.rfind("  translated ", 0) == 0)
        l = "  translated          on this machine, through slot 2";
      want.push_back(l);
    }
    EXPECT_EQ(Joined(io.lines), Joined(want));
    EXPECT_NE(io.lines.size(), 0u);
    if (c.status == 0) {
      const auto own = platsim_test::Exec("mca --cpu 0 --json");
      ASSERT_EQ(own.exit, 0) << own.err;
      EXPECT_EQ(nlohmann::json::parse(io.files["fs0:\\snap.json"]), nlohmann::json::parse(own.out));
    }
  }
}

// ---- failures: one line each, and the status ---------------------------------

struct FailureCase {
  const char* name;
  std::vector<std::string> words;
  bool protocol;
  EFI_STATUS writeStatus;
  const char* line;  // the last line printed
  EFI_STATUS status;
};

TEST(TivToolFailures, OneLineAndTheStatus) {
  const FailureCase cases[] = {
      {"unknown subcommand",
       {"frob"},
       true,
       EFI_SUCCESS,
       "TivTool: error: 'frob' is not a subcommand; the subcommands are translate, mca, bert, "
       "capture, help",
       EFI_INVALID_PARAMETER},
      {"no subcommand",
       {},
       true,
       EFI_SUCCESS,
       "TivTool: error: a subcommand is required",
       EFI_INVALID_PARAMETER},
      {"unknown direction",
       {"translate", "dram"},
       true,
       EFI_SUCCESS,
       "TivTool: error: 'dram' is not a subcommand of translate; the subcommands are sys, norm",
       EFI_INVALID_PARAMETER},
      {"bad number",
       {"translate", "sys", "0x12G"},
       true,
       EFI_SUCCESS,
       "TivTool: error: system address: '0x12G' is not a number (decimal, or hex after 0x)",
       EFI_INVALID_PARAMETER},
      {"number beyond 64 bits",
       {"translate", "sys", "18446744073709551616"},
       true,
       EFI_SUCCESS,
       "TivTool: error: system address: '18446744073709551616' is not a number (decimal, or hex "
       "after 0x)",
       EFI_INVALID_PARAMETER},
      {"socket id beyond 8 bits",
       {"translate", "norm", "0", "256", "0", "0"},
       true,
       EFI_SUCCESS,
       "TivTool: error: socket: 256 is more than the id holds (at most 255)",
       EFI_INVALID_PARAMETER},
      {"norm without its channel",
       {"translate", "norm", "0", "0", "0"},
       true,
       EFI_SUCCESS,
       "TivTool: error: expected translate norm ADDR SOCKET DIE CHANNEL (TivTool help lists the "
       "subcommands)",
       EFI_INVALID_PARAMETER},
      {"no protocol",
       {"translate", "sys", "0x1000"},
       false,
       EFI_SUCCESS,
       "TivTool: error: TranslationProtocol is not installed: AddrTranslateDxe has not started",
       EFI_NOT_FOUND},
      {"no protocol for mca",
       {"mca", "0"},
       false,
       EFI_SUCCESS,
       "TivTool: error: TranslationProtocol is not installed: AddrTranslateDxe has not started",
       EFI_NOT_FOUND},
      {"absent processor",
       {"mca", "9"},
       true,
       EFI_SUCCESS,
       "TivTool: error: processor 9 is not in the platform's processor list (CaptureMcaBanks: "
       "EFI_INVALID_PARAMETER)",
       EFI_INVALID_PARAMETER},
      {"--out without a file",
       {"mca", "0", "--out"},
       true,
       EFI_SUCCESS,
       "TivTool: error: expected mca CPU [--out FILE] (TivTool help lists the subcommands)",
       EFI_INVALID_PARAMETER},
      {"file that cannot be written",
       {"mca", "1", "--out", "fs0:\\ro\\m.json"},
       true,
       EFI_WRITE_PROTECTED,
       "TivTool: error: cannot write fs0:\\ro\\m.json: EFI_WRITE_PROTECTED",
       EFI_WRITE_PROTECTED},
      {"bert without tables",
       {"bert", "fs0:\\"},
       true,
       EFI_SUCCESS,
       "TivTool: error: the configuration table has no ACPI 2.0 RSDP",
       EFI_NOT_FOUND},
  };
  Board board("");
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    HostIo io;
    io.protocol = c.protocol ? board.driver->Protocol() : nullptr;
    io.writeStatus = c.writeStatus;
    EXPECT_EQ(RunTool(io, c.words), c.status);
    ASSERT_FALSE(io.lines.empty());
    EXPECT_EQ(io.lines.back(), c.line);
    EXPECT_TRUE(io.files.empty());
  }
}

// ---- bert --------------------------------------------------------------------

// An RSDP (revision 2) whose XSDT lists a HEST-signed table first and the
// BERT second; the BERT's region lies in host memory.
struct AcpiImage {
  uint8_t rsdp[36] = {'R', 'S', 'D', ' ', 'P', 'T', 'R', ' '};
  uint8_t xsdt[36 + 16] = {'X', 'S', 'D', 'T'};
  uint8_t other[36] = {'H', 'E', 'S', 'T', 36};
  AcpiBert bert{};
  uint8_t region[40];

  AcpiImage() {
    rsdp[15] = 2;
    Put64(rsdp + 24, reinterpret_cast<uintptr_t>(xsdt));
    xsdt[4] = sizeof xsdt;
    Put64(xsdt + 36, reinterpret_cast<uintptr_t>(other));
    Put64(xsdt + 44, reinterpret_cast<uintptr_t>(&bert));
    bert.Header.Signature = kBertSignature;
    bert.Header.Length = sizeof bert;
    bert.BootErrorRegionLength = sizeof region;
    bert.BootErrorRegion = reinterpret_cast<uintptr_t>(region);
    for (unsigned i = 0; i < sizeof region; ++i) region[i] = static_cast<uint8_t>(i * 7);
  }
  static void Put64(uint8_t* p, uint64_t v) { std::memcpy(p, &v, 8); }
};

TEST(TivToolBert, WritesTheTableAndItsRegionIntoTheFolder) {
  struct Case {
    const char* dir;
    const char* table;
    const char* region;
  };
  const Case cases[] = {{"fs0:\\", "fs0:\\bert.dat", "fs0:\\bert-region.bin"},
                        {"fs0:", "fs0:bert.dat", "fs0:bert-region.bin"},
                        {"logs", "logs\\bert.dat", "logs\\bert-region.bin"}};
  AcpiImage acpi;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.dir);
    HostIo io;
    io.rsdp = acpi.rsdp;
    ASSERT_EQ(RunTool(io, {"bert", c.dir}), EFI_SUCCESS);
    EXPECT_EQ(io.files[c.table],
              std::string(reinterpret_cast<const char*>(&acpi.bert), sizeof acpi.bert));
    EXPECT_EQ(io.files[c.region],
              std::string(reinterpret_cast<const char*>(acpi.region), sizeof acpi.region));
  }
  // Without a BERT in the XSDT.
  acpi.bert.Header.Signature = kHestSignature;
  HostIo io;
  io.rsdp = acpi.rsdp;
  EXPECT_EQ(RunTool(io, {"bert", "fs0:\\"}), EFI_NOT_FOUND);
  EXPECT_EQ(io.lines.back(), "TivTool: error: no BERT among the ACPI tables");
}

TEST(TivToolHelp, ListsEverySubcommandOfTheTable) {
  for (const char* h : {"-h", "help", "--help"}) {
    HostIo io;
    ASSERT_EQ(RunTool(io, {h}), EFI_SUCCESS);
    unsigned count = 0;
    const tivtool::Command* commands = tivtool::Commands(&count);
    for (unsigned i = 0; i < count; ++i)
      for (const auto& u : commands[i].usage) {
        if (u.synopsis == nullptr) continue;
        bool listed = false;
        for (const auto& l : io.lines)
          listed = listed || l.rfind("  " + std::string(u.synopsis) + " ", 0) == 0;
        EXPECT_TRUE(listed) << u.synopsis;
      }
  }
}

// capture FILE on the board writes what platsim capture --simulate writes for
// the same platform: the same registers, channel table and processors (the
// "captured" sections differ: tool, source, time).
TEST(TivToolCapture, ProfileIsPlatsimsSimulatedCapture) {
  const std::string profiles[] = {"", std::string(TIV_SOURCE_DIR) + "/examples/raw-registers.json"};
  for (const std::string& profile : profiles) {
    SCOPED_TRACE(profile);
    Board board(profile);
    HostIo io;
    io.systemTable = board.platform.SystemTable();
    ASSERT_EQ(RunTool(io, {"capture", "fs0:\\p.json"}), EFI_SUCCESS);
    ASSERT_EQ(io.files.count("fs0:\\p.json"), 1u);
    ASSERT_FALSE(io.lines.empty());
    EXPECT_EQ(io.lines[0].rfind("captured ", 0), 0u) << io.lines[0];
    TempDir dir;
    const auto r = ExecJoined("capture --simulate " + (profile.empty() ? "-" : profile) + " -o " +
                              dir.Path("sim.json"));
    ASSERT_EQ(r.exit, 0) << r.out;
    auto board_json = nlohmann::ordered_json::parse(io.files["fs0:\\p.json"]);
    auto desk_json = nlohmann::ordered_json::parse(platsim_test::Slurp(dir.Path("sim.json")));
    EXPECT_EQ(board_json["captured"]["source"], "uefi-shell");
    EXPECT_EQ(board_json["captured"]["firmwareVendor"], "tivfw simulator");
    board_json.erase("captured");
    desk_json.erase("captured");
    EXPECT_TRUE(board_json == desk_json);
  }
}

}  // namespace
