#include "apps/tiv_tool/core/text_line.h"

namespace tivtool {

Text& Text::Add(char c) {
  if (size_ < capacity_) {
    text_[size_++] = c;
    text_[size_] = '\0';
  } else {
    full_ = true;
  }
  return *this;
}

Text& Text::Add(const char* text) {
  while (*text != '\0') Add(*text++);
  return *this;
}

Text& Text::Dec(uint64_t v) {
  char digits[20];
  unsigned n = 0;
  do {
    digits[n++] = static_cast<char>('0' + v % 10);
    v /= 10;
  } while (v != 0);
  while (n > 0) Add(digits[--n]);
  return *this;
}

Text& Text::Hex(uint64_t v, unsigned digits) {
  Add("0x");
  unsigned n = 16;
  while (n > 1 && n > digits && ((v >> (4 * (n - 1))) & 0xF) == 0) --n;
  while (n > 0) {
    --n;
    Add("0123456789ABCDEF"[(v >> (4 * n)) & 0xF]);
  }
  return *this;
}

Text& Text::Bytes(const uint8_t* bytes, size_t n) {
  for (size_t i = 0; i < n; ++i) {
    if (i != 0) Add(' ');
    Add("0123456789abcdef"[bytes[i] >> 4]);
    Add("0123456789abcdef"[bytes[i] & 0xF]);
  }
  return *this;
}

Text& Text::PadTo(size_t column) {
  if (size_ >= column) return Add(' ');
  while (size_ < column && !full_) Add(' ');
  return *this;
}

Text& Text::Label(unsigned indent, const char* label) {
  for (unsigned i = 0; i < indent; ++i) Add(' ');
  Add(label);
  return PadTo(indent + 20u);
}

}  // namespace tivtool
