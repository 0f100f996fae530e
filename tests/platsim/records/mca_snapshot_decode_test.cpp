// Machine-check status bits and error codes by name, and damaged snapshots.
#include "tools/platsim/records/record_render.h"

#include <gtest/gtest.h>

namespace {

using Json = nlohmann::ordered_json;

TEST(McaNames, StatusBitsAndArchitecturalErrorCodes) {
  const struct {
    uint64_t status;
    std::vector<std::string> names;
  } bits[] = {
      {0x9C2040000000011B, {"VAL", "EN", "MISCV", "ADDRV"}},
      {0xFE00000000000000, {"VAL", "OVER", "UC", "EN", "MISCV", "ADDRV", "PCC"}},
      {0x01FFFFFFFFFFFFFF, {}},
  };
  for (const auto& b : bits) EXPECT_EQ(records::McaStatusNames(b.status), b.names);

  const struct {
    uint16_t code;
    const char* text;
  } codes[] = {
      {0x0000, "no error"},
      {0x0005, "internal parity error"},
      {0x0400, "internal timer error"},
      {0x0406, "internal unclassified error"},
      {0x000F, "generic cache hierarchy error, generic level"},
      {0x0017, "TLB error, data, generic level"},
      {0x009F, "memory controller error, read, channel not specified"},
      {0x00C2, "memory controller error, memory scrubbing, channel 2"},
      {0x011B, "cache hierarchy error, generic read, generic, generic level"},
      {0x1135, "cache hierarchy error, data read, data, level 1, filtered"},
      {0x0E0B,
       "bus or interconnect error, generic participation, generic error, I/O, generic "
       "level"},
      {0x0D50,
       "bus or interconnect error, local processor observed as a third party, "
       "instruction fetch, memory access, level 0, timed out"},
      {0x0200, "model-specific error code"},
  };
  for (const auto& c : codes) EXPECT_EQ(records::McaErrorCodeText(c.code), c.text) << c.code;
}

std::vector<std::string> Messages(const std::string& text) {
  const records::Decoded d = records::Decode(
      std::span(reinterpret_cast<const uint8_t*>(text.data()), text.size()), records::Kind::kAuto);
  const Json j = records::RenderJson(d, {});
  std::vector<std::string> out;
  for (const auto& m : j["damage"]) out.push_back(m["message"]);
  return out;
}

TEST(McaSnapshotDecode, DamagedSnapshotsNameThePath) {
  const std::string head =
      R"({"status": "EFI_SUCCESS", "processorNumber": 0, "processorInfo": "00 00 00 00 00", )";
  const std::string logged =
      R"("msr2": "0x10", "msr3": "0x0", "msr4": "0x0", "msr5": "0x0", "msr6": "0x0",
         "msr8": "0x0", "msr9": "0x0", "msrA": "0x0")";
  const struct {
    const char* name;
    std::string text;
    std::vector<std::string> damage;
  } cases[] = {
      {"good",
       head + R"("bankCount": 1, "banks": [{"bank": 0, "state": "logged",
        "status": "0x8400000000000000", )" +
           logged + "}]}",
       {}},
      {"fewer banks than counted",
       head + R"("bankCount": 2, "banks": [{"bank": 0, "state": "absent"}]})",
       {"snapshot, banks: expected 2 banks (bankCount), found 1 banks"}},
      {"banks out of order",
       head + R"("bankCount": 1, "banks": [{"bank": 3, "state": "absent"}]})",
       {"snapshot, banks[0].bank: expected 0 (banks in order from 0), found 3"}},
      {"key twice",
       R"({"status": "EFI_SUCCESS", "status": "EFI_SUCCESS"})",
       {"snapshot, status: expected a key given once, found the key given twice",
        "snapshot, processorNumber: expected an unsigned number, found nothing (the key is "
        "missing)",
        "snapshot, processorInfo: expected five bytes as hex text, found nothing (the key is "
        "missing)",
        "snapshot, banks: expected an array, found nothing (the key is missing)"}},
      {"status not hex",
       head + R"("bankCount": 1, "banks": [{"bank": 0, "state": "logged",
        "status": "0x12G", )" +
           logged + "}]}",
       {"snapshot, banks[0].status: expected a 64-bit value as 0x hex, found \"0x12G\""}},
      {"logged without VAL",
       head + R"("bankCount": 1, "banks": [{"bank": 0, "state": "logged",
        "status": "0x1", )" +
           logged + "}]}",
       {"snapshot, banks[0].status: expected bit 63 (VAL) set: the bank reader logs a bank only "
        "when it is, found 0x1"}},
      {"number beyond a double",
       head + R"("bankCount": 1e501, "banks": []})",
       {"snapshot, JSON: expected a JSON object, found number overflow: 1e501 is out of range"}},
      {"unknown state",
       head + R"("bankCount": 1, "banks": [{"bank": 0, "state": "odd"}]})",
       {"snapshot, banks[0].state: expected \"absent\", \"no valid error\" or \"logged\", found "
        "\"odd\""}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(Messages(c.text), c.damage);
  }
  const auto truncated = Messages(head);
  ASSERT_EQ(truncated.size(), 1u);
  EXPECT_EQ(truncated[0].rfind("snapshot offset 0x53, JSON: expected a JSON object, found parse "
                               "error at line 1, column 84",
                               0),
            0u)
      << truncated[0];
}

}  // namespace
