// A mistake in what the user gave a tool: a malformed command line or input
// text, an unreadable or unsuitable file. The tools print its message and
// exit with code 2.
#pragma once

#include <stdexcept>

namespace tools {

struct InputError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

}  // namespace tools
