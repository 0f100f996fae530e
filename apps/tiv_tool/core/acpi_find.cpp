#include "apps/tiv_tool/core/acpi_find.h"

namespace tivtool {

namespace {

constexpr uint32_t kHeaderBytes = 36;
constexpr uint32_t kXsdtSignature = 0x54445358;  // "XSDT"
constexpr uint32_t kRsdtSignature = 0x54445352;  // "RSDT"

// A whole table at `address`: its header first, then its length.
const uint8_t* MapTable(ToolIo& io, uint64_t address, uint32_t* length) {
  const auto* head = static_cast<const uint8_t*>(io.Physical(address, kHeaderBytes));
  if (head == nullptr) return nullptr;
  *length = Read32(head + 4);
  if (*length < kHeaderBytes) return nullptr;
  return static_cast<const uint8_t*>(io.Physical(address, *length));
}

}  // namespace

uint32_t Read32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
         static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

uint64_t Read64(const uint8_t* p) {
  return static_cast<uint64_t>(Read32(p)) | static_cast<uint64_t>(Read32(p + 4)) << 32;
}

FoundTable FindAcpiTable(ToolIo& io, uint32_t signature) {
  FoundTable found;
  const auto* rsdp = static_cast<const uint8_t*>(io.AcpiRsdp());
  const char kRsdpSignature[] = "RSD PTR ";
  for (unsigned i = 0; rsdp != nullptr && i < 8; ++i)
    if (rsdp[i] != static_cast<uint8_t>(kRsdpSignature[i])) rsdp = nullptr;
  if (rsdp == nullptr) {
    found.problem = "the configuration table has no ACPI 2.0 RSDP";
    return found;
  }
  // ACPI 2.0 and later: 64-bit entries in the XSDT; before: 32-bit in the RSDT.
  const bool extended = rsdp[15] >= 2 && Read64(rsdp + 24) != 0;
  const uint64_t rootAddress = extended ? Read64(rsdp + 24) : Read32(rsdp + 16);
  const unsigned entryBytes = extended ? 8 : 4;
  uint32_t rootLength = 0;
  const uint8_t* root = MapTable(io, rootAddress, &rootLength);
  if (root == nullptr || Read32(root) != (extended ? kXsdtSignature : kRsdtSignature)) {
    found.problem =
        extended ? "the RSDP's XSDT is not readable" : "the RSDP's RSDT is not readable";
    return found;
  }
  for (uint32_t at = kHeaderBytes; at + entryBytes <= rootLength; at += entryBytes) {
    const uint64_t address = extended ? Read64(root + at) : Read32(root + at);
    uint32_t length = 0;
    const uint8_t* table = MapTable(io, address, &length);
    if (table != nullptr && Read32(table) == signature) {
      found.bytes = table;
      found.length = length;
      return found;
    }
  }
  return found;
}

}  // namespace tivtool
