// The pieces of a Common Platform Error Record that boot error regions carry:
// section type GUIDs, the Generic Error Data Entry header in its two sizes,
// the platform memory and generic processor error sections and the CPER
// timestamp. Little-endian and
// packed, as the UEFI error record appendix and the ACPI APEI tables lay them
// out. The Generic Error Status Block, the full (timestamped) data entry
// header and the ACPI table headers come from pi/acpi_tables.h.
#pragma once

#include "pi/acpi_tables.h"

#include <array>
#include <cstddef>
#include <cstdint>

namespace records {

// EFI_GUID byte order: Data1 (32-bit), Data2 and Data3 (16-bit) little-endian,
// then Data4's eight bytes as they stand.
using GuidBytes = std::array<uint8_t, 16>;

constexpr GuidBytes MakeGuid(uint32_t d1, uint16_t d2, uint16_t d3, std::array<uint8_t, 8> d4) {
  GuidBytes g{};
  for (unsigned i = 0; i < 4; ++i) g[i] = static_cast<uint8_t>(d1 >> (8 * i));
  for (unsigned i = 0; i < 2; ++i) g[4 + i] = static_cast<uint8_t>(d2 >> (8 * i));
  for (unsigned i = 0; i < 2; ++i) g[6 + i] = static_cast<uint8_t>(d3 >> (8 * i));
  for (unsigned i = 0; i < 8; ++i) g[8 + i] = d4[i];
  return g;
}

inline constexpr GuidBytes kPlatformMemorySection =
    MakeGuid(0xA5BC1114, 0x6F64, 0x4EDE, {0xB8, 0x63, 0x3E, 0x83, 0xED, 0x7C, 0x83, 0xB1});
static_assert(kPlatformMemorySection[0] == 0x14 && kPlatformMemorySection[3] == 0xA5 &&
              kPlatformMemorySection[4] == 0x64 && kPlatformMemorySection[8] == 0xB8);

inline constexpr GuidBytes kProcessorGenericSection =
    MakeGuid(0x9876CCAD, 0x47B4, 0x4BDB, {0xB6, 0x5E, 0x16, 0xF1, 0x93, 0xC4, 0xF3, 0xDB});

// Generic Error Data Entry header: revisions below 0x300 end at offset 64;
// revision 0x300 and later add the 8-byte timestamp there.
inline constexpr uint32_t kDataEntryHeaderBytes = offsetof(GenericErrorDataEntry, Timestamp);
inline constexpr uint32_t kDataEntryTimestampedHeaderBytes = sizeof(GenericErrorDataEntry);
inline constexpr uint16_t kDataEntryTimestampRevision = 0x300;
static_assert(kDataEntryHeaderBytes == 64 && kDataEntryTimestampedHeaderBytes == 72);
static_assert(offsetof(GenericErrorDataEntry, ValidationBits) == 22);
static_assert(offsetof(GenericErrorDataEntry, Flags) == 23);

// Validation bits of the data entry header.
inline constexpr uint8_t kEntryFruIdValid = 1u << 0;
inline constexpr uint8_t kEntryFruTextValid = 1u << 1;
inline constexpr uint8_t kEntryTimestampValid = 1u << 2;

// CPER timestamp: BCD seconds, minutes, hours, a flags byte (bit 0: the time
// is precise), BCD day, month, year, century.
struct CperTimestamp {
  uint8_t Seconds;
  uint8_t Minutes;
  uint8_t Hours;
  uint8_t Flags;
  uint8_t Day;
  uint8_t Month;
  uint8_t Year;
  uint8_t Century;
};
static_assert(sizeof(CperTimestamp) == 8);

#pragma pack(push, 1)

// Platform memory error section.
struct CperMemoryErrorSection {
  uint64_t ValidationBits;
  uint64_t ErrorStatus;
  uint64_t PhysicalAddress;
  uint64_t PhysicalAddressMask;
  uint16_t Node;
  uint16_t Card;
  uint16_t Module;
  uint16_t Bank;  // bank group in 15:8 and bank address in 7:0 when those bits are valid
  uint16_t Device;
  uint16_t Row;
  uint16_t Column;
  uint16_t BitPosition;
  uint64_t RequestorId;
  uint64_t ResponderId;
  uint64_t TargetId;
  uint8_t MemoryErrorType;
  uint8_t Extended;  // bits 1:0 row bits 17:16, bits 7:5 chip identification
  uint16_t RankNumber;
  uint16_t CardHandle;
  uint16_t ModuleHandle;
};
static_assert(sizeof(CperMemoryErrorSection) == 80);
static_assert(offsetof(CperMemoryErrorSection, ErrorStatus) == 8);
static_assert(offsetof(CperMemoryErrorSection, PhysicalAddress) == 16);
static_assert(offsetof(CperMemoryErrorSection, PhysicalAddressMask) == 24);
static_assert(offsetof(CperMemoryErrorSection, Node) == 32);
static_assert(offsetof(CperMemoryErrorSection, Card) == 34);
static_assert(offsetof(CperMemoryErrorSection, Module) == 36);
static_assert(offsetof(CperMemoryErrorSection, Bank) == 38);
static_assert(offsetof(CperMemoryErrorSection, Device) == 40);
static_assert(offsetof(CperMemoryErrorSection, Row) == 42);
static_assert(offsetof(CperMemoryErrorSection, Column) == 44);
static_assert(offsetof(CperMemoryErrorSection, BitPosition) == 46);
static_assert(offsetof(CperMemoryErrorSection, RequestorId) == 48);
static_assert(offsetof(CperMemoryErrorSection, ResponderId) == 56);
static_assert(offsetof(CperMemoryErrorSection, TargetId) == 64);
static_assert(offsetof(CperMemoryErrorSection, MemoryErrorType) == 72);
static_assert(offsetof(CperMemoryErrorSection, Extended) == 73);
static_assert(offsetof(CperMemoryErrorSection, RankNumber) == 74);
static_assert(offsetof(CperMemoryErrorSection, CardHandle) == 76);
static_assert(offsetof(CperMemoryErrorSection, ModuleHandle) == 78);

// Generic processor error section.
struct CperProcessorGenericSection {
  uint64_t ValidationBits;
  uint8_t ProcessorType;  // 0 IA32/X64, 1 IA64, 2 ARM
  uint8_t ProcessorIsa;   // 0 IA32, 1 IA64, 2 X64, 3 ARM A32/T32, 4 ARM A64
  uint8_t ErrorType;      // bits: 0 cache, 1 TLB, 2 bus, 3 micro-architectural
  uint8_t Operation;      // 0 generic, 1 data read, 2 data write, 3 instruction execution
  uint8_t Flags;          // bits: 0 restartable, 1 precise IP, 2 overflow, 3 corrected
  uint8_t Level;
  uint16_t Reserved;
  uint64_t CpuVersion;
  char BrandString[128];
  uint64_t ProcessorId;
  uint64_t TargetAddress;
  uint64_t RequestorId;
  uint64_t ResponderId;
  uint64_t InstructionIp;
};
static_assert(sizeof(CperProcessorGenericSection) == 192);
static_assert(offsetof(CperProcessorGenericSection, ProcessorType) == 8);
static_assert(offsetof(CperProcessorGenericSection, Level) == 13);
static_assert(offsetof(CperProcessorGenericSection, CpuVersion) == 16);
static_assert(offsetof(CperProcessorGenericSection, BrandString) == 24);
static_assert(offsetof(CperProcessorGenericSection, ProcessorId) == 152);
static_assert(offsetof(CperProcessorGenericSection, TargetAddress) == 160);
static_assert(offsetof(CperProcessorGenericSection, RequestorId) == 168);
static_assert(offsetof(CperProcessorGenericSection, ResponderId) == 176);
static_assert(offsetof(CperProcessorGenericSection, InstructionIp) == 184);

#pragma pack(pop)

// The memory error section of UEFI 2.1 ends after Memory Error Type; the
// extended byte, the rank and the two handles came later (80 bytes).
inline constexpr uint32_t kMemorySectionFirstLayoutBytes =
    offsetof(CperMemoryErrorSection, Extended);
static_assert(kMemorySectionFirstLayoutBytes == 73);

// Validation bits of the memory error section, bit by bit.
enum MemoryValidBit : unsigned {
  kMemErrorStatus = 0,
  kMemPhysicalAddress = 1,
  kMemPhysicalAddressMask = 2,
  kMemNode = 3,
  kMemCard = 4,
  kMemModule = 5,
  kMemBank = 6,
  kMemDevice = 7,
  kMemRow = 8,
  kMemColumn = 9,
  kMemBitPosition = 10,
  kMemRequestorId = 11,
  kMemResponderId = 12,
  kMemTargetId = 13,
  kMemErrorType = 14,
  kMemRank = 15,
  kMemCardHandle = 16,
  kMemModuleHandle = 17,
  kMemExtendedRow = 18,
  kMemBankGroup = 19,
  kMemBankAddress = 20,
  kMemChipId = 21,
  kMemValidBitCount = 22,  // bits 63:22 are reserved
};

// Validation bits of the generic processor error section.
enum ProcessorValidBit : unsigned {
  kProcType = 0,
  kProcIsa = 1,
  kProcErrorType = 2,
  kProcOperation = 3,
  kProcFlags = 4,
  kProcLevel = 5,
  kProcCpuVersion = 6,
  kProcBrandString = 7,
  kProcId = 8,
  kProcTargetAddress = 9,
  kProcRequestorId = 10,
  kProcResponderId = 11,
  kProcInstructionIp = 12,
  kProcValidBitCount = 13,  // bits 63:13 are reserved
};

// Where a validated field lies in its section: the bytes it is read from.
struct SectionFieldSpan {
  unsigned bit;
  const char* name;
  uint32_t offset, width;
};

}  // namespace records
