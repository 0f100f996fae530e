// platsim mca and platsim acpi, run as the user runs them (the tool must be
// built: it is part of every full build).
#include "tests/platsim/platsim_run.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

namespace {

namespace fs = std::filesystem;

using ToolRun = platsim_test::Run;
using platsim_test::ExecJoined;

TEST(PlatsimMca, NamesTheStatusBitsOfEachLoggedBank) {
  const ToolRun r = ExecJoined("--json mca --cpu 1");
  ASSERT_EQ(r.exit, 0) << r.out;
  const auto j = nlohmann::json::parse(r.out);
  EXPECT_EQ(j["status"], "EFI_SUCCESS");
  EXPECT_EQ(j["bankCount"], 2);
  EXPECT_EQ(j["banks"][0]["state"], "no valid error");
  EXPECT_EQ(j["banks"][1]["status"], "0xB600000000080135");
  EXPECT_EQ(j["banks"][1]["statusBits"],
            nlohmann::json(
                {"valid", "uncorrected", "enabled", "address valid", "processor context corrupt"}));

  const ToolRun text = ExecJoined("mca --cpu 0");
  EXPECT_NE(text.out.find("bank 1: absent"), std::string::npos) << text.out;
  EXPECT_NE(text.out.find("valid, enabled, misc valid, address valid"), std::string::npos)
      << text.out;

  // Equal to the list's count passes the range check but matches no entry.
  const ToolRun equal = ExecJoined("mca --cpu 2");
  EXPECT_EQ(equal.exit, 1);
  EXPECT_NE(equal.out.find("EFI_NOT_FOUND"), std::string::npos) << equal.out;
  const ToolRun above = ExecJoined("mca --cpu 3");
  EXPECT_EQ(above.exit, 1);
  EXPECT_NE(above.out.find("EFI_INVALID_PARAMETER"), std::string::npos) << above.out;
}

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
