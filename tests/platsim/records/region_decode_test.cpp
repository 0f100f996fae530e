// Boot error regions, good and damaged, built from the public layouts: what
// is decoded, and each fault with its offset, field, expected and found.
#include "tests/platsim/records/record_bytes.h"
#include "tools/platsim/records/record_render.h"

#include <gtest/gtest.h>

#include <sstream>

namespace {

using namespace record_bytes;
using Json = nlohmann::ordered_json;

const Bytes kRaw = {0xDE, 0xAD, 0xBE, 0xEF, 1, 2, 3, 4};

Bytes MemoryEntry(uint64_t address, uint8_t type = 3) {
  Memory m;
  m.address = address;
  m.type = type;
  return Entry(kMemoryGuid, m.Build());
}

// The shape slot 3 leaves after a raw-data append and a memory entry: status
// bits 0 and 1, two appends counted, fatal.
Bytes DriverRegion() {
  return Block(0x23, MemoryEntry(0x12345000), kRaw);
}

Json DecodeJson(const Bytes& b) {
  return records::RenderJson(records::Decode(b, records::Kind::kRegion), {});
}

std::vector<std::string> Messages(const Json& j) {
  std::vector<std::string> out;
  for (const auto& d : j["damage"]) out.push_back(d["message"]);
  return out;
}

struct DamagedCase {
  const char* name;
  Bytes region;
  std::vector<std::string> damage;
};

TEST(RegionDecode, DamagedRegionsNameEachFault) {
  const Bytes entry = MemoryEntry(0x1000);  // 72 + 80 bytes
  const Bytes timestamped = Entry(kPcieGuid, Bytes(8, 0));
  const DamagedCase cases[] = {
      {"data length past the end",
       Block(0x1, entry, {}, 1, 200),
       {"region offset 0xC, Data Length: expected at most 152 (the region's bytes after the "
        "block), found 200"}},
      // 172 bytes: the block and 152 bytes of entries. A Data Length past
      // them by less than the 20 bytes of the block is damaged all the same.
      {"data length one past the end",
       Block(0x1, entry, {}, 1, 153),
       {"region offset 0xC, Data Length: expected at most 152 (the region's bytes after the "
        "block), found 153"}},
      {"data length the whole region",
       Block(0x1, entry, {}, 1, 172),
       {"region offset 0xC, Data Length: expected at most 152 (the region's bytes after the "
        "block), found 172"}},
      {"error data length past data length",
       Block(0x1, Entry(kMemoryGuid, Memory().Build(), 0x300, 1, 0, 0, 0, "", 4096)),
       {"region offset 0x2C, data entry 0 Error Data Length: expected at most 80 (what Data "
        "Length leaves), found 4096"}},
      {"entry header cut short",
       Block(0x1, Bytes(40, 0)),
       {"region offset 0x14, data entry 0: expected a Generic Error Data Entry header of 64 "
        "bytes, found 40 bytes left of Data Length"}},
      {"timestamped header cut short",
       Block(0x1, Bytes(timestamped.begin(), timestamped.begin() + 66)),
       {"region offset 0x14, data entry 0: expected a header of 72 bytes (revision 0x300 has a "
        "timestamp), found 66 bytes left of Data Length"}},
      {"raw data past the end",
       Block(0x2, {}, kRaw, 2, -1, -1, 64),
       {"region offset 0x8, Raw Data Length: expected at most 8 (the region's bytes after Raw "
        "Data Offset 20), found 64"}},
      {"raw data offset inside the entries",
       Block(0x2, entry, kRaw, 2, -1, 20),
       {"region offset 0x4, Raw Data Offset: expected at least 172 (20 + Data Length: after the "
        "entries), found 20"}},
      {"memory section shorter than its layout",
       Block(0x1, Entry(kMemoryGuid, Bytes(40, 0))),
       {"region offset 0x2C, data entry 0 Error Data Length: expected at least 73 for a "
        "platform memory error section, found 40"}},
      {"shorter than a status block",
       Bytes(10, 0),
       {"region offset 0x0, Generic Error Status Block: expected 20 bytes, found 10 bytes"}},
      {"empty",
       {},
       {"region offset 0x0, Generic Error Status Block: expected 20 bytes, found an empty region"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(Messages(DecodeJson(c.region)), c.damage);
  }
}

TEST(RegionDecode, DriverShapedRegionShowsEntryRawDataAndTheCountNote) {
  const Json j = DecodeJson(DriverRegion());
  EXPECT_TRUE(j["damage"].empty());
  const Json& block = j["region"]["blocks"][0];
  EXPECT_EQ(block["blockStatusBits"], Json({"uncorrectable valid", "correctable valid"}));
  EXPECT_EQ(block["entryCount"], 2);
  EXPECT_EQ(block["rawDataOffset"], 172);
  EXPECT_EQ(block["rawData"], "de ad be ef 01 02 03 04");
  const Json& e = block["entries"][0];
  EXPECT_EQ(e["offset"], 20);
  EXPECT_EQ(e["sectionType"], "A5BC1114-6F64-4EDE-B863-3E83ED7C83B1");
  EXPECT_EQ(e["memoryError"]["physicalAddress"], "0x0000000012345000");
  // The type is there but not marked valid (bit 14 clear).
  EXPECT_EQ(e["memoryError"]["notMarkedValid"], Json({{"memoryErrorType", 3}}));
  // The raw-data append was corrected: its bit 1 has no entry to go with.
  const Json notes = {
      "status block at 0x0: Block Status counts 2 entries, Data Length holds 1 "
      "generic error data entry",
      "status block at 0x0: Block Status bit 1 (correctable error valid) is set, "
      "and no data entry is corrected (the raw data may hold it)"};
  EXPECT_EQ(j["notes"], notes);

  std::ostringstream text;
  records::RenderText(records::Decode(DriverRegion(), records::Kind::kAuto), {}, text);
  EXPECT_EQ(text.str(),
            "boot error region   180 bytes, 1 error status block\n"
            "\n"
            "status block 0      at 0x0\n"
            "  block status        0x00000023 (uncorrectable valid, correctable valid), entry "
            "count 2\n"
            "  error severity      1 (fatal)\n"
            "  data length         152\n"
            "  raw data            offset 172, length 8: de ad be ef 01 02 03 04\n"
            "  data entry 0        at 0x14\n"
            "    section type        A5BC1114-6F64-4EDE-B863-3E83ED7C83B1 (platform memory), 80 "
            "bytes\n"
            "    error severity      1 (fatal)\n"
            "    revision            0x0300\n"
            "    flags               0x00\n"
            "    validation bits     0x00\n"
            "    memory error        validation bits 0x0000000000000002 (physical address)\n"
            "    physical address    0x0000000012345000\n"
            "    not marked valid    memory error type 3 (Multi-bit ECC)\n"
            "\n"
            "note: " +
                notes[0].get<std::string>() +
                "\n"
                "note: " +
                notes[1].get<std::string>() + "\n");
}

TEST(RegionDecode, EveryMemoryFieldAndTheEntryHeader) {
  Memory m;
  m.valid = 0x3FFFFF;  // bits 0..21
  m.status = 0x40400;  // type 4 (memory), bit 18 (data)
  m.address = 0x723456789;
  m.mask = 0xFFFFFFFFFFFFF000;
  m.node = 1, m.card = 2, m.module = 3, m.bank = 0x0102, m.device = 5;
  m.row = 0x1234, m.column = 0x56, m.bit = 7;
  m.requestor = 0xA, m.responder = 0xB, m.target = 0xC;
  m.type = 2;
  m.extended = 0x21;  // row bit 16, chip 1
  m.rank = 1, m.cardHandle = 0x11, m.moduleHandle = 0x22;
  // 2024-12-31 12:34:56, precise, in BCD from the seconds up.
  const uint64_t stamp = 0x2024123101123456;
  const Json j = DecodeJson(
      Block(0x1 | 1 << 4, Entry(kMemoryGuid, m.Build(), 0x300, 2, 7, 0x21, stamp, "DIMM_A1")));
  EXPECT_TRUE(j["damage"].empty());
  const Json& e = j["region"]["blocks"][0]["entries"][0];
  EXPECT_EQ(e["flagNames"], Json({"primary", "latent error"}));
  EXPECT_EQ(e["fruText"], "DIMM_A1");
  EXPECT_EQ(e["fruId"], "00000000-0000-0000-0000-000000000000");
  EXPECT_EQ(e["timestamp"], "2024-12-31 12:34:56 (precise)");
  Json mem = e["memoryError"];
  mem.erase("valid");
  // Every field in decimal where it counts, the plain bank beside its group
  // and address, the row with its bits 17:16.
  EXPECT_EQ(mem, Json::parse(R"({
    "validationBits": "0x00000000003FFFFF", "errorStatus": "0x0000000000040400",
    "errorStatusText": "Storage error in DRAM memory (ERR_MEM, type 4), data",
    "physicalAddress": "0x0000000723456789", "physicalAddressMask": "0xFFFFFFFFFFFFF000",
    "node": 1, "card": 2, "module": 3, "bank": 258, "bankGroup": 1, "bankAddress": 2,
    "device": 5, "row": 70196, "column": 86, "bitPosition": 7,
    "requestorId": "0x000000000000000A", "responderId": "0x000000000000000B",
    "targetId": "0x000000000000000C", "memoryErrorType": 2,
    "memoryErrorTypeName": "Single-bit ECC", "rank": 1, "cardHandle": 17, "moduleHandle": 34,
    "chipId": 1})"));
}

TEST(RegionDecode, ShortHeadersUnknownSectionsAndSeveralBlocks) {
  const Bytes other = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};
  const Bytes first =
      Block(0x1 | 2 << 4, Cat({Entry(kPcieGuid, Bytes(16, 0), 0x201), Entry(other, Bytes(8, 0))}));
  const Bytes second = Block(0x1 | 1 << 4, MemoryEntry(0x2000), {}, 2);
  const Json j = DecodeJson(Cat({first, second, Bytes(12, 0)}));
  EXPECT_TRUE(j["damage"].empty());
  EXPECT_TRUE(j["notes"].empty());
  const Json& r = j["region"];
  ASSERT_EQ(r["blocks"].size(), 2u);
  const Json& entries = r["blocks"][0]["entries"];
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_EQ(entries[0]["offset"], 20);  // 64-byte header before revision 0x300
  EXPECT_EQ(entries[0]["sectionName"], "PCI Express");
  EXPECT_EQ(entries[1]["offset"], 20 + 64 + 16);
  EXPECT_EQ(entries[1]["sectionType"], "04030201-0605-0807-090A-0B0C0D0E0F10");
  EXPECT_FALSE(entries[1].contains("sectionName"));
  EXPECT_EQ(entries[1]["errorDataLength"], 8);
  EXPECT_EQ(r["blocks"][1]["offset"], first.size());
  EXPECT_EQ(r["blocks"][1]["entries"][0]["memoryError"]["physicalAddress"], "0x0000000000002000");
  EXPECT_EQ(r["unusedBytes"], 12);
  EXPECT_EQ(r["unusedAllZero"], true);
}

}  // namespace
