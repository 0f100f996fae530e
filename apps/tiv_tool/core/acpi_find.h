// An installed ACPI table by its signature: the RSDP of the configuration
// table, its XSDT (or, before ACPI 2.0, its RSDT), and the table the entries
// point at. Every read of physical memory goes through the ToolIo.
#pragma once

#include "apps/tiv_tool/core/tool_io.h"

#include <stdint.h>

namespace tivtool {

struct FoundTable {
  const uint8_t* bytes = nullptr;  // null: no such table
  uint32_t length = 0;
  const char* problem = nullptr;  // why the search failed: no RSDP, a damaged XSDT
};

FoundTable FindAcpiTable(ToolIo& io, uint32_t signature);

uint32_t Read32(const uint8_t* p);
uint64_t Read64(const uint8_t* p);

}  // namespace tivtool
