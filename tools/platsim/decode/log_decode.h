// platsim decode on the logs of a running machine (rasdaemon's database,
// kernel log text) and on several files at once: every memory error with its
// source, which address it carries and that address translated; the lines
// and rows that could not be read at the end, with their numbers.
#pragma once

#include "tools/platsim/cli/options.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace platsim {

// True when `file` holds rasdaemon's database or kernel log text (what the
// single-record decode does not read).
bool IsLogInput(const std::string& file);

// Exit 1 (Refusal) when a line or row was not read or an address not
// translated, after everything is shown. `preread`: the bytes of the first
// file, when they have been read already (standard input, a pipe).
void RunLogDecode(const GlobalOptions& opts, const std::vector<std::string>& files,
                  std::optional<std::vector<uint8_t>> preread = std::nullopt);

}  // namespace platsim
