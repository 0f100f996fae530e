// The CPER sections of a boot error region, field group by field group, with
// the layouts and the code tables of the UEFI error record appendix written
// out here: the generic processor section, the memory section in its 73- and
// 80-byte layouts, bank and row extension, the error status and memory error
// type texts, sections that are only dumped, and what is a note rather than
// damage (reserved severities, bad timestamps, Block Status bits).
#include "tests/platsim/records/record_bytes.h"
#include "tools/platsim/records/record_render.h"

#include <gtest/gtest.h>

#include <sstream>

namespace {

using namespace record_bytes;
using Json = nlohmann::ordered_json;

Json DecodeJson(const Bytes& region) {
  return records::RenderJson(records::Decode(region, records::Kind::kRegion), {});
}

std::string DecodeText(const Bytes& region) {
  std::ostringstream text;
  records::RenderText(records::Decode(region, records::Kind::kRegion), {}, text);
  return text.str();
}

std::vector<std::string> Messages(const Json& j) {
  std::vector<std::string> out;
  for (const auto& d : j["damage"]) out.push_back(d["message"]);
  return out;
}

// One entry (72-byte header, severity `severity`) in a block whose status
// bits agree with it.
Bytes OneEntry(const Bytes& guid, const Bytes& section, uint32_t severity = 1) {
  const uint32_t bits = severity == 2 ? 0x2 : severity < 2 ? 0x1 : 0x0;
  return Block(bits | 1 << 4, Entry(guid, section, 0x300, severity));
}

void ExpectLines(const std::string& text, const std::vector<std::string>& lines) {
  for (const auto& l : lines)
    EXPECT_NE(text.find(l + "\n"), std::string::npos) << l << "\n" << text;
}

TEST(CperSections, ProcessorFieldsUnderTheirValidationBits) {
  Processor full;
  full.valid = 0x1FFF;  // bits 0..12
  full.type = 0, full.isa = 2, full.errorType = 0x01, full.operation = 1, full.flags = 0x05;
  full.level = 2, full.version = 0xA20F10, full.brand = "Example CPU @ 3.0GHz";
  full.id = 3, full.target = 0x723456789, full.requestor = 0x11, full.responder = 0x22;
  full.ip = 0xFFFFFFFF81234567;
  Processor ends;  // the other ends of the code tables, bits 0..5 only
  ends.valid = 0x3F;
  ends.type = 2, ends.isa = 4, ends.errorType = 0x0E, ends.operation = 3, ends.flags = 0x0A;
  ends.level = 3, ends.id = 9;
  Processor reserved;
  reserved.valid = 0x0B;  // type, ISA, operation
  reserved.type = 3, reserved.isa = 5, reserved.operation = 4;
  Processor unmarked;  // values without their bits
  unmarked.type = 1, unmarked.level = 1, unmarked.ip = 0x1000;
  const struct {
    const char* name;
    Processor p;
    const char* json;
  } cases[] = {
      {"every field", full, R"({"validationBits": "0x0000000000001FFF",
        "processorType": 0, "processorTypeName": "IA32/X64",
        "processorIsa": 2, "processorIsaName": "X64",
        "errorType": 1, "errorTypeNames": ["cache error"],
        "operation": 1, "operationName": "data read",
        "flags": 5, "flagNames": ["restartable", "overflow"], "level": 2,
        "cpuVersion": "0x0000000000A20F10", "cpuBrandString": "Example CPU @ 3.0GHz",
        "processorId": "0x0000000000000003", "targetAddress": "0x0000000723456789",
        "requestorId": "0x0000000000000011", "responderId": "0x0000000000000022",
        "instructionIp": "0xFFFFFFFF81234567"})"},
      {"the other codes", ends, R"({"validationBits": "0x000000000000003F",
        "processorType": 2, "processorTypeName": "ARM",
        "processorIsa": 4, "processorIsaName": "ARM A64",
        "errorType": 14, "errorTypeNames": ["TLB error", "bus error",
                                            "micro-architectural error"],
        "operation": 3, "operationName": "instruction execution",
        "flags": 10, "flagNames": ["precise IP", "corrected"], "level": 3,
        "notMarkedValid": {"processorId": "0x0000000000000009"}})"},
      {"reserved codes", reserved, R"({"validationBits": "0x000000000000000B",
        "processorType": 3, "processorTypeName": "reserved",
        "processorIsa": 5, "processorIsaName": "reserved",
        "operation": 4, "operationName": "reserved"})"},
      {"nothing valid", unmarked, R"({"validationBits": "0x0000000000000000",
        "notMarkedValid": {"processorType": 1, "level": 1,
                           "instructionIp": "0x0000000000001000"}})"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const Json j = DecodeJson(OneEntry(kProcessorGuid, c.p.Build()));
    EXPECT_TRUE(j["damage"].empty()) << j["damage"];
    Json proc = j["region"]["blocks"][0]["entries"][0]["processorError"];
    proc.erase("valid");
    EXPECT_EQ(proc, Json::parse(c.json));
  }
  const std::string text = DecodeText(OneEntry(kProcessorGuid, full.Build()));
  EXPECT_NE(text.find("    processor type      0 (IA32/X64)\n"
                      "    processor ISA       2 (X64)\n"
                      "    error type          0x01 (cache error)\n"
                      "    operation           1 (data read)\n"
                      "    flags               0x05 (restartable, overflow)\n"
                      "    level               2\n"
                      "    CPU version         0x0000000000A20F10\n"
                      "    CPU brand string    \"Example CPU @ 3.0GHz\"\n"
                      "    processor id        0x0000000000000003\n"
                      "    target address      0x0000000723456789\n"
                      "    requestor id        0x0000000000000011\n"
                      "    responder id        0x0000000000000022\n"
                      "    instruction IP      0xFFFFFFFF81234567\n"),
            std::string::npos)
      << text;
}

