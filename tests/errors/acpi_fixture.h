// A simulated platform with the ACPI table and SDT protocols, a BERT and a
// HEST, and helpers to build and read the error records the tests use.
#pragma once

#include "addr_translate/errors/error_slots.h"
#include "diag/boot_services_table.h"
#include "sim/acpi/acpi_tables.h"
#include "sim/platform/platform.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <vector>

namespace errors_test {

using Bytes = std::vector<uint8_t>;

inline Bytes Block(uint32_t status, uint32_t rawOffset, uint32_t rawLength, uint32_t dataLength,
                   uint32_t severity, size_t regionLength = 0) {
  GenericErrorStatusBlock b{status, rawOffset, rawLength, dataLength, severity};
  Bytes out(sizeof b);
  std::memcpy(out.data(), &b, sizeof b);
  if (regionLength > out.size()) out.resize(regionLength, 0);
  return out;
}

inline GenericErrorStatusBlock ReadBlock(const Bytes& region) {
  GenericErrorStatusBlock b{};
  if (region.size() >= sizeof b) std::memcpy(&b, region.data(), sizeof b);
  return b;
}

inline uint32_t U32At(const Bytes& b, size_t off) {
  uint32_t v = 0;
  std::memcpy(&v, b.data() + off, 4);
  return v;
}
inline uint64_t U64At(const Bytes& b, size_t off) {
  uint64_t v = 0;
  std::memcpy(&v, b.data() + off, 8);
  return v;
}

inline Bytes Pattern(size_t n, uint8_t start) {
  Bytes b(n);
  for (size_t i = 0; i < n; ++i) b[i] = static_cast<uint8_t>(start + i);
  return b;
}

inline Bytes Cat(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

// HEST error source type 0 (processor machine check exception) without
// banks: 40 bytes.
inline Bytes MachineCheckSource(uint16_t sourceId) {
  Bytes s(40, 0);
  s[0] = 0;  // type
  std::memcpy(s.data() + 2, &sourceId, 2);
  s[7] = 1;  // enabled
  const uint32_t records = 1, sections = 1;
  std::memcpy(s.data() + 8, &records, 4);
  std::memcpy(s.data() + 12, &sections, 4);
  return s;
}

// HEST error source type 9 (generic hardware error source), polled: 64 bytes.
inline Bytes GenericHardwareSource(uint16_t sourceId, uint64_t statusAddress) {
  Bytes s(64, 0);
  const uint16_t type = 9, related = 0xFFFF;
  std::memcpy(s.data() + 0, &type, 2);
  std::memcpy(s.data() + 2, &sourceId, 2);
  std::memcpy(s.data() + 4, &related, 2);
  s[7] = 1;  // enabled
  const uint32_t records = 1, sections = 1, maxRaw = 0x1000;
  std::memcpy(s.data() + 8, &records, 4);
  std::memcpy(s.data() + 12, &sections, 4);
  std::memcpy(s.data() + 16, &maxRaw, 4);
  // Error status address: generic address structure in system memory, 64-bit.
  s[20] = 0;   // address space: system memory
  s[21] = 64;  // bit width
  s[22] = 0;   // bit offset
  s[23] = 4;   // access size: qword
  std::memcpy(s.data() + 24, &statusAddress, 8);
  // Notification: polled (type 0), 28 bytes, every 1000 ms.
  s[32] = 0;
  s[33] = 28;
  const uint32_t poll = 1000;
  std::memcpy(s.data() + 36, &poll, 4);
  const uint32_t blockLength = 0x1000;
  std::memcpy(s.data() + 60, &blockLength, 4);
  return s;
}

// Platform memory error section type.
inline constexpr uint8_t kPlatformMemoryErrorGuid[16] = {
    0x14, 0x11, 0xBC, 0xA5, 0x64, 0x6F, 0xDE, 0x4E, 0xB8, 0x63, 0x3E, 0x83, 0xED, 0x7C, 0x83, 0xB1};

// A Generic Error Data Entry (revision 0x300) carrying a platform memory
// error section with a physical address: 72 + 80 bytes.
inline Bytes MemoryErrorEntry(uint64_t physicalAddress, uint32_t severity) {
  Bytes section(80, 0);
  const uint64_t valid = 1u << 1;  // physical address valid
  std::memcpy(section.data() + 0, &valid, 8);
  std::memcpy(section.data() + 16, &physicalAddress, 8);
  section[72] = 4;  // memory error type: single-bit ECC
  GenericErrorDataEntry e{};
  std::memcpy(e.SectionType, kPlatformMemoryErrorGuid, 16);
  e.ErrorSeverity = severity;
  e.Revision = 0x300;
  e.ErrorDataLength = static_cast<uint32_t>(section.size());
  Bytes out(sizeof e);
  std::memcpy(out.data(), &e, sizeof e);
  return Cat(out, section);
}

class AcpiPlatform : public ::testing::Test {
 protected:
  AcpiPlatform() { Reset(); }
  ~AcpiPlatform() override { diag::gBS = nullptr; }

  // A fresh platform (with both ACPI protocols) in place of the current one.
  void Reset() {
    platform_.reset();
    platform_ = std::make_unique<sim::Platform>();
    diag::gBS = P().BootServices();
    sim::acpi::InstallProtocols(P());
  }
  sim::Platform& P() { return *platform_; }

  Bytes Bert() { return sim::acpi::TableBytes(P(), kBertSignature); }
  Bytes Hest() { return sim::acpi::TableBytes(P(), kHestSignature); }
  Bytes Region() { return sim::acpi::BootErrorRegion(P()); }
  uint64_t RegionAddress() {
    const Bytes b = Bert();
    return U64At(b, 40);
  }
  static bool ChecksumOk(const Bytes& t) {
    return !t.empty() && sim::acpi::ByteSum(t.data(), t.size()) == 0 && U32At(t, 4) == t.size();
  }

  std::unique_ptr<sim::Platform> platform_;
};

}  // namespace errors_test
