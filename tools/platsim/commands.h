// platsim's subcommands. Each family lives in a file of its own and adds
// itself to the application here.
#pragma once

#include <CLI/CLI.hpp>

#include <stdexcept>
#include <string>

namespace platsim {

struct GlobalOptions {
  std::string profile;  // empty: the built-in default platform
  bool json = false;
  bool trace = false;
  bool diag = false;
};

// A mistake of the user (bad address, unknown channel...): printed as
// "platsim: error: <what>" with exit code 2.
struct UserError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// Parses an address or number: decimal, or hex with 0x. Throws UserError
// naming `what` on anything else.
uint64_t ParseNumber(const std::string& text, const std::string& what);

void AddProfileCommands(CLI::App& app, GlobalOptions& opts);
void AddTranslateCommands(CLI::App& app, GlobalOptions& opts);
void AddMcaCommands(CLI::App& app, GlobalOptions& opts);
void AddAcpiCommands(CLI::App& app, GlobalOptions& opts);
void AddMailboxCommands(CLI::App& app, GlobalOptions& opts);
void AddMapCommands(CLI::App& app, GlobalOptions& opts);
void AddDecodeCommands(CLI::App& app, GlobalOptions& opts);

}  // namespace platsim
