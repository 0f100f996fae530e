#include "capture/profile_text.h"

namespace capture {

namespace {
constexpr char kHexDigits[] = "0123456789ABCDEF";
}

void ProfileText::Raw(const char* text, size_t length) {
  if (ok_ && length != 0) ok_ = sink_.write(sink_.context, text, length);
}

void ProfileText::Raw(const char* text) {
  size_t n = 0;
  while (text[n] != '\0') ++n;
  Raw(text, n);
}

void ProfileText::String(const char* text) {
  Raw("\"", 1);
  size_t run = 0;  // characters since the last escape, written in one piece
  for (size_t i = 0;; ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (c != '\0' && c != '"' && c != '\\' && c >= 0x20) {
      ++run;
      continue;
    }
    Raw(text + i - run, run);
    run = 0;
    if (c == '\0') break;
    char escape[6] = {'\\', static_cast<char>(c), 0, 0, 0, 0};
    size_t length = 2;
    if (c < 0x20) {
      escape[1] = 'u';
      escape[2] = '0';
      escape[3] = '0';
      escape[4] = kHexDigits[c >> 4];
      escape[5] = kHexDigits[c & 0xF];
      length = 6;
    }
    Raw(escape, length);
  }
  Raw("\"", 1);
}

void ProfileText::HexBytes(const uint8_t* bytes, size_t count, bool spaced) {
  Raw("\"", 1);
  char chunk[96];
  size_t used = 0;
  for (size_t i = 0; i < count; ++i) {
    if (spaced && i != 0) chunk[used++] = ' ';
    chunk[used++] = kHexDigits[bytes[i] >> 4];
    chunk[used++] = kHexDigits[bytes[i] & 0xF];
    if (used > sizeof chunk - 3) {
      Raw(chunk, used);
      used = 0;
    }
  }
  Raw(chunk, used);
  Raw("\"", 1);
}

}  // namespace capture
