// ACPI table layouts used by the error-table appends: the common description
// header, the Boot Error Record Table, the Generic Error Status Block at the
// head of its boot error region, and the head of the Hardware Error Source
// Table. Little-endian, packed as the ACPI specification lays them out.
#pragma once

#include <cstddef>
#include <cstdint>

#pragma pack(push, 1)

struct EFI_ACPI_SDT_HEADER {
  uint32_t Signature;
  uint32_t Length;  // whole table, in bytes
  uint8_t Revision;
  uint8_t Checksum;  // all Length bytes sum to 0 modulo 256
  char OemId[6];
  char OemTableId[8];
  uint32_t OemRevision;
  uint32_t CreatorId;
  uint32_t CreatorRevision;
};
static_assert(sizeof(EFI_ACPI_SDT_HEADER) == 36);
static_assert(offsetof(EFI_ACPI_SDT_HEADER, Length) == 4);
static_assert(offsetof(EFI_ACPI_SDT_HEADER, Revision) == 8);
static_assert(offsetof(EFI_ACPI_SDT_HEADER, Checksum) == 9);
static_assert(offsetof(EFI_ACPI_SDT_HEADER, OemId) == 10);
static_assert(offsetof(EFI_ACPI_SDT_HEADER, OemTableId) == 16);
static_assert(offsetof(EFI_ACPI_SDT_HEADER, OemRevision) == 24);
static_assert(offsetof(EFI_ACPI_SDT_HEADER, CreatorId) == 28);
static_assert(offsetof(EFI_ACPI_SDT_HEADER, CreatorRevision) == 32);

inline constexpr uint32_t kBertSignature = 0x54524542;  // "BERT"
inline constexpr uint32_t kHestSignature = 0x54534548;  // "HEST"

struct AcpiBert {
  EFI_ACPI_SDT_HEADER Header;
  uint32_t BootErrorRegionLength;
  uint64_t BootErrorRegion;  // physical address of the region
};
static_assert(sizeof(AcpiBert) == 48);
static_assert(offsetof(AcpiBert, BootErrorRegionLength) == 36);
static_assert(offsetof(AcpiBert, BootErrorRegion) == 40);

// Generic Error Status Block: the head of the boot error region. The Generic
// Error Data Entries follow it (DataLength bytes), the raw data sits at
// RawDataOffset from the start of the block.
struct GenericErrorStatusBlock {
  uint32_t BlockStatus;
  uint32_t RawDataOffset;
  uint32_t RawDataLength;
  uint32_t DataLength;
  uint32_t ErrorSeverity;
};
static_assert(sizeof(GenericErrorStatusBlock) == 20);
static_assert(offsetof(GenericErrorStatusBlock, RawDataOffset) == 4);
static_assert(offsetof(GenericErrorStatusBlock, RawDataLength) == 8);
static_assert(offsetof(GenericErrorStatusBlock, DataLength) == 12);
static_assert(offsetof(GenericErrorStatusBlock, ErrorSeverity) == 16);

// Block Status bits.
inline constexpr uint32_t kBlockUncorrectableValid = 1u << 0;
inline constexpr uint32_t kBlockCorrectableValid = 1u << 1;
inline constexpr uint32_t kBlockMultipleUncorrectable = 1u << 2;
inline constexpr uint32_t kBlockMultipleCorrectable = 1u << 3;
inline constexpr uint32_t kBlockEntryCountShift = 4;
inline constexpr uint32_t kBlockEntryCountMask = 0x3FF0;  // bits 13:4

// Error Severity coding.
inline constexpr uint32_t kSeverityRecoverable = 0;
inline constexpr uint32_t kSeverityFatal = 1;
inline constexpr uint32_t kSeverityCorrected = 2;
inline constexpr uint32_t kSeverityNone = 3;

// Generic Error Data Entry header (revision 0x300, with the timestamp).
struct GenericErrorDataEntry {
  uint8_t SectionType[16];  // GUID
  uint32_t ErrorSeverity;
  uint16_t Revision;
  uint8_t ValidationBits;
  uint8_t Flags;
  uint32_t ErrorDataLength;
  uint8_t FruId[16];
  char FruText[20];
  uint64_t Timestamp;
};
static_assert(sizeof(GenericErrorDataEntry) == 72);
static_assert(offsetof(GenericErrorDataEntry, ErrorSeverity) == 16);
static_assert(offsetof(GenericErrorDataEntry, Revision) == 20);
static_assert(offsetof(GenericErrorDataEntry, ErrorDataLength) == 24);
static_assert(offsetof(GenericErrorDataEntry, FruId) == 28);
static_assert(offsetof(GenericErrorDataEntry, FruText) == 44);
static_assert(offsetof(GenericErrorDataEntry, Timestamp) == 64);

struct AcpiHestHeader {
  EFI_ACPI_SDT_HEADER Header;
  uint32_t ErrorSourceCount;
};
static_assert(sizeof(AcpiHestHeader) == 40);
static_assert(offsetof(AcpiHestHeader, ErrorSourceCount) == 36);

#pragma pack(pop)