TEST(CperSections, ErrorStatusAndMemoryErrorTypesInTheUefiWords) {
  const struct {
    unsigned type;
    const char* text;
  } statuses[] = {
      {1, "Error detected internal to the component (ERR_INTERNAL, type 1)"},
      {4, "Storage error in DRAM memory (ERR_MEM, type 4)"},
      {5, "Storage error in TLB (ERR_TLB, type 5)"},
      {6, "Storage error in cache (ERR_CACHE, type 6)"},
      {7, "Error in one or more functional units (ERR_FUNCTION, type 7)"},
      {8, "Component failed self test (ERR_SELFTEST, type 8)"},
      {9, "Overflow or Undervalue of internal queue (ERR_FLOW, type 9)"},
      {16, "Error detected in the bus (ERR_BUS, type 16)"},
      {17, "Virtual address not found on IO-TLB or IO-PDIR (ERR_MAP, type 17)"},
      {18, "Improper access error (ERR_IMPROPER, type 18)"},
      {19, "Access to a memory address which is not mapped to any component (ERR_UNIMPL, type 19)"},
      {20, "Loss of Lockstep (ERR_LOL, type 20)"},
      {21, "Response not associated with a request (ERR_RESPONSE, type 21)"},
      {22, "Bus parity error (ERR_PARITY, type 22)"},
      {23, "Detection of a protocol error (ERR_PROTOCOL, type 23)"},
      {24, "Detection of a PATH_ERROR (ERR_ERROR, type 24)"},
      {25, "Bus operation timeout (ERR_TIMEOUT, type 25)"},
      {26, "A read was issued to data that has been poisoned (ERR_POISONED, type 26)"},
      {0, "reserved (type 0)"},
      {2, "reserved (type 2)"},
      {10, "reserved (type 10)"},
      {27, "reserved (type 27)"},
      {255, "reserved (type 255)"},
  };
  for (const auto& s : statuses) {
    Memory m;
    m.valid = 1 << 0;
    m.status = uint64_t{s.type} << 8;
    EXPECT_EQ(DecodeJson(OneEntry(kMemoryGuid, m.Build()))["region"]["blocks"][0]["entries"][0]
                                                          ["memoryError"]["errorStatusText"],
              s.text);
  }
  Memory every;  // the bits 16..22 of what the error was detected on
  every.valid = 1 << 0;
  every.status = 0x7F0400;
  EXPECT_NE(DecodeText(OneEntry(kMemoryGuid, every.Build()))
                .find("    error status        0x00000000007F0400: Storage error in DRAM memory "
                      "(ERR_MEM, type 4), address, control, data, responder, requester, first "
                      "error, overflow\n"),
            std::string::npos);

  const char* const types[] = {"Unknown",
                               "No error",
                               "Single-bit ECC",
                               "Multi-bit ECC",
                               "Single-symbol ChipKill ECC",
                               "Multi-symbol ChipKill ECC",
                               "Master abort",
                               "Target abort",
                               "Parity Error",
                               "Watchdog timeout",
                               "Invalid address",
                               "Mirror Broken",
                               "Memory Sparing",
                               "Scrub corrected error",
                               "Scrub uncorrected error",
                               "Physical Memory Map-out event"};
  for (unsigned t = 0; t < 18; ++t) {
    Memory m;
    m.valid = 1 << 14;
    m.type = static_cast<uint8_t>(t == 17 ? 255 : t);
    EXPECT_EQ(DecodeJson(OneEntry(kMemoryGuid, m.Build()))["region"]["blocks"][0]["entries"][0]
                                                          ["memoryError"]["memoryErrorTypeName"],
              t < 16 ? types[t] : "reserved")
        << t;
  }
}

