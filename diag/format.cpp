#include "diag/format.h"

namespace diag {

namespace {

// Appends characters while there is room for them and the NUL.
struct Output {
  char* buffer;
  uint64_t size;
  uint64_t length = 0;

  void Put(char c) {
    if (length + 1 < size) buffer[length++] = c;
  }
};

// Digits of `value` in `base`, least significant first; returns how many.
unsigned ToDigits(uint64_t value, unsigned base, bool upper, char (&digits)[24]) {
  const char* alphabet = upper ? "0123456789ABCDEF" : "0123456789abcdef";
  unsigned n = 0;
  do {
    digits[n++] = alphabet[value % base];
    value /= base;
  } while (value != 0);
  return n;
}

void PutNumber(Output& out, uint64_t magnitude, bool negative, unsigned base, bool upper,
               bool zeroPad, unsigned width) {
  char digits[24];
  const unsigned n = ToDigits(magnitude, base, upper, digits);
  const unsigned used = n + (negative ? 1 : 0);
  const unsigned pad = width > used ? width - used : 0;
  if (!zeroPad) {
    for (unsigned i = 0; i < pad; ++i) out.Put(' ');
  }
  if (negative) out.Put('-');
  if (zeroPad) {
    for (unsigned i = 0; i < pad; ++i) out.Put('0');
  }
  for (unsigned i = n; i > 0; --i) out.Put(digits[i - 1]);
}

}  // namespace

uint64_t FormatV(char* buffer, uint64_t size, const char* format, va_list args) {
  if (buffer == nullptr || size == 0) return 0;
  Output out{buffer, size};
  bool error = format == nullptr;

  for (const char* f = format; !error && *f != '\0'; ++f) {
    if (*f == '\n') {
      out.Put('\r');
      out.Put('\n');
      continue;
    }
    if (*f != '%') {
      out.Put(*f);
      continue;
    }
    ++f;
    if (*f == '%') {
      out.Put('%');
      continue;
    }
    bool zeroPad = false;
    if (*f == '0') {
      zeroPad = true;
      ++f;
    }
    unsigned width = 0;
    while (*f >= '0' && *f <= '9') {
      width = width * 10 + static_cast<unsigned>(*f - '0');
      if (width > 64) width = 64;  // no message needs more; keeps the loop bounded
      ++f;
    }
    bool wide = false;
    if (*f == 'l') {
      wide = true;
      ++f;
      if (*f == 'l') ++f;
    }
    switch (*f) {
      case 'd': {
        const int64_t v = wide ? va_arg(args, int64_t) : va_arg(args, int32_t);
        const bool negative = v < 0;
        // Magnitude without overflowing on the most negative value.
        const uint64_t magnitude =
            negative ? 0 - static_cast<uint64_t>(v) : static_cast<uint64_t>(v);
        PutNumber(out, magnitude, negative, 10, false, zeroPad, width);
        break;
      }
      case 'u':
      case 'x':
      case 'X': {
        const uint64_t v = wide ? va_arg(args, uint64_t) : va_arg(args, uint32_t);
        PutNumber(out, v, false, *f == 'u' ? 10 : 16, *f == 'X', zeroPad, width);
        break;
      }
      default:  // unknown conversion, or the format ended after '%'
        error = true;
        break;
    }
  }

  if (error) out.length = 0;
  buffer[out.length] = '\0';
  return out.length;
}

uint64_t Format(char* buffer, uint64_t size, const char* format, ...) {
  va_list args;
  va_start(args, format);
  const uint64_t n = FormatV(buffer, size, format, args);
  va_end(args);
  return n;
}

}  // namespace diag
