#include "tools/platsim/cli/parse_number.h"

#include "tools/platsim/cli/options.h"

#include <string>

namespace platsim {

uint64_t ParseNumber(std::string_view text, std::string_view what) {
  const auto fail = [&](const char* why) {
    return UserError(std::string(what) + ": " + why + ": '" + std::string(text) + "'");
  };
  if (text.empty()) throw UserError(std::string(what) + ": empty");
  const bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
  const std::string_view digits = hex ? text.substr(2) : text;
  const uint64_t base = hex ? 16 : 10;
  uint64_t v = 0;
  for (const char c : digits) {
    uint64_t d = 0;
    if (c >= '0' && c <= '9')
      d = static_cast<uint64_t>(c - '0');
    else if (hex && c >= 'a' && c <= 'f')
      d = static_cast<uint64_t>(c - 'a' + 10);
    else if (hex && c >= 'A' && c <= 'F')
      d = static_cast<uint64_t>(c - 'A' + 10);
    else
      throw fail("not a number");
    if (__builtin_mul_overflow(v, base, &v) || __builtin_add_overflow(v, d, &v))
      throw fail("out of range");
  }
  return v;
}

}  // namespace platsim
