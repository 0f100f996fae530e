// Numbers as hex text, the one way every host tool writes them: "0x" and
// upper-case digits.
#pragma once

#include <cstdint>
#include <string>

namespace tools {

// Zero-padded to at least `digits` digits (0: no padding; at most 16).
inline std::string HexText(uint64_t v, int digits = 0) {
  char buf[18];
  int i = sizeof buf;
  do {
    buf[--i] = "0123456789ABCDEF"[v & 0xF];
    v >>= 4;
  } while (v != 0 || (i > 2 && static_cast<int>(sizeof buf) - i < digits));
  buf[--i] = 'x';
  buf[--i] = '0';
  return std::string(buf + i, sizeof buf - static_cast<size_t>(i));
}

// 0x723456789
inline std::string Hex(uint64_t v) {
  return HexText(v);
}

// 0x0000000723456789
inline std::string Hex64(uint64_t v) {
  return HexText(v, 16);
}

}  // namespace tools
