// The tool's subcommands: argument parsing, the calls into the
// TranslationProtocol and what is printed, written against ToolIo only. One
// entry of the table per subcommand, with its help lines.
#pragma once

#include "apps/tiv_tool/core/tool_io.h"

namespace tivtool {

// The words after the subcommand's name.
struct Args {
  const char* const* words;
  unsigned count;
};

struct Usage {
  const char* synopsis;  // "mca CPU [--out FILE]"
  const char* what;      // one line
};

struct Command {
  const char* name;
  Usage usage[2];  // unused entries have no synopsis
  EFI_STATUS (*run)(ToolIo& io, const Args& args);
};

// The table, for help and for tests.
const Command* Commands(unsigned* count);

// Runs the command line `argv[0] SUBCOMMAND ARGS...` (argv[0] is the tool's
// own name); returns the exit status. Every failure prints one line
// "TivTool: error: ..." first.
EFI_STATUS Run(ToolIo& io, unsigned argc, const char* const* argv);

}  // namespace tivtool
