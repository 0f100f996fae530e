// Time text of the logs, to seconds since 1970 UTC.
#include "tools/platsim/logs/log_text.h"

#include <array>
#include <charconv>
#include <ctime>

namespace platsim::logs {

namespace {

// Days from 1970-01-01 to the date (proleptic Gregorian).
int64_t DaysFromCivil(int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

bool Digits(std::string_view s, size_t at, size_t n, unsigned& out) {
  if (at + n > s.size()) return false;
  out = 0;
  for (size_t i = at; i < at + n; ++i) {
    if (s[i] < '0' || s[i] > '9') return false;
    out = out * 10 + static_cast<unsigned>(s[i] - '0');
  }
  return true;
}

std::optional<int64_t> Compose(unsigned y, unsigned mo, unsigned d, unsigned h, unsigned mi,
                               unsigned s) {
  static constexpr std::array<unsigned, 12> kDays = {31, 29, 31, 30, 31, 30,
                                                     31, 31, 30, 31, 30, 31};
  if (mo < 1 || mo > 12 || d < 1 || d > kDays[mo - 1] || h > 23 || mi > 59 || s > 60)
    return std::nullopt;
  const bool leap = (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
  if (mo == 2 && d == 29 && !leap) return std::nullopt;
  return DaysFromCivil(y, mo, d) * 86400 + h * 3600 + mi * 60 + s;
}

// "+0100", "+01:00", "Z", "" (UTC): the offset in seconds east of UTC.
std::optional<int64_t> Zone(std::string_view z) {
  if (z.empty() || z == "Z" || z == "UTC") return 0;
  if (z[0] != '+' && z[0] != '-') return std::nullopt;
  unsigned h = 0, m = 0;
  if (z.size() == 5 && Digits(z, 1, 2, h) && Digits(z, 3, 2, m)) {
  } else if (z.size() == 6 && z[3] == ':' && Digits(z, 1, 2, h) && Digits(z, 4, 2, m)) {
  } else {
    return std::nullopt;
  }
  if (h > 23 || m > 59) return std::nullopt;
  const int64_t off = h * 3600 + m * 60;
  return z[0] == '-' ? -off : off;
}

}  // namespace

std::optional<int64_t> ParseTimeText(std::string_view t) {
  while (!t.empty() && t.front() == ' ') t.remove_prefix(1);
  while (!t.empty() && t.back() == ' ') t.remove_suffix(1);
  unsigned y, mo, d, h, mi, s;
  // 2026-12-01 10:00:00 +0000, 2026-12-01T10:00:00.123+01:00
  if (Digits(t, 0, 4, y) && t.size() >= 19 && t[4] == '-' && Digits(t, 5, 2, mo) && t[7] == '-' &&
      Digits(t, 8, 2, d) && (t[10] == ' ' || t[10] == 'T') && Digits(t, 11, 2, h) && t[13] == ':' &&
      Digits(t, 14, 2, mi) && t[16] == ':' && Digits(t, 17, 2, s)) {
    size_t at = 19;
    if (at < t.size() && (t[at] == '.' || t[at] == ',')) {
      ++at;
      while (at < t.size() && t[at] >= '0' && t[at] <= '9') ++at;
    }
    std::string_view rest = t.substr(at);
    while (!rest.empty() && rest.front() == ' ') rest.remove_prefix(1);
    const auto zone = Zone(rest);
    const auto base = Compose(y, mo, d, h, mi, s);
    if (!zone || !base) return std::nullopt;
    return *base - *zone;
  }
  // Tue Dec  1 10:00:00 2026
  static constexpr std::array<std::string_view, 12> kMonths = {
      "Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  if (t.size() >= 24 && t[3] == ' ' && t[7] == ' ') {
    mo = 0;
    for (unsigned i = 0; i < 12; ++i)
      if (t.substr(4, 3) == kMonths[i]) mo = i + 1;
    const std::string_view day = t[8] == ' ' ? t.substr(9, 1) : t.substr(8, 2);
    unsigned dd = 0;
    if (mo == 0 || !Digits(day, 0, day.size(), dd) || t[10] != ' ' || !Digits(t, 11, 2, h) ||
        t[13] != ':' || !Digits(t, 14, 2, mi) || t[16] != ':' || !Digits(t, 17, 2, s) ||
        t[19] != ' ' || t.size() != 24 || !Digits(t, 20, 4, y))
      return std::nullopt;
    return Compose(y, mo, dd, h, mi, s);
  }
  return std::nullopt;
}

std::string UtcTimeText(int64_t seconds) {
  const std::time_t t = static_cast<std::time_t>(seconds);
  std::tm tm{};
  gmtime_r(&t, &tm);
  char buf[40];
  std::strftime(buf, sizeof buf, "%Y-%m-%d %H:%M:%S UTC", &tm);
  return buf;
}

const char* SeverityName(Severity severity) {
  return severity == Severity::kCorrected ? "corrected" : "uncorrected";
}

}  // namespace platsim::logs
