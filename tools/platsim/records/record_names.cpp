// Names of the coded fields in error records: severities, status bits, CPER
// section types, memory error types, machine-check status bits and error
// codes, HEST structure types.
#include "tools/platsim/records/record_decode.h"

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

constexpr SectionType kSectionTypes[] = {
    {MakeGuid(0x9876CCAD, 0x47B4, 0x4BDB, {0xB6, 0x5E, 0x16, 0xF1, 0x93, 0xC4, 0xF3, 0xDB}),
     "processor generic"},
    {MakeGuid(0xDC3EA0B0, 0xA144, 0x4797, {0xB9, 0x5B, 0x53, 0xFA, 0x24, 0x2B, 0x6E, 0x1D}),
     "IA32/X64 processor"},
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
    {MakeGuid(0x036F84E1, 0x7F37, 0x428C, {0xA7, 0x9E, 0x57, 0x5F, 0xDF, 0xAA, 0x84, 0xEC}),
     "IOMMU DMAr"},
};

}  // namespace

const char* SectionName(const uint8_t* guid) {
  for (const auto& t : kSectionTypes)
    if (std::memcmp(t.guid.data(), guid, 16) == 0) return t.name;
  return nullptr;
}

const char* MemoryErrorTypeName(uint8_t type) {
  static const char* const kNames[] = {"unknown",
                                       "no error",
                                       "single-bit ECC",
                                       "multi-bit ECC",
                                       "single-symbol ChipKill ECC",
                                       "multi-symbol ChipKill ECC",
                                       "master abort",
                                       "target abort",
                                       "parity error",
                                       "watchdog timeout",
                                       "invalid address",
                                       "mirror broken",
                                       "memory sparing",
                                       "scrub corrected error",
                                       "scrub uncorrected error",
                                       "physical memory map-out event"};
  return type < std::size(kNames) ? kNames[type] : nullptr;
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
  static const BitName kBits[] = {{kMemErrorStatus, "error status"},
                                  {kMemPhysicalAddress, "physical address"},
                                  {kMemPhysicalAddressMask, "physical address mask"},
                                  {kMemNode, "node"},
                                  {kMemCard, "card"},
                                  {kMemModule, "module"},
                                  {kMemBank, "bank"},
                                  {kMemDevice, "device"},
                                  {kMemRow, "row"},
                                  {kMemColumn, "column"},
                                  {kMemBitPosition, "bit position"},
                                  {kMemRequestorId, "requestor id"},
                                  {kMemResponderId, "responder id"},
                                  {kMemTargetId, "target id"},
                                  {kMemErrorType, "memory error type"},
                                  {kMemRank, "rank"},
                                  {kMemCardHandle, "card handle"},
                                  {kMemModuleHandle, "module handle"},
                                  {kMemExtendedRow, "row bits 17:16"},
                                  {kMemBankGroup, "bank group"},
                                  {kMemBankAddress, "bank address"},
                                  {kMemChipId, "chip identification"}};
  return SetBits(validationBits, kBits);
}

std::vector<std::string> McaStatusNames(uint64_t status) {
  static const BitName kBits[] = {{63, "VAL"},   {62, "OVER"},  {61, "UC"}, {60, "EN"},
                                  {59, "MISCV"}, {58, "ADDRV"}, {57, "PCC"}};
  return SetBits(status, kBits);
}

