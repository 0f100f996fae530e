// The simulated platform's ACPI tables: a table store that keeps table keys,
// served through EFI_ACPI_TABLE_PROTOCOL and EFI_ACPI_SDT_PROTOCOL, plus
// builders for a BERT (with its boot error region in ACPI NVS pool) and a
// HEST.
#pragma once

#include "pi/acpi_sdt_protocol.h"
#include "pi/acpi_table_protocol.h"
#include "pi/acpi_tables.h"
#include "sim/platform/platform.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace sim::acpi {

struct InstalledTable {
  UINTN key;
  std::vector<uint8_t> bytes;  // never resized while installed: pointers stay valid
};

// Platform extension: the installed tables in list order and the two
// protocol interfaces over them.
struct AcpiTableStore {
  std::vector<std::unique_ptr<InstalledTable>> tables;
  UINTN nextKey = 1;
  EFI_ACPI_TABLE_PROTOCOL tableProtocol{};
  EFI_ACPI_SDT_PROTOCOL sdtProtocol{};
  bool tableProtocolInstalled = false;
  bool sdtProtocolInstalled = false;

  UINTN Add(std::vector<uint8_t> bytes);
  bool Remove(UINTN key);
  InstalledTable* Find(uint32_t signature);
};

AcpiTableStore& Store(Platform& platform);

// Installs the two protocols on a new handle (each may be left out).
void InstallProtocols(Platform& platform, bool tableProtocol = true, bool sdtProtocol = true);

// ---- table bytes ----
uint8_t ByteSum(const uint8_t* bytes, size_t size);
void SetChecksum(std::vector<uint8_t>& table);
// A table header with this build's OEM fields; Length = `length`, checksum 0.
std::vector<uint8_t> Header(uint32_t signature, uint32_t length, uint8_t revision);
std::string SignatureText(uint32_t signature);

// A Generic Error Status Block with no entries and no raw data: raw data
// offset 20, severity none.
std::vector<uint8_t> EmptyErrorStatusBlock();

// Copies `region` into fresh EfiACPIMemoryNVS pool (which the driver may free
// when it replaces the region) and installs a BERT pointing at it.
UINTN InstallBert(Platform& platform, const std::vector<uint8_t>& region);
// Installs a HEST with `count` error sources made of `sources`.
UINTN InstallHest(Platform& platform, uint32_t count, const std::vector<uint8_t>& sources);

// The installed table with that signature, or empty.
std::vector<uint8_t> TableBytes(Platform& platform, uint32_t signature);
// The boot error region of the installed BERT, or empty.
std::vector<uint8_t> BootErrorRegion(Platform& platform);

// "01 02 ab" or "0102ab" (spaces, newlines and dashes ignored) to bytes.
std::vector<uint8_t> ParseHexBytes(const std::string& text);  // throws std::invalid_argument
std::string HexBytes(const std::vector<uint8_t>& bytes);      // "01 02 ab"

}  // namespace sim::acpi
