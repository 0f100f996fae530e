// The times and lengths `platsim faults` takes and prints, in UTC.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace platsim::faults {

// Seconds since 1970 UTC from a number, or "YYYY-MM-DD" with an optional
// " HH:MM[:SS]" or "THH:MM[:SS]" and an optional "Z" or " UTC". A date that
// does not exist (2026-02-30) is refused. Throws UserError naming `option`.
int64_t ParseTime(const std::string& text, const char* option);

// A length of time: "24h", "90m", "3600s", "2d" or seconds; above zero.
int64_t ParseWindow(const std::string& text);

// "2026-12-01 10:00:00 UTC", or "no time".
std::string TimeText(const std::optional<int64_t>& t);

}  // namespace platsim::faults