// The architectural part of a machine-check error code (status bits 15:0):
// the simple codes, and the compound codes whose top nibble is 000F, F being
// the correction-report filtering bit.
std::string McaErrorCodeText(uint16_t code) {
  static const char* const kLevel[] = {"level 0", "level 1", "level 2", "generic level"};
  static const char* const kType[] = {"instruction", "data", "generic", "type 3"};
  static const char* const kRequest[] = {"generic error", "generic read", "generic write",
                                         "data read",     "data write",   "instruction fetch",
                                         "prefetch",      "eviction",     "snoop"};
  static const char* const kMemTransaction[] = {"generic", "read", "write", "address/command",
                                                "memory scrubbing"};
  static const char* const kParticipation[] = {
      "local processor originated the request", "local processor responded",
      "local processor observed as a third party", "generic participation"};
  static const char* const kMemoryOrIo[] = {"memory access", "reserved", "I/O",
                                            "other transaction"};
  switch (code) {
    case 0x0000:
      return "no error";
    case 0x0001:
      return "unclassified";
    case 0x0002:
      return "microcode ROM parity error";
    case 0x0003:
      return "external error";
    case 0x0004:
      return "FRC error";
    case 0x0005:
      return "internal parity error";
    case 0x0400:
      return "internal timer error";
  }
  if ((code & 0xFC00) == 0x0400) return "internal unclassified error";
  const unsigned c = code & 0xEFFF;
  const std::string filtered = (code & 0x1000) ? ", filtered" : "";
  const unsigned ll = c & 3, tt = (c >> 2) & 3, rrrr = (c >> 4) & 0xF;
  auto request = [&] {
    return std::string(rrrr < std::size(kRequest) ? kRequest[rrrr] : "reserved request");
  };
  if ((c & 0xFFFC) == 0x000C)
    return std::string("generic cache hierarchy error, ") + kLevel[ll] + filtered;
  if ((c & 0xFFF0) == 0x0010)
    return std::string("TLB error, ") + kType[tt] + ", " + kLevel[ll] + filtered;
  if ((c & 0xFF80) == 0x0080) {
    const unsigned mmm = (c >> 4) & 7, channel = c & 0xF;
    const std::string ch =
        channel == 0xF ? "channel not specified" : "channel " + std::to_string(channel);
    return std::string("memory controller error, ") +
           (mmm < std::size(kMemTransaction) ? kMemTransaction[mmm] : "reserved transaction") +
           ", " + ch + filtered;
  }
  if ((c & 0xFF00) == 0x0100)
    return "cache hierarchy error, " + request() + ", " + kType[tt] + ", " + kLevel[ll] + filtered;
  if ((c & 0xF800) == 0x0800) {
    const unsigned ii = (c >> 2) & 3, t = (c >> 8) & 1, pp = (c >> 9) & 3;
    return "bus or interconnect error, " + std::string(kParticipation[pp]) + ", " + request() +
           ", " + kMemoryOrIo[ii] + ", " + kLevel[ll] + (t ? ", timed out" : "") + filtered;
  }
  return "model-specific error code";
}

// CPER Error Status: the error type in bits 15:8 and what the error was
// detected on in bits 22:16.
std::string ErrorStatusText(uint64_t errorStatus) {
  struct Type {
    unsigned code;
    const char* name;
  };
  static const Type kTypes[] = {
      {1, "ERR_INTERNAL (internal to the component)"},
      {4, "ERR_MEM (storage error in memory)"},
      {5, "ERR_TLB (storage error in a TLB)"},
      {6, "ERR_CACHE (storage error in a cache)"},
      {7, "ERR_FUNCTION (functional unit)"},
      {8, "ERR_SELFTEST (self test failed)"},
      {9, "ERR_FLOW (queue overflow or underflow)"},
      {16, "ERR_BUS (on the bus)"},
      {17, "ERR_MAP (address not found in an I/O translation)"},
      {18, "ERR_IMPROPER (improper access)"},
      {19, "ERR_UNIMPL (address mapped to no component)"},
      {20, "ERR_LOL (loss of lockstep)"},
      {21, "ERR_RESPONSE (response without a request)"},
      {22, "ERR_PARITY (bus parity)"},
      {23, "ERR_PROTOCOL (protocol error)"},
      {24, "ERR_ERROR (path error)"},
      {25, "ERR_TIMEOUT (bus operation timeout)"},
      {26, "ERR_POISONED (read of poisoned data)"},
  };
  static const BitName kBits[] = {{16, "address"},   {17, "control"},   {18, "data"},
                                  {19, "responder"}, {20, "requester"}, {21, "first error"},
                                  {22, "overflow"}};
  const unsigned type = (errorStatus >> 8) & 0xFF;
  std::string text = "error type " + std::to_string(type);
  for (const auto& t : kTypes)
    if (t.code == type) text = t.name;
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
