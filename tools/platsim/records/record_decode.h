// Decoding of the error records that firmware and operating systems leave
// behind: a boot error region (Generic Error Status Blocks with their Generic
// Error Data Entries and CPER sections), a BERT or HEST table as dumped from
// the ACPI tables, and the machine-check snapshot `platsim mca --json`
// writes. Bytes in, decoded records out; every fault found is a Damage with
// its place, field, what was expected and what was found. Nothing here reads
// outside the bytes it is given, whatever they hold.
#pragma once

#include "tools/platsim/records/cper_layout.h"

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace records {

using Bytes = std::vector<uint8_t>;

enum class Kind { kAuto, kRegion, kBert, kHest, kMca };

// "region", "bert", "hest", "mca" (and "auto").
std::optional<Kind> KindFromName(std::string_view name);
const char* KindName(Kind kind);
// An ACPI signature "BERT" or "HEST" at the start, a JSON object, or else a
// boot error region.
Kind DetectKind(std::span<const uint8_t> bytes);

struct Damage {
  std::string input;  // "region", "table" or "snapshot"
  std::optional<uint64_t> offset;
  std::string field;
  std::string expected;
  std::string found;
};

struct DataEntry {
  uint64_t offset = 0;           // of the entry header, in the region
  GenericErrorDataEntry head{};  // Timestamp 0 for the short header
  uint32_t headerBytes = 0;      // 64 or 72
  uint64_t sectionBytes = 0;     // Error Data Length, when it lies inside Data Length
  // The decoded sections, zero past sectionBytes (fields there are not read).
  std::optional<CperMemoryErrorSection> memory;
  std::optional<CperProcessorGenericSection> processor;
  uint64_t decodedBytes = 0;  // of the section, read into one of the layouts above
  // The section's bytes that no layout reads: all of them for a type that is
  // not decoded (or is refused), else those after the layout.
  Bytes data;
  std::string refusal;  // why a section of a decoded type is not decoded
};

struct StatusBlock {
  uint64_t offset = 0;
  GenericErrorStatusBlock head{};
  std::vector<DataEntry> entries;
  bool entriesComplete = true;  // the walk reached Data Length
  std::string walkStop;         // where and why it stopped, when it did not
  std::optional<Bytes> raw;     // when Raw Data Length bytes lie in the region
};

struct Region {
  uint64_t size = 0;
  std::vector<StatusBlock> blocks;
  uint64_t tailOffset = 0;  // bytes after the last block that no block claims
  uint64_t tailBytes = 0;
  bool tailZero = true;
};

struct TableHeader {
  EFI_ACPI_SDT_HEADER raw{};
  uint64_t fileSize = 0;
  bool checksumChecked = false;  // Length bytes were all there to sum
  bool checksumOk = false;
  uint8_t expectedChecksum = 0;  // the byte that would make the sum 0
};

struct Bert {
  TableHeader header;
  uint32_t regionLength = 0;
  uint64_t regionAddress = 0;
  std::optional<Region> region;  // when the region's bytes were given
  uint64_t regionFileSize = 0;
};

struct HestSource {
  uint64_t offset = 0;
  uint16_t type = 0;
  uint16_t sourceId = 0;
  uint64_t length = 0;
};

struct Hest {
  TableHeader header;
  uint32_t sourceCount = 0;
  std::vector<HestSource> sources;
  bool walkComplete = true;  // every structure's type and length known
};

enum class BankState { kAbsent, kNoValidError, kLogged };

struct McaBank {
  uint64_t bank = 0;
  BankState state = BankState::kNoValidError;
  uint64_t status = 0;
  // msr2, msr3, msr4, msr5, msr6, msr8, msr9, msrA
  std::array<uint64_t, 8> regs{};
};

struct McaSnapshot {
  std::string status;  // of the capture, as written ("EFI_SUCCESS")
  uint64_t processorNumber = 0;
  std::string processorInfo;
  std::optional<uint64_t> bankCount;
  std::vector<McaBank> banks;
};

inline constexpr const char* kMcaRegisterNames[8] = {"msr2", "msr3", "msr4", "msr5",
                                                     "msr6", "msr8", "msr9", "msrA"};

struct Decoded {
  Kind kind = Kind::kRegion;
  std::optional<Region> region;
  std::optional<Bert> bert;
  std::optional<Hest> hest;
  std::optional<McaSnapshot> mca;
  std::vector<Damage> damage;
  std::vector<std::string> notes;
};

// Decodes `bytes` as `kind` (kAuto: DetectKind). For a BERT table, `region`
// holds the bytes of its boot error region when the caller has them (the
// table gives only the region's physical address).
Decoded Decode(std::span<const uint8_t> bytes, Kind kind,
               std::optional<std::span<const uint8_t>> region = std::nullopt);

// The pieces, for callers that know what they hold. Each appends its faults
// and notes to `out`.
Region DecodeRegion(std::span<const uint8_t> bytes, Decoded& out);
Bert DecodeBert(std::span<const uint8_t> table, std::optional<std::span<const uint8_t>> region,
                Decoded& out);
Hest DecodeHest(std::span<const uint8_t> table, Decoded& out);
McaSnapshot DecodeMcaSnapshot(std::span<const uint8_t> text, Decoded& out);

// ---- names -----------------------------------------------------------------
const char* SectionName(const uint8_t* guid);   // "platform memory", or nullptr
const char* MemoryErrorTypeName(uint8_t type);  // "Multi-bit ECC", or nullptr (reserved)
// The bytes each validation bit covers, and the bits' names.
std::span<const SectionFieldSpan> MemoryFieldSpans();
std::span<const SectionFieldSpan> ProcessorFieldSpans();
std::vector<std::string> ProcessorValidNames(uint64_t validationBits);
const char* ProcessorTypeName(uint8_t type);            // "IA32/X64", or nullptr
const char* ProcessorIsaName(uint8_t isa);              // "X64", or nullptr
const char* ProcessorOperationName(uint8_t operation);  // "data read", or nullptr
std::vector<std::string> ProcessorErrorTypeNames(uint8_t errorType);
std::vector<std::string> ProcessorFlagNames(uint8_t flags);

// A CPER timestamp: its text ("2024-12-31 12:34:56 (precise)") when every
// field is BCD and in range, else what is wrong; `bytes` as they stand.
struct TimestampCheck {
  std::optional<std::string> text;
  std::string fault;
  std::string bytes;  // "56 34 12 01 31 12 24 20"
};
TimestampCheck CheckTimestamp(uint64_t raw);
// "de ad be ef" (two digits a byte, lower case, one space between).
std::string HexBytes(std::span<const uint8_t> bytes);
// Names of the set bits, from a table of (bit, name).
std::vector<std::string> BlockStatusNames(uint32_t blockStatus);
std::vector<std::string> EntryFlagNames(uint8_t flags);
std::vector<std::string> MemoryValidNames(uint64_t validationBits);
std::vector<std::string> McaStatusNames(uint64_t status);  // "VAL", "OVER", ...
std::string McaErrorCodeText(uint16_t code);               // the architectural code's class
std::string ErrorStatusText(uint64_t errorStatus);         // "ERR_MEM (...), data"
const char* HestTypeName(uint16_t type);                   // or nullptr

}  // namespace records
