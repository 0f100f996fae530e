// ACPI table layouts used by the error-table appends: the common description
// header, the Boot Error Record Table, the Generic Error Status Block at the
// head of its boot error region, and the head of the Hardware Error Source
// Table. Little-endian, packed as the ACPI specification lays them out.
#pragma once

#include "language_bridge.h"

#include <stddef.h>
#include <stdint.h>

#ifdef TIV_EDK2
// The EDK II build: MdePkg's description header (the same layout, checked
// below), with MdePkg's own packing.
#include <Protocol/AcpiSystemDescriptionTable.h>
#endif

#pragma pack(push, 1)

#ifndef TIV_EDK2
typedef struct EFI_ACPI_SDT_HEADER {
  uint32_t Signature;
  uint32_t Length;  // whole table, in bytes
  uint8_t Revision;
  uint8_t Checksum;  // all Length bytes sum to 0 modulo 256
  char OemId[6];
  char OemTableId[8];
  uint32_t OemRevision;
  uint32_t CreatorId;
  uint32_t CreatorRevision;
} EFI_ACPI_SDT_HEADER;
#endif  // TIV_EDK2
TIV_LAYOUT_ASSERT(sizeof(EFI_ACPI_SDT_HEADER) == 36);
TIV_LAYOUT_ASSERT(offsetof(EFI_ACPI_SDT_HEADER, Length) == 4);
TIV_LAYOUT_ASSERT(offsetof(EFI_ACPI_SDT_HEADER, Revision) == 8);
TIV_LAYOUT_ASSERT(offsetof(EFI_ACPI_SDT_HEADER, Checksum) == 9);
TIV_LAYOUT_ASSERT(offsetof(EFI_ACPI_SDT_HEADER, OemId) == 10);
TIV_LAYOUT_ASSERT(offsetof(EFI_ACPI_SDT_HEADER, OemTableId) == 16);
TIV_LAYOUT_ASSERT(offsetof(EFI_ACPI_SDT_HEADER, OemRevision) == 24);
TIV_LAYOUT_ASSERT(offsetof(EFI_ACPI_SDT_HEADER, CreatorId) == 28);
TIV_LAYOUT_ASSERT(offsetof(EFI_ACPI_SDT_HEADER, CreatorRevision) == 32);

TIV_CONSTANT uint32_t kBertSignature = 0x54524542;  // "BERT"
TIV_CONSTANT uint32_t kHestSignature = 0x54534548;  // "HEST"

typedef struct AcpiBert {
  EFI_ACPI_SDT_HEADER Header;
  uint32_t BootErrorRegionLength;
  uint64_t BootErrorRegion;  // physical address of the region
} AcpiBert;
TIV_LAYOUT_ASSERT(sizeof(AcpiBert) == 48);
TIV_LAYOUT_ASSERT(offsetof(AcpiBert, BootErrorRegionLength) == 36);
TIV_LAYOUT_ASSERT(offsetof(AcpiBert, BootErrorRegion) == 40);

// Generic Error Status Block: the head of the boot error region. The Generic
// Error Data Entries follow it (DataLength bytes), the raw data sits at
// RawDataOffset from the start of the block.
typedef struct GenericErrorStatusBlock {
  uint32_t BlockStatus;
  uint32_t RawDataOffset;
  uint32_t RawDataLength;
  uint32_t DataLength;
  uint32_t ErrorSeverity;
} GenericErrorStatusBlock;
TIV_LAYOUT_ASSERT(sizeof(GenericErrorStatusBlock) == 20);
TIV_LAYOUT_ASSERT(offsetof(GenericErrorStatusBlock, RawDataOffset) == 4);
TIV_LAYOUT_ASSERT(offsetof(GenericErrorStatusBlock, RawDataLength) == 8);
TIV_LAYOUT_ASSERT(offsetof(GenericErrorStatusBlock, DataLength) == 12);
TIV_LAYOUT_ASSERT(offsetof(GenericErrorStatusBlock, ErrorSeverity) == 16);

