// platsim's global options and the two ways a command fails, for every part
// of the program (the command table itself is commands.h).
#pragma once

#include "tools/common/input_error.h"

#include <stdexcept>
#include <string>

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

}  // namespace platsim
