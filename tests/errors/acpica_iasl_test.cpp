// The tables the appends leave behind, disassembled by acpica's iasl: they
// must read back without errors or checksum complaints. These tests run the
// external tool; the suite names start with "AcpicaIasl".
#include "acpi_fixture.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace {

using namespace errors_test;
namespace fs = std::filesystem;

struct Disassembly {
  int exitCode = -1;
  std::string output;  // what iasl printed
  std::string dsl;     // the disassembled table
};

class AcpicaIasl : public AcpiPlatform {
 protected:
  AcpicaIasl() {
    char tmpl[] = "/tmp/tiv_iasl_XXXXXX";
    const char* d = mkdtemp(tmpl);
    if (d != nullptr) dir = d;
  }
  ~AcpicaIasl() override {
    if (!dir.empty()) fs::remove_all(dir);
  }

  Disassembly Disassemble(const std::string& name, const Bytes& table) {
    Disassembly r;
    const fs::path file = dir / (name + ".dat");
    {
      std::ofstream out(file, std::ios::binary);
      out.write(reinterpret_cast<const char*>(table.data()),
                static_cast<std::streamsize>(table.size()));
    }
    const std::string cmd = "cd '" + dir.string() + "' && iasl -d " + name + ".dat 2>&1";
    FILE* pipe = popen(cmd.c_str(), "r");
    if (pipe == nullptr) return r;
    char buf[512];
    while (fgets(buf, sizeof buf, pipe) != nullptr) r.output += buf;
    const int status = pclose(pipe);
    r.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    std::ifstream dsl(dir / (name + ".dsl"));
    std::stringstream ss;
    ss << dsl.rdbuf();
    r.dsl = ss.str();
    return r;
  }

  // No error, no warning, no checksum remark, and a disassembly written.
  static ::testing::AssertionResult Clean(const Disassembly& d) {
    if (d.exitCode != 0)
      return ::testing::AssertionFailure() << "iasl exit " << d.exitCode << "\n" << d.output;
    for (const char* bad : {"Error", "Warning", "checksum", "Checksum"}) {
      if (d.output.find(bad) != std::string::npos ||
          d.dsl.find(std::string("**** ") + bad) != std::string::npos)
        return ::testing::AssertionFailure() << "iasl reports '" << bad << "':\n"
                                             << d.output << d.dsl;
    }
    if (d.dsl.find("Incorrect checksum") != std::string::npos)
      return ::testing::AssertionFailure() << "checksum remark in the disassembly\n" << d.dsl;
    if (d.dsl.empty()) return ::testing::AssertionFailure() << "no disassembly\n" << d.output;
    return ::testing::AssertionSuccess();
  }

  fs::path dir;
};

TEST_F(AcpicaIasl, ToolIsThereAndNoticesABadChecksum) {
  ASSERT_FALSE(dir.empty());
  ASSERT_EQ(std::system("iasl -v >/dev/null 2>&1"), 0) << "acpica-tools (iasl) is not installed";
  sim::acpi::InstallHest(P(), 0, {});
  Bytes hest = Hest();
  ASSERT_TRUE(Clean(Disassemble("good", hest)));
  hest[9] ^= 0x55;
  EXPECT_FALSE(Clean(Disassemble("bad", hest)));
}

TEST_F(AcpicaIasl, BertAfterRawAndDataEntryAppends) {
  sim::acpi::InstallBert(P(), sim::acpi::EmptyErrorStatusBlock());
  const Bytes entry = MemoryErrorEntry(0x00000004DEADBEC0ULL, kSeverityCorrected);
  const Bytes raw = Pattern(24, 0x80);
  ASSERT_EQ(atd::AppendBertRecord(raw.data(), 24, 1, kSeverityCorrected), EFI_SUCCESS);
  ASSERT_EQ(atd::AppendBertRecord(entry.data(), static_cast<uint32_t>(entry.size()), 2,
                                  kSeverityCorrected),
            EFI_SUCCESS);

  const Disassembly d = Disassemble("bert", Bert());
  ASSERT_TRUE(Clean(d));
  EXPECT_NE(d.dsl.find("Signature : \"BERT\""), std::string::npos) << d.dsl;
  std::ostringstream len;
  len << "Boot Error Region Length : " << std::uppercase << std::hex;
  len.width(8);
  len.fill('0');
  len << (20 + 24 + entry.size());
  EXPECT_NE(d.dsl.find(len.str()), std::string::npos) << len.str() << "\n" << d.dsl;

  // This acpica release decodes the BERT's own fields only, not the region it
  // points to; the region is checked here: the entry sits behind the status
  // block with its section type, the raw data behind the entry.
  const Bytes region = Region();
  const GenericErrorStatusBlock b = ReadBlock(region);
  EXPECT_EQ(b.BlockStatus, 0x2Au);  // correctable valid, multiple correctable, 2 entries
  EXPECT_EQ(b.DataLength, entry.size());
  EXPECT_EQ(b.RawDataOffset, 20 + entry.size());
  EXPECT_EQ(b.RawDataLength, 24u);
  EXPECT_EQ(Bytes(region.begin() + 20, region.begin() + 36),
            Bytes(kPlatformMemoryErrorGuid, kPlatformMemoryErrorGuid + 16));
  EXPECT_EQ(Bytes(region.begin() + 20, region.begin() + 20 + entry.size()), entry);
  EXPECT_EQ(Bytes(region.begin() + 20 + entry.size(), region.end()), raw);
}

TEST_F(AcpicaIasl, HestAfterAppendsShowsEverySource) {
  sim::acpi::InstallHest(P(), 0, {});
  const Bytes mce = MachineCheckSource(0);
  ASSERT_EQ(atd::AddHestErrorSource(mce.data(), 40, 0, 0), EFI_SUCCESS);
  const Bytes two = Cat(GenericHardwareSource(1, 0x7F000000), GenericHardwareSource(2, 0x7F001000));
  ASSERT_EQ(atd::AddHestErrorSources(two.data(), static_cast<uint32_t>(two.size()), 2, 0),
            EFI_SUCCESS);

  const Disassembly d = Disassemble("hest", Hest());
  ASSERT_TRUE(Clean(d));
  EXPECT_NE(d.dsl.find("Signature : \"HEST\""), std::string::npos) << d.dsl;
  EXPECT_NE(d.dsl.find("Error Source Count : 00000003"), std::string::npos) << d.dsl;
  EXPECT_NE(d.dsl.find("Table Length : 000000D0"), std::string::npos) << d.dsl;  // 40 + 40 + 2 * 64
  size_t generic = 0;
  for (size_t at = d.dsl.find("[Generic Hardware Error Source]"); at != std::string::npos;
       at = d.dsl.find("[Generic Hardware Error Source]", at + 1))
    ++generic;
  EXPECT_EQ(generic, 2u) << d.dsl;
  EXPECT_NE(d.dsl.find("[IA-32 Machine Check Exception]"), std::string::npos) << d.dsl;
}

}  // namespace
