#include "apps/tiv_tool/core/number_text.h"

#include "efi/uefi.h"

namespace tivtool {

bool ParseNumber(const char* text, uint64_t* value) {
  uint64_t v = 0;
  const bool hex = text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
  const char* p = hex ? text + 2 : text;
  if (*p == '\0') return false;
  for (; *p != '\0'; ++p) {
    const char c = *p;
    int d = -1;
    if (c >= '0' && c <= '9') d = c - '0';
    if (hex && c >= 'a' && c <= 'f') d = c - 'a' + 10;
    if (hex && c >= 'A' && c <= 'F') d = c - 'A' + 10;
    if (d < 0) return false;
    const unsigned base = hex ? 16 : 10;
    if (v > (UINT64_MAX - static_cast<uint64_t>(d)) / base) return false;
    v = v * base + static_cast<uint64_t>(d);
  }
  *value = v;
  return true;
}

}  // namespace tivtool
