// platsim's subcommands. Each family lives in a file of its own and adds
// itself to the application here.
#pragma once

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
// command has already said what was wrong).
struct UserError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// The firmware refused, or what it answered does not hold: exit code 1. The
// message, if any, is printed as "platsim: error: <what>"; an empty one means
// the command has already said everything.
struct Refusal : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// Parses an address or number: decimal, or hex with 0x. Throws UserError
// naming `what` on anything else.
uint64_t ParseNumber(std::string_view text, std::string_view what);

void AddProfileCommands(CLI::App& app, GlobalOptions& opts);
void AddTranslateCommands(CLI::App& app, GlobalOptions& opts);
void AddMcaCommands(CLI::App& app, GlobalOptions& opts);
void AddAcpiCommands(CLI::App& app, GlobalOptions& opts);
void AddMailboxCommands(CLI::App& app, GlobalOptions& opts);
void AddMapCommands(CLI::App& app, GlobalOptions& opts);
void AddDecodeCommands(CLI::App& app, GlobalOptions& opts);

}  // namespace platsim