// The memory section by its size: 73 bytes (the layout up to the memory
// error type), 80 (with extended byte, rank and handles), what lies between,
// and shorter. Offsets: block 20, header 72, section from 0x5C.
TEST(CperSections, MemorySectionsOfEachSize) {
  Memory m;
  m.address = 0x1000, m.node = 1, m.row = 2, m.type = 3, m.extended = 0x21, m.rank = 4;
  m.cardHandle = 5, m.moduleHandle = 6;
  const std::string past =
      "region offset 0x5C, data entry 0 platform memory error validation "
      "bits: expected no bit for a field past the section's ";
  const struct {
    const char* name;
    size_t bytes;
    uint64_t valid;
    std::vector<std::string> damage, lines;
  } cases[] = {
      {"73 bytes, the fields inside valid",
       73,
       0x7FFF,
       {},
       {"    memory error type   3 (Multi-bit ECC)", "    row                 2 (0x2)"}},
      {"73 bytes, bits for the fields after",
       73,
       0x27C102,  // address, row, 15..18, 21
       {past + "73 bytes, found bit 15 (rank, bytes 74 to 75)",
        past + "73 bytes, found bit 16 (card handle, bytes 76 to 77)",
        past + "73 bytes, found bit 17 (module handle, bytes 78 to 79)",
        past + "73 bytes, found bit 18 (row bits 17:16, bytes 73 to 73)",
        past + "73 bytes, found bit 21 (chip identification, bytes 73 to 73)"},
       {"    rank                not in the section's 73 bytes (bit 15 set; bytes 74 to 75)",
        "    chip id             not in the section's 73 bytes (bit 21 set; bytes 73 to 73)",
        // the row without its bits 17:16, which lie past the section
        "    row                 2 (0x2)"}},
      {"76 bytes",
       76,
       0x18000,  // rank, card handle
       {past + "76 bytes, found bit 16 (card handle, bytes 76 to 77)"},
       {"    rank                4"}},
      {"80 bytes",
       80,
       0x3FFFFF,
       {},
       {"    rank                4", "    card handle         0x0005",
        "    module handle       0x0006", "    chip id             1",
        "    row                 65538 (0x10002)"}},
      {"72 bytes",
       72,
       0x2,
       {"region offset 0x2C, data entry 0 Error Data Length: expected at least 73 for a platform "
        "memory error section, found 72"},
       {"    section data        refused: Error Data Length 72 is shorter than the 73 bytes of a "
        "platform memory error section",
        "      0000  02 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00  |................|"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Memory mc = m;
    mc.valid = c.valid;
    Bytes section = mc.Build();
    section.resize(c.bytes);
    const Bytes region = OneEntry(kMemoryGuid, section);
    EXPECT_EQ(Messages(DecodeJson(region)), c.damage);
    ExpectLines(DecodeText(region), c.lines);
  }
}

TEST(CperSections, BankAndRowExtension) {
  const struct {
    const char* name;
    uint64_t valid;
    uint16_t bank, row;
    uint8_t extended;
    std::vector<std::string> lines, absent;
  } cases[] = {
      {"plain bank", 1 << 6, 0x0102, 0, 0, {"    bank                258"}, {"bank group"}},
      {"bank group and address",
       1 << 19 | 1 << 20,
       0x0102,
       0,
       0,
       {"    bank group          1", "    bank address        2"},
       {"    bank   ", "not marked valid"}},
      {"all three",
       1 << 6 | 1 << 19 | 1 << 20,
       0x0102,
       0,
       0,
       {"    bank                258", "    bank group          1", "    bank address        2"},
       {}},
      {"row with bits 17:16",
       1 << 8 | 1 << 18,
       0,
       0x1234,
       0x02,
       {"    row                 135732 (0x21234)"},
       {"    row bits 17:16  "}},
      {"row, bits 17:16 not marked",
       1 << 8,
       0,
       0x1234,
       0x03,
       {"    row                 4660 (0x1234)",
        "    not marked valid    row bits 17:16 3 (0x30000)"},
       {}},
      {"bits 17:16 alone",
       1 << 18,
       0,
       0x1234,
       0x01,
       {"    row bits 17:16      1 (0x10000; row bits 15:0 not valid)",
        "    not marked valid    row 4660 (0x1234)"},
       {"    row    "}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Memory m;
    m.valid = c.valid, m.bank = c.bank, m.row = c.row, m.extended = c.extended;
    const std::string text = DecodeText(OneEntry(kMemoryGuid, m.Build()));
    ExpectLines(text, c.lines);
    for (const auto& a : c.absent) EXPECT_EQ(text.find(a), std::string::npos) << a << "\n" << text;
  }
  Memory alone;
  alone.valid = 1 << 18, alone.row = 0x1234, alone.extended = 0x01;
  const Json j = DecodeJson(OneEntry(kMemoryGuid, alone.Build()));
  EXPECT_EQ(j["region"]["blocks"][0]["entries"][0]["memoryError"]["rowBits17To16"], 1);
}

// What is odd but not damage: reserved severities, timestamps that are not
// a time, Block Status bits that the entries do not bear out.
TEST(CperSections, NotesNotDamage) {
  const Bytes mem = Memory().Build();
  // BCD from the seconds up: seconds, minutes, hours, flags, day, month,
  // year, century.
  const auto stamped = [&](uint64_t stamp) {
    return Block(0x1 | 1 << 4, Entry(kMemoryGuid, mem, 0x300, 1, 4, 0, stamp));
  };
  const std::string at = "data entry at 0x14: ";
  const struct {
    const char* name;
    Bytes region;
    std::vector<std::string> notes, lines;
  } cases[] = {
      {"reserved severities",
       Block(0x0 | 1 << 4, Entry(kMemoryGuid, mem, 0x300, 9), {}, 7),
       {"status block at 0x0: Error Severity 7 is reserved (0 recoverable, 1 fatal, 2 corrected, 3 "
        "informational)",
        at + "Error Severity 9 is reserved (0 recoverable, 1 fatal, 2 corrected, 3 informational)"},
       {"  error severity      7 (reserved)", "    error severity      9 (reserved)"}},
      {"informational",
       Block(0x0 | 1 << 4, Entry(kMemoryGuid, mem, 0x300, 3), {}, 3),
       {},
       {"  error severity      3 (informational)"}},
      {"imprecise time",
       stamped(0x2024123100123456),
       {},
       {"    timestamp           2024-12-31 12:34:56 (imprecise)"}},
      {"month 13",
       stamped(0x2024133100123456),
       {at + "timestamp not valid: month 0x13 is not 1 to 12 (bytes 56 34 12 00 31 13 24 20)"},
       {"    timestamp           not valid: month 0x13 is not 1 to 12 (bytes 56 34 12 00 31 13 "
        "24 20)"}},
      {"seconds not BCD, hour 24",
       stamped(0x202412310024345A),
       {at + "timestamp not valid: hour 0x24 is not 0 to 23, second 0x5A is not BCD (bytes 5a 34 "
             "24 00 31 12 24 20)"},
       {}},
      {"day 0, minute 60",
       stamped(0x2024120000126000),
       {at + "timestamp not valid: day 0x00 is not 1 to 31, minute 0x60 is not 0 to 59 (bytes 00 "
             "60 12 00 00 12 24 20)"},
       {}},
      {"correctable bit with a fatal entry",
       Block(0x2 | 1 << 4, Entry(kMemoryGuid, mem, 0x300, 1)),
       {"status block at 0x0: Block Status bit 0 (uncorrectable error valid) is clear, and a data "
        "entry is recoverable or fatal",
        "status block at 0x0: Block Status bit 1 (correctable error valid) is set, and no data "
        "entry is corrected"},
       {}},
      {"uncorrectable bit with a corrected entry",
       Block(0x1 | 1 << 4, Entry(kMemoryGuid, mem, 0x300, 2)),
       {"status block at 0x0: Block Status bit 0 (uncorrectable error valid) is set, and no data "
        "entry is recoverable or fatal",
        "status block at 0x0: Block Status bit 1 (correctable error valid) is clear, and a data "
        "entry is corrected"},
       {}},
      {"both bits, both kinds of entry",
       Block(0x3 | 2 << 4,
             Cat({Entry(kMemoryGuid, mem, 0x300, 0), Entry(kMemoryGuid, mem, 0x300, 2)})),
       {},
       {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const Json j = DecodeJson(c.region);
    EXPECT_TRUE(j["damage"].empty()) << j["damage"];
    EXPECT_EQ(j["notes"], Json(c.notes));
    ExpectLines(DecodeText(c.region), c.lines);
  }
}

TEST(CperSections, SectionsNotDecodedAreDumpedAndRefusalsSaidInPlace) {
  const Bytes other = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};
  Bytes data;
  for (int i = 0; i < 20; ++i) data.push_back(static_cast<uint8_t>(0x41 + i));
  const Bytes region = Block(0x1 | 2 << 4, Cat({Entry(other, data), Entry(kPcieGuid, {0, 0xFF})}));
  ExpectLines(
      DecodeText(region),
      {"    section type        04030201-0605-0807-090A-0B0C0D0E0F10 (unknown), 20 bytes",
       "    section data        unknown section type, 20 bytes",
       "      0000  41 42 43 44 45 46 47 48 49 4a 4b 4c 4d 4e 4f 50  |ABCDEFGHIJKLMNOP|",
       "      0010  51 52 53 54                                      |QRST|",
       "    section type        D995E954-BBC1-430F-AD91-B44DCB3C6F35 (PCI Express), 2 bytes",
       "    section data        not decoded, 2 bytes",
       "      0000  00 ff                                            |..|"});
  const Json entries = DecodeJson(region)["region"]["blocks"][0]["entries"];
  EXPECT_EQ(entries[0]["data"], "41 42 43 44 45 46 47 48 49 4a 4b 4c 4d 4e 4f 50 51 52 53 54");
  EXPECT_EQ(entries[1]["data"], "00 ff");

  Processor p;
  Bytes longer = p.Build();
  longer.insert(longer.end(), {0xAA, 0xBB});
  ExpectLines(DecodeText(OneEntry(kProcessorGuid, longer)),
              {"    after the section   2 bytes not decoded",
               "      0000  aa bb                                            |..|"});
  Bytes shorter = p.Build();
  shorter.resize(100);
  ExpectLines(DecodeText(OneEntry(kProcessorGuid, shorter)),
              {"    section data        refused: Error Data Length 100 is shorter than the 192 "
               "bytes of a generic processor error section"});
  ExpectLines(
      DecodeText(Block(0x1, Entry(kMemoryGuid, Memory().Build(), 0x300, 1, 0, 0, 0, "", 4096))),
      {"    section data        refused: Error Data Length 4096 runs past Data Length (80 "
       "bytes left after the header)",
       "  entry walk          stopped after data entry 0: its Error Data Length runs past "
       "Data Length"});
  ExpectLines(DecodeText(Block(0x1, Bytes(40, 0))),
              {"  entry walk          stopped at 0x14: 40 bytes left of Data Length, less than an "
               "entry header (64)"});
}

}  // namespace
