#include "tools/platsim/faults/time_text.h"

#include "tools/platsim/cli/options.h"
#include "tools/platsim/cli/parse_number.h"
#include "tools/platsim/logs/log_text.h"

#include <algorithm>
#include <cctype>

namespace platsim::faults {

int64_t ParseTime(const std::string& text, const char* option) {
  const std::string bad =
      std::string(option) +
      ": expected seconds since 1970 or YYYY-MM-DD[ HH:MM[:SS]] (UTC), found '" + text + "'";
  if (!text.empty() && std::all_of(text.begin(), text.end(), [](char c) {
        return std::isdigit(static_cast<unsigned char>(c)) != 0;
      }))
    return static_cast<int64_t>(ParseNumber(text, option));
  // A date alone stands for its midnight and a time without seconds for its
  // first second; the rest is read as the logs' own time stamps are.
  std::string full = text;
  if (full.size() == 10)
    full += " 00:00:00";
  else if (full.size() >= 16 && (full.size() == 16 || full[16] != ':'))
    full.insert(16, ":00");
  const std::optional<int64_t> t = logs::ParseTimeText(full);
  if (!t) throw UserError(bad);
  return *t;
}

int64_t ParseWindow(const std::string& text) {
  const std::string bad = "--window: expected a positive length such as 24h, found '" + text + "'";
  std::string digits = text;
  int64_t unit = 1;
  const char* const names = "smhd";
  const int64_t units[] = {1, 60, 3600, 86400};
  for (int i = 0; i < 4 && !text.empty(); ++i)
    if (text.back() == names[i]) {
      unit = units[i];
      digits.pop_back();
    }
  if (digits.empty()) throw UserError(bad);
  const uint64_t v = ParseNumber(digits, "--window");
  if (v == 0 || v > (uint64_t{1} << 40) / static_cast<uint64_t>(unit)) throw UserError(bad);
  return static_cast<int64_t>(v) * unit;
}

std::string TimeText(const std::optional<int64_t>& t) {
  return t ? logs::UtcTimeText(*t) : "no time";
}

}  // namespace platsim::faults
