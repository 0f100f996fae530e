// platsim mca, run as the user runs it (the tool must be built: it is part of
// every full build).
#include "tests/platsim/platsim_run.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <string>

namespace {

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

}  // namespace
