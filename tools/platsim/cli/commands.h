// platsim's command table. Each family of subcommands lives in a folder of
// its own and adds itself to the application here. Only the files that build
// the command line include it (CLI11 is the heaviest header of the program);
// the rest take the options and the two ways a command fails from options.h.
#pragma once

#include "tools/platsim/cli/options.h"
#include "tools/platsim/cli/parse_number.h"

#include <CLI/CLI.hpp>

#include <string>

namespace platsim {

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
void AddFaultsCommands(CLI::App& app, GlobalOptions& opts);
void AddCaptureCommands(CLI::App& app, GlobalOptions& opts);

}  // namespace platsim
