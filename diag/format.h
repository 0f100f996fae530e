// The formatter behind DiagPrint: a small printf subset, bounded by the
// buffer, that turns every "\n" of the format into CR LF (the line end the
// serial and debugger back-ends expect).
//
// Conversions: %d and %u (32-bit), %x and %X (32-bit hexadecimal), each with
// an optional '0' flag and field width, an 'l' or "ll" length for 64-bit
// arguments, and %%. Any other conversion is a format error.
#pragma once

#include <cstdarg>
#include <cstdint>

namespace diag {

// Formats into buffer[0..size-1] and NUL-terminates (when size > 0). Returns
// the number of characters produced without the NUL: at most size - 1, longer
// output is cut. A format error (null format, unknown conversion) produces an
// empty string and returns 0.
uint64_t FormatV(char* buffer, uint64_t size, const char* format, va_list args);
uint64_t Format(char* buffer, uint64_t size, const char* format, ...)
    __attribute__((format(printf, 3, 4)));

}  // namespace diag
