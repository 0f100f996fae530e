// BERT and HEST tables as dumped from the ACPI tables, good and damaged.
#include "tests/platsim/records/record_bytes.h"
#include "tools/platsim/records/record_render.h"

#include <gtest/gtest.h>

namespace {

using namespace record_bytes;
using Json = nlohmann::ordered_json;

Bytes BertBody(uint32_t regionLength, uint64_t address) {
  Bytes b;
  Put(b, 0, regionLength, 4);
  Put(b, 4, address, 8);
  return b;
}

Bytes Region() {
  Memory m;
  m.address = 0x12345000;
  return Block(0x23, Entry(kMemoryGuid, m.Build()), {0xDE, 0xAD, 0xBE, 0xEF, 1, 2, 3, 4});
}

Json DecodeJson(const Bytes& b, records::Kind kind, const Bytes* region = nullptr) {
  std::optional<std::span<const uint8_t>> r;
  if (region) r = *region;
  return records::RenderJson(records::Decode(b, kind, r), {});
}

std::vector<std::string> Messages(const Json& j) {
  std::vector<std::string> out;
  for (const auto& d : j["damage"]) out.push_back(d["message"]);
  return out;
}

TEST(BertDecode, TableWithAndWithoutItsRegion) {
  const Bytes region = Region();
  const Bytes bert = Table("BERT", BertBody(180, 0x7F000000));
  const Json with = DecodeJson(bert, records::Kind::kAuto, &region);
  EXPECT_EQ(with["kind"], "bert");
  EXPECT_TRUE(with["damage"].empty());
  EXPECT_EQ(with["bert"]["checksumOk"], true);
  EXPECT_EQ(with["bert"]["bootErrorRegion"], "0x000000007F000000");
  EXPECT_EQ(with["bert"]["region"]["blocks"][0]["entries"][0]["memoryError"]["physicalAddress"],
            "0x0000000012345000");
  const Json without = DecodeJson(bert, records::Kind::kAuto);
  EXPECT_TRUE(without["damage"].empty());
  EXPECT_TRUE(without["bert"]["region"].is_null());
}

TEST(BertDecode, DamagedTables) {
  const Bytes region = Region();
  const Bytes good = Table("BERT", BertBody(180, 0x7F000000));
  Bytes badSum = good;
  ++badSum[9];
  char sums[96];
  std::snprintf(
      sums, sizeof sums,
      "table offset 0x9, Checksum: expected 0x%X (the table's bytes sum to 0), found 0x%X", good[9],
      badSum[9]);
  const Bytes cut(good.begin(), good.begin() + 40);
  const Bytes shortRegion(region.begin(), region.begin() + 100);
  struct Case {
    const char* name;
    Bytes table;
    const Bytes* region;
    std::vector<std::string> damage;
  } cases[] = {
      {"wrong checksum", badSum, &region, {sums}},
      {"length past the end",
       cut,
       &region,
       {"table offset 0x4, Length: expected at most 40 (the bytes given), found 48"}},
      {"not a BERT",
       Table("FACP", BertBody(180, 0)),
       nullptr,
       {"table offset 0x0, Signature: expected BERT, found FACP"}},
      {"region shorter than declared",
       good,
       &shortRegion,
       {"table offset 0x24, Boot Error Region Length: expected at most 100 (the region's bytes "
        "given), found 180",
        "region offset 0xC, Data Length: expected at most 80 (the region's bytes after the "
        "block), found 152",
        "region offset 0x2C, data entry 0 Error Data Length: expected at most 8 (what Data "
        "Length leaves), found 80",
        "region offset 0x8, Raw Data Length: expected at most 0 (the region's bytes after Raw "
        "Data Offset 172), found 8"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(Messages(DecodeJson(c.table, records::Kind::kBert, c.region)), c.damage);
  }
}

TEST(HestDecode, WalksTheErrorSourceStructures) {
  // Machine check with 2 banks (40 + 2 * 28), corrected machine check with
  // 1 bank (48 + 28), NMI (20), generic hardware error source (64).
  Bytes mce(40 + 56, 0), cmc(48 + 28, 0), nmi(20, 0), ghes(64, 0);
  Put(mce, 2, 7, 2);
  mce[32] = 2;
  Put(cmc, 0, 1, 2);
  cmc[44] = 1;
  Put(nmi, 0, 2, 2);
  Put(ghes, 0, 9, 2);
  const Bytes sources = Cat({mce, cmc, nmi, ghes});
  Bytes body;
  Put(body, 0, 4, 4);
  const Json j = DecodeJson(Table("HEST", Cat({body, sources})), records::Kind::kAuto);
  EXPECT_TRUE(j["damage"].empty());
  const Json& s = j["hest"]["sources"];
  ASSERT_EQ(s.size(), 4u);
  const unsigned offsets[] = {40, 136, 212, 232}, lengths[] = {96, 76, 20, 64},
                 types[] = {0, 1, 2, 9};
  for (unsigned i = 0; i < 4; ++i) {
    EXPECT_EQ(s[i]["offset"], offsets[i]);
    EXPECT_EQ(s[i]["length"], lengths[i]);
    EXPECT_EQ(s[i]["type"], types[i]);
  }
  EXPECT_EQ(s[0]["sourceId"], 7);

  // Bytes after Length, even ones that look like a fifth structure, are
  // neither walked nor summed.
  Bytes nmiAfter(20, 0x5A);
  Put(nmiAfter, 0, 2, 2);
  const Json longer =
      DecodeJson(Cat({Table("HEST", Cat({body, sources})), nmiAfter}), records::Kind::kHest);
  EXPECT_TRUE(longer["damage"].empty()) << longer["damage"];
  EXPECT_EQ(longer["hest"]["sources"].size(), 4u);
  EXPECT_EQ(longer["notes"], Json({"20 bytes after the table's Length are not part of it"}));

  Put(body, 0, 5, 4);
  EXPECT_EQ(Messages(DecodeJson(Table("HEST", Cat({body, sources})), records::Kind::kHest)),
            std::vector<std::string>{"table offset 0x24, Error Source Count: expected 4 (the "
                                     "structures in the table), found 5"});
  Put(body, 0, 1, 4);
  EXPECT_EQ(
      Messages(DecodeJson(Table("HEST", Cat({body, Bytes(ghes.begin(), ghes.begin() + 30)})),
                          records::Kind::kHest)),
      std::vector<std::string>{
          "table offset 0x28, error source 0 (type 9): expected 64 bytes, found 30 bytes left"});
  Bytes unknown(8, 0);
  unknown[0] = 12;
  const Json u = DecodeJson(Table("HEST", Cat({body, unknown})), records::Kind::kHest);
  EXPECT_TRUE(u["damage"].empty());
  EXPECT_EQ(u["notes"], Json({"error source 0 at 0x28 has type 12, whose length is not known "
                              "here: the walk stops"}));
}

}  // namespace
