#include "tests/firmware/smm/debug_console.h"

#include "hw/hw.h"

namespace fwtest {

void DebugText(const char* text) {
  for (; *text; ++text) hw::IoWrite8(kDebugConsolePort, static_cast<uint8_t>(*text));
}

void DebugHex(uint64_t value, unsigned digits) {
  char buf[19];
  if (digits == 0 || digits > 16) digits = 16;
  buf[0] = '0';
  buf[1] = 'x';
  for (unsigned i = 0; i < digits; ++i) {
    const unsigned nibble = (value >> (4 * (digits - 1 - i))) & 0xF;
    buf[2 + i] = static_cast<char>(nibble < 10 ? '0' + nibble : 'A' + nibble - 10);
  }
  buf[2 + digits] = 0;
  DebugText(buf);
}

void DebugDecimal(uint64_t value) {
  char buf[21];
  unsigned n = 0;
  do {
    buf[n++] = static_cast<char>('0' + value % 10);
    value /= 10;
  } while (value != 0);
  char out[21];
  for (unsigned i = 0; i < n; ++i) out[i] = buf[n - 1 - i];
  out[n] = 0;
  DebugText(out);
}

}  // namespace fwtest
