#include "tools/common/size_text.h"

#include <cstdio>
#include <iterator>

namespace tools {

std::string ExactSizeText(uint64_t bytes) {
  static const char* const kUnits[] = {"bytes", "KiB", "MiB", "GiB", "TiB", "PiB"};
  unsigned u = 0;
  while (u + 1 < std::size(kUnits) && bytes >= 1024 && bytes % 1024 == 0) {
    bytes /= 1024;
    ++u;
  }
  return std::to_string(bytes) + " " + kUnits[u];
}

std::string SizeText(uint64_t bytes) {
  static const char* const kUnits[] = {"B", "KiB", "MiB", "GiB", "TiB", "PiB", "EiB"};
  unsigned u = 0;
  while (u < 6 && bytes >> (10 * (u + 1)) != 0) ++u;
  const uint64_t unit = 1ULL << (10 * u);
  if (bytes % unit == 0) return std::to_string(bytes / unit) + " " + kUnits[u];
  // Two decimals say it exactly more often than not (1.5 GiB, 17.25 GiB).
  const double v = static_cast<double>(bytes) / static_cast<double>(unit);
  const bool exact = (bytes * 100) % unit == 0 && bytes < (1ULL << 57);
  char buf[32];
  std::snprintf(buf, sizeof buf, "%s%.2f", exact ? "" : "~", v);
  std::string s = buf;
  while (s.back() == '0') s.pop_back();
  if (s.back() == '.') s.pop_back();
  return s + " " + kUnits[u];
}

}  // namespace tools
