// Whole-file reads and writes for fvtool's inputs and outputs.
#pragma once

#include "tools/fvtool/bytes.h"

#include <string>

namespace fvtool {

// Reads a regular file of at most `maxBytes` bytes; throws InputError naming
// `what` and the path otherwise.
Bytes ReadFileBytes(const std::string& path, const std::string& what, std::size_t maxBytes);

// Writes `bytes` to a temporary file beside `path`, then renames it over
// `path`, so a failed write never leaves half an image.
void WriteFileBytes(const std::string& path, ByteView bytes);

}  // namespace fvtool
