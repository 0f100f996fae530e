// platsim profile dimms --smbios: the memory devices of a DMI table built
// here byte by byte (raw, and behind a dmidecode --dump-bin entry point), the
// skeleton of the "dimms" section, and a table cut short.
#include "tests/platsim/platsim_run.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <cstring>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

void Put16(Bytes& b, size_t at, uint16_t v) {
  b[at] = static_cast<uint8_t>(v);
  b[at + 1] = static_cast<uint8_t>(v >> 8);
}

// A type 17 structure of 0x28 bytes: size in MiB (or 0x7FFF and an extended
// size), speed, ranks, and the strings locator, bank locator, maker, serial,
// part.
Bytes Type17(uint16_t handle, uint16_t size, uint32_t extended, uint16_t speed, uint8_t ranks,
             const std::vector<std::string>& strings) {
  Bytes b(0x28, 0);
  b[0] = 17;
  b[1] = 0x28;
  Put16(b, 2, handle);
  Put16(b, 0x0C, size);
  Put16(b, 0x15, speed);
  // String numbers from 1; an empty one is number 0 and not written.
  const size_t fields[] = {0x10, 0x11, 0x17, 0x18, 0x1A};
  uint8_t n = 0;
  for (size_t i = 0; i < 5; ++i)
    if (!strings[i].empty()) b[fields[i]] = ++n;
  b[0x1B] = ranks;
  Put16(b, 0x1C, static_cast<uint16_t>(extended));
  Put16(b, 0x1E, static_cast<uint16_t>(extended >> 16));
  for (const std::string& s : strings) {
    if (s.empty()) continue;
    b.insert(b.end(), s.begin(), s.end());
    b.push_back(0);
  }
  b.push_back(0);
  return b;
}

Bytes Table() {
  Bytes t = {0, 4, 0, 0, 'X', 0, 0};  // type 0, one string
  for (const Bytes& s :
       {Type17(0x11, 0x4000, 0, 3200, 2, {"DIMM_A1", "P0 CHANNEL A", "Maker", "0001", "PN-1"}),
        Type17(0x12, 0, 0, 0, 0, {"DIMM_A2", "P0 CHANNEL A", "", "", ""}),
        Type17(0x13, 0x7FFF, 32768, 4800, 1, {"DIMM_B1", "P0 CHANNEL B", "Maker", "0003", "PN-3"})})
    t.insert(t.end(), s.begin(), s.end());
  const Bytes end = {127, 4, 0xFF, 0xFF, 0, 0};
  t.insert(t.end(), end.begin(), end.end());
  return t;
}

TEST(PlatsimProfileDimms, DevicesAndSkeletonFromRawAndDumpedTables) {
  const platsim_test::TempDir dir;
  const Bytes raw = Table();
  // dmidecode --dump-bin: a 3.0 entry point, the table at offset 0x20.
  Bytes dumped(0x20, 0);
  std::memcpy(dumped.data(), "_SM3_", 5);
  dumped[6] = 24;
  Put16(dumped, 0x0C, static_cast<uint16_t>(raw.size()));
  dumped[0x10] = 0x20;
  dumped.insert(dumped.end(), raw.begin(), raw.end());
  for (const Bytes* b : std::vector<const Bytes*>{&raw, &dumped}) {
    const std::string file = dir.Write("dmi.bin", std::string(b->begin(), b->end()));
    const auto r = platsim_test::Exec("--json profile dimms --smbios " + file + " -o " +
                                      dir.Path("skeleton.json"));
    ASSERT_EQ(r.exit, 0) << r.err;
    const auto j = nlohmann::json::parse(r.out);
    ASSERT_EQ(j["devices"].size(), 3u);
    EXPECT_EQ(j["devices"][0]["locator"], "DIMM_A1");
    EXPECT_EQ(j["devices"][0]["size"], 16ULL << 30);
    EXPECT_EQ(j["devices"][0]["speedMTs"], 3200);
    EXPECT_EQ(j["devices"][0]["ranks"], 2);
    EXPECT_EQ(j["devices"][1]["installed"], false);
    EXPECT_EQ(j["devices"][2]["size"], 32ULL << 30);
    EXPECT_EQ(j["devices"][2]["bankLocator"], "P0 CHANNEL B");
    // The installed two, their places left for the engineer: the profile
    // loader refuses the skeleton until they are filled in.
    const auto skel = nlohmann::json::parse(platsim_test::Slurp(dir.Path("skeleton.json")));
    ASSERT_EQ(skel["dimms"].size(), 2u);
    EXPECT_EQ(skel["dimms"][1]["label"], "DIMM_B1");
    EXPECT_EQ(skel["dimms"][1]["serial"], "0003");
    EXPECT_EQ(skel["dimms"][1]["channel"], "?");
    const auto load =
        platsim_test::Exec("--profile " + dir.Path("skeleton.json") + " profile dump");
    EXPECT_EQ(load.exit, 2);
    EXPECT_NE(load.err.find("$.dimms[0].socket"), std::string::npos) << load.err;
  }
  // Cut inside the last device's strings: what was read, and the damage.
  const Bytes cut(raw.begin(), raw.end() - 10);
  const auto r = platsim_test::Exec("profile dimms --smbios " +
                                    dir.Write("cut.bin", std::string(cut.begin(), cut.end())));
  EXPECT_EQ(r.exit, 1);
  EXPECT_NE(r.out.find("\"DIMM_A1\" / \"P0 CHANNEL A\"  16 GiB, 3200 MT/s, 2 ranks"),
            std::string::npos)
      << r.out;
  EXPECT_NE(r.out.find("damaged: structure at offset"), std::string::npos) << r.out;
  EXPECT_EQ(platsim_test::Exec("profile dimms --smbios " + dir.Write("text.bin", "")).exit, 2);
}

}  // namespace
