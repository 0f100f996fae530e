// `translate sys` and `translate norm` as platsim prints them: the same
// labels, columns and number forms, so the same question gives the same lines
// on the board and at the desk. What the board cannot know without reading
// the data fabric itself (the owner's csFabricId and node, platsim's checks
// against the registers) is left out; the lines it prints are platsim's.
#pragma once

#include "apps/tiv_tool/core/text_line.h"
#include "apps/tiv_tool/core/tool_io.h"
#include "dram_address.h"
#include "normalized_address.h"

#include <stdint.h>

namespace tivtool {

// One system address through slot 2, and its normalized address back through
// slot 1.
struct SysAnswer {
  uint64_t address = 0;
  EFI_STATUS status = EFI_SUCCESS;  // of slot 2
  NormalizedAddress norm{};
  DramAddress dram{};
  EFI_STATUS backStatus = EFI_SUCCESS;  // of slot 1
  uint64_t back = 0;
  DramAddress dramBack{};
};

// One normalized address of a channel through slot 1.
struct NormAnswer {
  uint64_t normalized = 0;
  uint8_t socket = 0, die = 0, channel = 0;
  EFI_STATUS status = EFI_SUCCESS;  // of slot 1
  uint64_t system = 0;
  DramAddress dram{};
  bool dramWritten = false;  // slot 1 wrote the coordinates (it does before it looks for a map)
};

SysAnswer AskSystem(TranslationProtocol& p, uint64_t address);
NormAnswer AskNormalized(TranslationProtocol& p, uint64_t normalized, uint8_t socket, uint8_t die,
                         uint8_t channel);

// "chip select 1, bank 9, row 0xABC, column 0x1A5, rank multiplier 1", or
// "none (channel slot 18 is beyond the 16 slots ...)" for a channel the
// ChannelConfigTable has no slot for.
void AddDramText(Text& line, const DramAddress& d, uint8_t socket, uint8_t die, uint8_t channel);

// The report lines; `error` gets the refusal (platsim's words, without a
// prefix), left empty when the answer stands.
void PrintSys(ToolIo& io, const SysAnswer& a, Text& error);
void PrintNorm(ToolIo& io, const NormAnswer& a, Text& error);

}  // namespace tivtool
