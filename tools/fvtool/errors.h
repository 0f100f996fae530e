// The two ways fvtool says no. Both carry a message that names the file,
// volume or offset involved.
#pragma once

#include "tools/common/hex_text.h"

#include <cstdint>
#include <stdexcept>
#include <string>

namespace fvtool {

// The request is understood but cannot be carried out on this input: no room,
// not a volume, an unknown compression, an image that is not PE32+, an
// unknown GUID name (exit code 1).
struct Refusal : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// The command line or an input text is malformed: a bad --add item, an
// unreadable file, a dependency expression that does not parse (exit code 2).
struct InputError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// Messages write numbers as "0x1A2B".
using tools::Hex;

}  // namespace fvtool
