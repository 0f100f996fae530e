// platsim's command table, its global options and the two ways a command
// fails. Each family of subcommands lives in a folder of its own and adds
// itself to the application here.
#pragma once

#include "tools/common/input_error.h"
#include "tools/platsim/cli/parse_number.h"

#include <CLI/CLI.hpp>

#include <stdexcept>
#include <string>
#include <string_view>

namespace platsim {

struct GlobalOptions {
  std::string profile;  // empty: the built-in default platform
  bool json = false;
  bool trace = false;
  bool diag = false;
};

// A mistake of the user (bad address, unknown channel, unreadable file...):
// printed as "platsim: error: <what>" with exit code 2 (an empty message: the
// command has already said what was wrong). The input files of tools/common
// refuse with the same error.
using UserError = tools::InputError;

// The firmware refused, or what it answered does not hold: exit code 1. The
// message, if any, is printed as "platsim: error: <what>"; an empty one means
// the command has already said everything.
struct Refusal : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// Puts the command's exit codes at the head of its help footer: 0 `zero`,
// 1 `one` (none when empty), 2 a usage or input error, which includes a
// profile without the section the command needs.
void SetExitCodes(CLI::App* command, const std::string& zero, const std::string& one);

void AddProfileCommands(CLI::App& app, GlobalOptions& opts);
void AddTranslateCommands(CLI::App& app, GlobalOptions& opts);
void AddMcaCommands(CLI::App& app, GlobalOptions& opts);
void AddAcpiCommands(CLI::App& app, GlobalOptions& opts);
void AddMailboxCommands(CLI::App& app, GlobalOptions& opts);
void AddMapCommands(CLI::App& app, GlobalOptions& opts);
void AddDecodeCommands(CLI::App& app, GlobalOptions& opts);

}  // namespace platsim
