// The memory devices (SMBIOS type 17) of a DMI table, parsed here: the raw
// table (/sys/firmware/dmi/tables/DMI) or `dmidecode --dump-bin` output (an
// SMBIOS 2.1 or 3.0 entry point, then the table at the offset it names).
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace platsim::smbios {

struct MemoryDevice {
  uint16_t handle = 0;
  size_t offset = 0;    // of the structure in the file
  std::string locator;  // device locator: the silkscreen label, as the firmware names it
  std::string bankLocator;
  std::optional<uint64_t> sizeBytes;  // none: unknown; 0: no DIMM installed
  std::optional<uint32_t> speed;      // MT/s
  std::optional<uint32_t> ranks;
  std::string manufacturer, serial, part;
};

struct Table {
  std::vector<MemoryDevice> devices;
  std::vector<std::string> damage;  // what could not be read, with its offset
};

// Throws UserError when the bytes are no DMI table at all.
Table ReadMemoryDevices(std::span<const uint8_t> bytes);

}  // namespace platsim::smbios
