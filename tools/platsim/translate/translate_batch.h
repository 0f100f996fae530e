// platsim translate sys|norm - (or --input FILE): many translations on one
// boot of the platform, one input line each.
//
// Lines are plain (`ADDR` for sys, `ADDR SOCKET DIE CHANNEL` for norm,
// separated by blanks or commas) or JSON objects ({"systemAddress": ...} or
// {"normalizedAddress": ..., "socket": ..., "die": ..., "channel": ...}).
// Blank lines and lines starting with # are skipped. Each line gets its own
// result line (JSON Lines with --json); a line that cannot be read or
// translated is reported with its number and does not stop the others.
// The platform is named once: a first line "# platform: ..." of the text
// output, and "platsim: platform: ..." on standard error with --json.
#pragma once

#include "tools/platsim/cli/options.h"

#include <string>

namespace platsim {

enum class BatchDirection { System, Normalized };

// Returns the exit code: 0 when every line was translated, 1 when some were
// refused, 2 when some could not be read.
int TranslateBatch(const GlobalOptions& opts, BatchDirection direction, const std::string& path);

}  // namespace platsim
