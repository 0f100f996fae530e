// platsim acpi, run as the user runs it (the tool must be built: it is part of
// every full build).
#include "tests/platsim/platsim_run.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

namespace {

namespace fs = std::filesystem;

using ToolRun = platsim_test::Run;
using platsim_test::ExecJoined;

// Runs acpica's iasl on what platsim wrote.
TEST(AcpicaIaslPlatsim, AppendedTablesDisassembleCleanly) {
  char tmpl[] = "/tmp/tiv_platsim_XXXXXX";
  ASSERT_NE(mkdtemp(tmpl), nullptr);
  const fs::path dir = tmpl;
  const fs::path data = dir / "source.bin";
  {
    FILE* f = std::fopen(data.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    unsigned char source[40] = {0};
    source[7] = 1;
    std::fwrite(source, 1, sizeof source, f);
    std::fclose(f);
  }
  const ToolRun hest =
      ExecJoined("acpi add-hest " + data.string() + " --dump " + (dir / "h").string());
  ASSERT_EQ(hest.exit, 0) << hest.out;
  EXPECT_NE(hest.out.find("HEST: length 80, checksum ok, error sources 1"), std::string::npos)
      << hest.out;
  const ToolRun bert = ExecJoined("acpi append-bert --kind 1 --severity 1 " + data.string() +
                                  " --dump " + (dir / "b").string());
  ASSERT_EQ(bert.exit, 0) << bert.out;
  EXPECT_NE(bert.out.find("block status 0x11 (uncorrectable valid), entry count 1"),
            std::string::npos)
      << bert.out;
  for (const fs::path& table : {dir / "h" / "HEST.dat", dir / "b" / "BERT.dat"}) {
    const std::string cmd = "cd '" + table.parent_path().string() + "' && iasl -d " +
                            table.filename().string() + " 2>&1";
    FILE* pipe = popen(cmd.c_str(), "r");
    std::string out;
    char buf[512];
    while (fgets(buf, sizeof buf, pipe) != nullptr) out += buf;
    EXPECT_EQ(pclose(pipe), 0) << out;
    EXPECT_EQ(out.find("Warning"), std::string::npos) << out;
    EXPECT_EQ(out.find("Error"), std::string::npos) << out;
  }
  fs::remove_all(dir);
}

}  // namespace
