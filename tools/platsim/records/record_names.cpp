// Names of the coded fields in error records: status bits, CPER section
// types, the memory and processor sections' fields and codes, timestamps, machine-check status bits
// and error codes, HEST structure types.
#include "tools/common/mca_error_code.h"
#include "tools/platsim/records/record_decode.h"

#include <cstddef>
#include <cstdio>
#include <cstring>

namespace records {

namespace {

struct BitName {
  unsigned bit;
  const char* name;
};

template <typename T, size_t N>
std::vector<std::string> SetBits(T value, const BitName (&table)[N]) {
  std::vector<std::string> out;
  for (const auto& b : table)
    if ((static_cast<uint64_t>(value) >> b.bit) & 1) out.emplace_back(b.name);
  return out;
}

struct SectionType {
  GuidBytes guid;
  const char* name;
};

// The section types of the UEFI error record appendix. Only the platform
// memory and generic processor sections are decoded; the others are named.
constexpr SectionType kSectionTypes[] = {
    {kProcessorGenericSection, "processor generic"},
    {MakeGuid(0xDC3EA0B0, 0xA144, 0x4797, {0xB9, 0x5B, 0x53, 0xFA, 0x24, 0x2B, 0x6E, 0x1D}),
     "IA32/X64 processor"},
    {MakeGuid(0xE429FAF1, 0x3CB7, 0x11D4, {0xBC, 0xA7, 0x00, 0x80, 0xC7, 0x3C, 0x88, 0x81}),
     "IA64 processor"},
    {MakeGuid(0xE19E3D16, 0xBC11, 0x11E4, {0x9C, 0xAA, 0xC2, 0x05, 0x1D, 0x5D, 0x46, 0xB0}),
     "ARM processor"},
    {kPlatformMemorySection, "platform memory"},
    {MakeGuid(0x61EC04FC, 0x48E6, 0xD813, {0x25, 0xC9, 0x8D, 0xAA, 0x44, 0x75, 0x0B, 0x12}),
     "platform memory 2"},
    {MakeGuid(0xD995E954, 0xBBC1, 0x430F, {0xAD, 0x91, 0xB4, 0x4D, 0xCB, 0x3C, 0x6F, 0x35}),
     "PCI Express"},
    {MakeGuid(0x81212A96, 0x09ED, 0x4996, {0x94, 0x71, 0x8D, 0x72, 0x9C, 0x8E, 0x69, 0xED}),
     "firmware error record reference"},
    {MakeGuid(0xC5753963, 0x3B84, 0x4095, {0xBF, 0x78, 0xED, 0xDA, 0xD3, 0xF9, 0xC9, 0xDD}),
     "PCI/PCI-X bus"},
    {MakeGuid(0xEB5E4685, 0xCA66, 0x4769, {0xB6, 0xA2, 0x26, 0x06, 0x8B, 0x00, 0x13, 0x26}),
     "PCI/PCI-X component"},
    {MakeGuid(0x5B51FEF7, 0xC79D, 0x4434, {0x8F, 0x1B, 0xAA, 0x62, 0xDE, 0x3E, 0x2C, 0x64}),
     "DMAr generic"},
    {MakeGuid(0x71761D37, 0x32B2, 0x45CD, {0xA7, 0xD0, 0xB0, 0xFE, 0xDD, 0x93, 0xE8, 0xCF}),
     "VT for Directed I/O DMAr"},
    {MakeGuid(0x036F84E1, 0x7F37, 0x428C, {0xA7, 0x9E, 0x57, 0x5F, 0xDF, 0xAA, 0x84, 0xEC}),
     "IOMMU DMAr"},
    {MakeGuid(0x91335EF6, 0xEBFB, 0x4478, {0xA6, 0xA6, 0x88, 0xB7, 0x28, 0xCF, 0x75, 0xD7}),
     "CCIX PER log"},
    {MakeGuid(0x80B9EFB4, 0x52B5, 0x4DE3, {0xA7, 0x77, 0x68, 0x78, 0x4B, 0x77, 0x10, 0x48}),
     "CXL protocol error"},
    {MakeGuid(0xFBCD0A77, 0xC260, 0x417F, {0x85, 0xA9, 0x08, 0x8B, 0x16, 0x21, 0xEB, 0xA6}),
     "CXL general media event"},
    {MakeGuid(0x601DCBB3, 0x9C06, 0x4EAB, {0xB8, 0xAF, 0x4E, 0x9B, 0xFB, 0x5C, 0x96, 0x24}),
     "CXL DRAM event"},
    {MakeGuid(0xFE927475, 0xDD59, 0x4339, {0xA5, 0x86, 0x79, 0xBA, 0xB1, 0x13, 0xB7, 0x74}),
     "CXL memory module event"},
};

}  // namespace

const char* SectionName(const uint8_t* guid) {
  for (const auto& t : kSectionTypes)
    if (std::memcmp(t.guid.data(), guid, 16) == 0) return t.name;
  return nullptr;
}

const char* MemoryErrorTypeName(uint8_t type) {
  static const char* const kNames[] = {"Unknown",
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
  return type < std::size(kNames) ? kNames[type] : nullptr;
}

std::span<const SectionFieldSpan> MemoryFieldSpans() {
  using M = CperMemoryErrorSection;
  static const SectionFieldSpan kSpans[] = {
      {kMemErrorStatus, "error status", offsetof(M, ErrorStatus), 8},
      {kMemPhysicalAddress, "physical address", offsetof(M, PhysicalAddress), 8},
      {kMemPhysicalAddressMask, "physical address mask", offsetof(M, PhysicalAddressMask), 8},
      {kMemNode, "node", offsetof(M, Node), 2},
      {kMemCard, "card", offsetof(M, Card), 2},
      {kMemModule, "module", offsetof(M, Module), 2},
      {kMemBank, "bank", offsetof(M, Bank), 2},
      {kMemDevice, "device", offsetof(M, Device), 2},
      {kMemRow, "row", offsetof(M, Row), 2},
      {kMemColumn, "column", offsetof(M, Column), 2},
      {kMemBitPosition, "bit position", offsetof(M, BitPosition), 2},
      {kMemRequestorId, "requestor id", offsetof(M, RequestorId), 8},
      {kMemResponderId, "responder id", offsetof(M, ResponderId), 8},
      {kMemTargetId, "target id", offsetof(M, TargetId), 8},
      {kMemErrorType, "memory error type", offsetof(M, MemoryErrorType), 1},
      {kMemRank, "rank", offsetof(M, RankNumber), 2},
      {kMemCardHandle, "card handle", offsetof(M, CardHandle), 2},
      {kMemModuleHandle, "module handle", offsetof(M, ModuleHandle), 2},
      {kMemExtendedRow, "row bits 17:16", offsetof(M, Extended), 1},
      {kMemBankGroup, "bank group", offsetof(M, Bank) + 1, 1},
      {kMemBankAddress, "bank address", offsetof(M, Bank), 1},
      {kMemChipId, "chip identification", offsetof(M, Extended), 1},
  };
  return kSpans;
}

std::span<const SectionFieldSpan> ProcessorFieldSpans() {
  using P = CperProcessorGenericSection;
  static const SectionFieldSpan kSpans[] = {
      {kProcType, "processor type", offsetof(P, ProcessorType), 1},
      {kProcIsa, "processor ISA", offsetof(P, ProcessorIsa), 1},
      {kProcErrorType, "error type", offsetof(P, ErrorType), 1},
      {kProcOperation, "operation", offsetof(P, Operation), 1},
      {kProcFlags, "flags", offsetof(P, Flags), 1},
      {kProcLevel, "level", offsetof(P, Level), 1},
      {kProcCpuVersion, "CPU version", offsetof(P, CpuVersion), 8},
      {kProcBrandString, "CPU brand string", offsetof(P, BrandString), 128},
      {kProcId, "processor id", offsetof(P, ProcessorId), 8},
      {kProcTargetAddress, "target address", offsetof(P, TargetAddress), 8},
      {kProcRequestorId, "requestor id", offsetof(P, RequestorId), 8},
      {kProcResponderId, "responder id", offsetof(P, ResponderId), 8},
      {kProcInstructionIp, "instruction IP", offsetof(P, InstructionIp), 8},
  };
  return kSpans;
}

namespace {

std::vector<std::string> SpanNames(uint64_t validationBits,
                                   std::span<const SectionFieldSpan> spans) {
  std::vector<std::string> out;
  for (unsigned bit = 0; bit < 64; ++bit)
    if ((validationBits >> bit) & 1)
      for (const auto& s : spans)
        if (s.bit == bit) out.emplace_back(s.name);
  return out;
}

}  // namespace

std::vector<std::string> ProcessorValidNames(uint64_t validationBits) {
  return SpanNames(validationBits, ProcessorFieldSpans());
}

const char* ProcessorTypeName(uint8_t type) {
  static const char* const kNames[] = {"IA32/X64", "IA64", "ARM"};
  return type < std::size(kNames) ? kNames[type] : nullptr;
}

const char* ProcessorIsaName(uint8_t isa) {
  static const char* const kNames[] = {"IA32", "IA64", "X64", "ARM A32/T32", "ARM A64"};
  return isa < std::size(kNames) ? kNames[isa] : nullptr;
}

const char* ProcessorOperationName(uint8_t operation) {
  static const char* const kNames[] = {"unknown or generic", "data read", "data write",
                                       "instruction execution"};
  return operation < std::size(kNames) ? kNames[operation] : nullptr;
}

std::vector<std::string> ProcessorErrorTypeNames(uint8_t errorType) {
  static const BitName kBits[] = {
      {0, "cache error"}, {1, "TLB error"}, {2, "bus error"}, {3, "micro-architectural error"}};
  return SetBits(errorType, kBits);
}

std::vector<std::string> ProcessorFlagNames(uint8_t flags) {
  static const BitName kBits[] = {
      {0, "restartable"}, {1, "precise IP"}, {2, "overflow"}, {3, "corrected"}};
  return SetBits(flags, kBits);
}

std::string HexBytes(std::span<const uint8_t> bytes) {
  std::string s;
  char buf[4];
  for (size_t i = 0; i < bytes.size(); ++i) {
    std::snprintf(buf, sizeof buf, "%02x", bytes[i]);
    s += (i ? " " : "") + std::string(buf);
  }
  return s;
}

// The clock writes two BCD digits a field; a digit above 9 or a field out
// of its range means the bytes are not a time, and no date is made of them.
TimestampCheck CheckTimestamp(uint64_t raw) {
  CperTimestamp t;
  std::memcpy(&t, &raw, sizeof t);
  uint8_t bytes[8];
  std::memcpy(bytes, &raw, sizeof bytes);
  TimestampCheck c;
  c.bytes = HexBytes(bytes);
  struct Field {
    const char* name;
    uint8_t value;
    unsigned low, high;
  };
  const Field fields[] = {{"century", t.Century, 0, 99}, {"year", t.Year, 0, 99},
                          {"month", t.Month, 1, 12},     {"day", t.Day, 1, 31},
                          {"hour", t.Hours, 0, 23},      {"minute", t.Minutes, 0, 59},
                          {"second", t.Seconds, 0, 59}};
  std::string fault;
  for (const auto& f : fields) {
    const unsigned hi = f.value >> 4, lo = f.value & 0xF;
    std::string why;
    if (hi > 9 || lo > 9)
      why = "is not BCD";
    else if (hi * 10 + lo < f.low || hi * 10 + lo > f.high)
      why = "is not " + std::to_string(f.low) + " to " + std::to_string(f.high);
    if (!why.empty()) {
      char value[8];
      std::snprintf(value, sizeof value, "0x%02X", f.value);
      fault += (fault.empty() ? "" : ", ") + std::string(f.name) + " " + value + " " + why;
    }
  }
  if (!fault.empty()) {
    c.fault = fault;
    return c;
  }
  char buf[48];
  std::snprintf(buf, sizeof buf, "%02X%02X-%02X-%02X %02X:%02X:%02X (%s)", t.Century, t.Year,
                t.Month, t.Day, t.Hours, t.Minutes, t.Seconds,
                (t.Flags & 1) ? "precise" : "imprecise");
  c.text = buf;
  return c;
}

std::vector<std::string> BlockStatusNames(uint32_t blockStatus) {
  static const BitName kBits[] = {{0, "uncorrectable valid"},
                                  {1, "correctable valid"},
                                  {2, "multiple uncorrectable"},
                                  {3, "multiple correctable"}};
  return SetBits(blockStatus, kBits);
}

std::vector<std::string> EntryFlagNames(uint8_t flags) {
  static const BitName kBits[] = {{0, "primary"},
                                  {1, "containment warning"},
                                  {2, "reset"},
                                  {3, "error threshold exceeded"},
                                  {4, "resource not accessible"},
                                  {5, "latent error"},
                                  {6, "propagated"},
                                  {7, "overflow"}};
  return SetBits(flags, kBits);
}

std::vector<std::string> MemoryValidNames(uint64_t validationBits) {
  return SpanNames(validationBits, MemoryFieldSpans());
}

std::vector<std::string> McaStatusNames(uint64_t status) {
  static const BitName kBits[] = {{63, "VAL"},   {62, "OVER"},  {61, "UC"}, {60, "EN"},
                                  {59, "MISCV"}, {58, "ADDRV"}, {57, "PCC"}};
  return SetBits(status, kBits);
}

std::string McaErrorCodeText(uint16_t code) {
  std::string text;
  tools::AppendMcaErrorCodeText(code, {&text, [](void* c, const char* piece) {
                                         static_cast<std::string*>(c)->append(piece);
                                       }});
  return text;
}

// CPER Error Status: the error type in bits 15:8 and what the error was
// detected on in bits 22:16, in the words of the UEFI table.
std::string ErrorStatusText(uint64_t errorStatus) {
  struct Type {
    unsigned code;
    const char* name;
    const char* text;
  };
  static const Type kTypes[] = {
      {1, "ERR_INTERNAL", "Error detected internal to the component"},
      {4, "ERR_MEM", "Storage error in DRAM memory"},
      {5, "ERR_TLB", "Storage error in TLB"},
      {6, "ERR_CACHE", "Storage error in cache"},
      {7, "ERR_FUNCTION", "Error in one or more functional units"},
      {8, "ERR_SELFTEST", "Component failed self test"},
      {9, "ERR_FLOW", "Overflow or Undervalue of internal queue"},
      {16, "ERR_BUS", "Error detected in the bus"},
      {17, "ERR_MAP", "Virtual address not found on IO-TLB or IO-PDIR"},
      {18, "ERR_IMPROPER", "Improper access error"},
      {19, "ERR_UNIMPL", "Access to a memory address which is not mapped to any component"},
      {20, "ERR_LOL", "Loss of Lockstep"},
      {21, "ERR_RESPONSE", "Response not associated with a request"},
      {22, "ERR_PARITY", "Bus parity error"},
      {23, "ERR_PROTOCOL", "Detection of a protocol error"},
      {24, "ERR_ERROR", "Detection of a PATH_ERROR"},
      {25, "ERR_TIMEOUT", "Bus operation timeout"},
      {26, "ERR_POISONED", "A read was issued to data that has been poisoned"},
  };
  static const BitName kBits[] = {{16, "address"},   {17, "control"},   {18, "data"},
                                  {19, "responder"}, {20, "requester"}, {21, "first error"},
                                  {22, "overflow"}};
  const unsigned type = (errorStatus >> 8) & 0xFF;
  std::string text = "reserved (type " + std::to_string(type) + ")";
  for (const auto& t : kTypes)
    if (t.code == type)
      text = std::string(t.text) + " (" + t.name + ", type " + std::to_string(type) + ")";
  for (const auto& n : SetBits(errorStatus, kBits)) text += ", " + n;
  return text;
}

const char* HestTypeName(uint16_t type) {
  switch (type) {
    case 0:
      return "IA-32 machine check exception";
    case 1:
      return "IA-32 corrected machine check";
    case 2:
      return "IA-32 NMI error";
    case 6:
      return "PCI Express root port AER";
    case 7:
      return "PCI Express device AER";
    case 8:
      return "PCI Express/PCI-X bridge AER";
    case 9:
      return "generic hardware error source";
    case 10:
      return "generic hardware error source version 2";
    case 11:
      return "IA-32 deferred machine check";
  }
  return nullptr;
}

}  // namespace records
