// Output files written whole: replaced, flushed and checked, so a full disk
// or a folder that does not exist is an InputError (exit code 2) rather than
// a file cut short without a word.
#pragma once

#include <string>
#include <string_view>

namespace tools {

// Writes `text` to `path`, replacing what it held; throws InputError(`failure`)
// when the file cannot be opened or written.
void WriteOutputFile(const std::string& path, std::string_view text, const std::string& failure);

}  // namespace tools
