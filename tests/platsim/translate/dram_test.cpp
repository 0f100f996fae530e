// platsim translate dram: from the DRAM coordinates that slot 2 gives for a
// system address back to that address (less the bytes of one access), and
// clear refusals for coordinates no address has.
#include "tests/platsim/platsim_run.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

namespace {

using platsim_test::Exec;
using Json = nlohmann::json;

TEST(PlatsimDram, CoordinatesOfASystemAddressLeadBackToIt) {
  for (const char* address : {"0x723456789", "0x12345678", "0x1000", "0x2FFFFFFFF"}) {
    const auto sys = Exec(std::string("--json translate sys ") + address);
    ASSERT_EQ(sys.exit, 0) << sys.err;
    const Json s = Json::parse(sys.out);
    const Json& d = s["dram"];
    const auto back =
        Exec("--json translate dram --socket " + s["socket"].dump() + " --die " + s["die"].dump() +
             " --channel " + s["channel"].dump() + " --cs " + d["chipSelect"].dump() + " --bank " +
             d["bank"].dump() + " --row " + d["row"].dump() + " --col " + d["col"].dump() +
             " --rank-mul " + d["rankMul"].dump());
    ASSERT_EQ(back.exit, 0) << address << ": " << back.err;
    const Json b = Json::parse(back.out);
    const uint64_t a = std::stoull(address, nullptr, 16);
    const uint64_t n = std::stoull(s["normalizedAddress"].get<std::string>(), nullptr, 16);
    EXPECT_EQ(std::stoull(b["systemAddress"].get<std::string>(), nullptr, 16), a & ~7ULL);
    EXPECT_EQ(std::stoull(b["normalizedAddress"].get<std::string>(), nullptr, 16), n & ~7ULL);
    EXPECT_EQ(b["offsetBits"], 3);
  }
  const auto text =
      Exec("translate dram --die 1 --channel 2 --cs 1 --bank 14 --row 0x1C68 --col 0x2B1");
  EXPECT_NE(text.out.find("system address      0x0000000723456788"), std::string::npos) << text.out;
}

TEST(PlatsimDram, CoordinatesNoAddressHas) {
  struct Row {
    const char* args;
    int exit;
    const char* message;
  };
  const Row rows[] = {
      {"--channel 0 --cs 0 --bank 16 --row 0 --col 0", 1,
       "chip select 0: bank 16 needs more than its 4 bank bits"},
      {"--channel 0 --cs 0 --bank 0 --row 0x10000 --col 0", 1, "needs more than its 14 row bits"},
      {"--channel 0 --cs 3 --bank 0 --row 0 --col 0", 1, "chip select 3 is not enabled"},
      {"--socket 1 --die 1 --channel 0 --cs 0 --bank 0 --row 0 --col 0", 1,
       "channel slot 16 is beyond the 16 slots of the channel configuration table: no DIMM "
       "geometry"},
      {"--channel 0 --cs 4 --bank 0 --row 0 --col 0", 2, "--cs: 4 is more than"},
      {"--channel 9 --cs 0 --bank 0 --row 0 --col 0", 2, "no channel 9"},
  };
  for (const Row& r : rows) {
    const auto run = Exec(std::string("translate dram ") + r.args);
    EXPECT_EQ(run.exit, r.exit) << r.args << "\n" << run.err;
    EXPECT_NE(run.err.find(r.message), std::string::npos) << r.args << "\n" << run.err;
  }
}

}  // namespace
