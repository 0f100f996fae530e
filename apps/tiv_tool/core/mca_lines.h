// A machine-check snapshot from slot 5, shown as `platsim decode` shows a
// snapshot file, and written as the JSON `platsim mca --json` writes (which
// `platsim decode` reads back).
#pragma once

#include "apps/tiv_tool/core/text_line.h"
#include "apps/tiv_tool/core/tool_io.h"
#include "mca_bank_snapshot.h"

#include <stdint.h>

namespace tivtool {

enum class BankState { kAbsent, kNoValidError, kLogged };

// What slot 5 put into a snapshot that was all ones before the call: a bank
// whose index and status are 0 is absent; one whose index is still all ones
// logged nothing.
BankState StateOf(const McaBankSnapshot& s, uint64_t bank);
// The banks shown: none when the processor did not write the count.
uint64_t BanksShown(const McaBankSnapshot& s);

// "cache hierarchy error, generic read, generic, generic level": the
// architectural part of a bank's error code (status bits 15:0).
void AddMcaErrorCodeText(Text& out, uint16_t code);

// With `translation`, a logged address (msr2, ADDRV set) is translated as
// `translate sys` does, through slot 2 of this machine, under a row
// "translated", as decode shows it.
void PrintMcaSnapshot(ToolIo& io, EFI_STATUS status, const McaBankSnapshot& s,
                      TranslationProtocol* translation = nullptr);

// The snapshot as JSON into `out`; false when `out` is too small.
bool WriteMcaJson(Text& out, EFI_STATUS status, const McaBankSnapshot& s);
// Room the JSON of `s` needs at most.
size_t McaJsonBytes(const McaBankSnapshot& s);

}  // namespace tivtool
