#include "tools/platsim/faults/time_text.h"

#include "tools/platsim/cli/options.h"
#include "tools/platsim/cli/parse_number.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <ctime>

namespace platsim::faults {

int64_t ParseTime(const std::string& text, const char* option) {
  const std::string bad =
      std::string(option) +
      ": expected seconds since 1970 or YYYY-MM-DD[ HH:MM[:SS]] (UTC), found '" + text + "'";
  if (!text.empty() && std::all_of(text.begin(), text.end(), [](char c) {
        return std::isdigit(static_cast<unsigned char>(c)) != 0;
      }))
    return static_cast<int64_t>(ParseNumber(text, option));
  int y = 0, mo = 0, d = 0, h = 0, mi = 0, s = 0;
  int dateEnd = 0, timeEnd = 0, secEnd = 0;
  if (std::sscanf(text.c_str(), "%4d-%2d-%2d%n", &y, &mo, &d, &dateEnd) != 3 || dateEnd != 10)
    throw UserError(bad);
  std::string rest = text.substr(10);
  if (!rest.empty() && (rest[0] == ' ' || rest[0] == 'T') && rest.size() > 1 &&
      std::isdigit(static_cast<unsigned char>(rest[1]))) {
    if (std::sscanf(rest.c_str() + 1, "%2d:%2d%n:%2d%n", &h, &mi, &timeEnd, &s, &secEnd) < 2 ||
        timeEnd != 5 || (secEnd != 0 && secEnd != 8))
      throw UserError(bad);
    rest = rest.substr(1 + static_cast<size_t>(secEnd ? secEnd : timeEnd));
  }
  if (!rest.empty() && rest != "Z" && rest != " UTC") throw UserError(bad);
  if (mo < 1 || mo > 12 || d < 1 || d > 31 || h > 23 || mi > 59 || s > 59) throw UserError(bad);
  std::tm tm{};
  tm.tm_year = y - 1900;
  tm.tm_mon = mo - 1;
  tm.tm_mday = d;
  tm.tm_hour = h;
  tm.tm_min = mi;
  tm.tm_sec = s;
  const std::time_t t = timegm(&tm);
  // timegm moves a day that does not exist into the next month.
  if (tm.tm_mday != d || tm.tm_mon != mo - 1) throw UserError(bad);
  return static_cast<int64_t>(t);
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
  if (!t) return "no time";
  const std::time_t v = static_cast<std::time_t>(*t);
  std::tm tm{};
  gmtime_r(&v, &tm);
  char buf[40];
  std::strftime(buf, sizeof buf, "%Y-%m-%d %H:%M:%S UTC", &tm);
  return buf;
}

}  // namespace platsim::faults