// Block Status bits.
TIV_CONSTANT uint32_t kBlockUncorrectableValid = 1u << 0;
TIV_CONSTANT uint32_t kBlockCorrectableValid = 1u << 1;
TIV_CONSTANT uint32_t kBlockMultipleUncorrectable = 1u << 2;
TIV_CONSTANT uint32_t kBlockMultipleCorrectable = 1u << 3;
TIV_CONSTANT uint32_t kBlockEntryCountShift = 4;
TIV_CONSTANT uint32_t kBlockEntryCountMask = 0x3FF0;  // bits 13:4

// Error Severity coding.
TIV_CONSTANT uint32_t kSeverityRecoverable = 0;
TIV_CONSTANT uint32_t kSeverityFatal = 1;
TIV_CONSTANT uint32_t kSeverityCorrected = 2;
TIV_CONSTANT uint32_t kSeverityNone = 3;

// Generic Error Data Entry header (revision 0x300, with the timestamp).
typedef struct GenericErrorDataEntry {
  uint8_t SectionType[16];  // GUID
  uint32_t ErrorSeverity;
  uint16_t Revision;
  uint8_t ValidationBits;
  uint8_t Flags;
  uint32_t ErrorDataLength;
  uint8_t FruId[16];
  char FruText[20];
  uint64_t Timestamp;
} GenericErrorDataEntry;
TIV_LAYOUT_ASSERT(sizeof(GenericErrorDataEntry) == 72);
TIV_LAYOUT_ASSERT(offsetof(GenericErrorDataEntry, ErrorSeverity) == 16);
TIV_LAYOUT_ASSERT(offsetof(GenericErrorDataEntry, Revision) == 20);
TIV_LAYOUT_ASSERT(offsetof(GenericErrorDataEntry, ErrorDataLength) == 24);
TIV_LAYOUT_ASSERT(offsetof(GenericErrorDataEntry, FruId) == 28);
TIV_LAYOUT_ASSERT(offsetof(GenericErrorDataEntry, FruText) == 44);
TIV_LAYOUT_ASSERT(offsetof(GenericErrorDataEntry, Timestamp) == 64);

typedef struct AcpiHestHeader {
  EFI_ACPI_SDT_HEADER Header;
  uint32_t ErrorSourceCount;
} AcpiHestHeader;
TIV_LAYOUT_ASSERT(sizeof(AcpiHestHeader) == 40);
TIV_LAYOUT_ASSERT(offsetof(AcpiHestHeader, ErrorSourceCount) == 36);

// HEST error source structures: the length the ACPI specification fixes
// for each type. The three IA-32 machine-check types end in one 28-byte bank
// structure per bank, counted by a byte of their fixed part.
TIV_CONSTANT uint32_t kHestBankStructureBytes = 28;

// Bytes of the fixed part of a structure of `type`, with *bankCountOffset
// set to the offset of its bank count byte (0: no banks); 0 for a type whose
// length is not fixed here.
static inline uint32_t AcpiHestSourceFixedBytes(uint16_t type, uint32_t* bankCountOffset) {
  *bankCountOffset = 0;
  switch (type) {
    case 0:  // IA-32 machine check exception
      *bankCountOffset = 32;
      return 40;
    case 1:   // IA-32 corrected machine check
    case 11:  // IA-32 deferred machine check
      *bankCountOffset = 44;
      return 48;
    case 2:  // IA-32 non-maskable interrupt
      return 20;
    case 6:  // PCI Express root port AER
      return 48;
    case 7:  // PCI Express device AER
      return 44;
    case 8:  // PCI Express bridge AER
      return 56;
    case 9:  // generic hardware error source
      return 64;
    case 10:  // generic hardware error source, version 2
      return 92;
    default:
      return 0;
  }
}

#pragma pack(pop)
