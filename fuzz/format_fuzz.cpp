// Random formats and arguments through the diagnostic formatter, restricted
// to the conversions it supports (plus some it must reject). Where the C
// library defines the result, the formatter must produce exactly what
// snprintf produces, with every "\n" of the format turned into CR LF, cut to
// the buffer; a rejected conversion yields the empty string. The buffer is
// never written past its size.
#include "diag/format.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <cinttypes>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

void Check(bool ok) {
  if (!ok) __builtin_trap();
}

constexpr int kMaxArgs = 8;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* input, size_t inputSize) {
  FuzzedDataProvider in(input, inputSize);
  std::string format;
  std::string expected;  // full output, before the cut
  bool rejected = false;
  bool comparable = true;  // false once a width beyond the formatter's cap appears
  uint64_t args[kMaxArgs] = {};
  int used = 0;

  const unsigned tokens = in.ConsumeIntegralInRange<unsigned>(0, 24);
  for (unsigned t = 0; t < tokens; ++t) {
    const unsigned kind = in.ConsumeIntegralInRange<unsigned>(0, 9);
    if (kind <= 3) {  // literal text, newlines included
      const char c = static_cast<char>(in.ConsumeIntegralInRange<int>(1, 127));
      if (c == '%') {
        format += "%%";
        expected += '%';
      } else if (c == '\n') {
        format += '\n';
        expected += "\r\n";
      } else {
        format += c;
        expected += c;
      }
      continue;
    }
    if (kind == 9) {  // an unsupported conversion character (or '%' at the very end)
      const char bad =
          in.ConsumeBool() ? "cspfgeion#-+ .*"[in.ConsumeIntegralInRange<int>(0, 14)] : '\0';
      format += '%';
      if (bad == '\0') {
        t = tokens;  // the format ends right after '%'
      } else {
        format += bad;
      }
      rejected = true;
      continue;
    }
    if (used == kMaxArgs) continue;
    // %[0][width][l|ll](d|u|x|X)
    std::string conversion = "%";
    if (in.ConsumeBool()) conversion += '0';
    unsigned width = 0;
    if (in.ConsumeBool()) {
      width = in.ConsumeIntegralInRange<unsigned>(1, in.ConsumeBool() ? 70 : 24);
      conversion += std::to_string(width);
      if (width > 64) comparable = false;  // the formatter caps widths at 64
    }
    const int lengthKind = in.ConsumeIntegralInRange<int>(0, 2);  // none, l, ll
    const char conv = "duxX"[in.ConsumeIntegralInRange<int>(0, 3)];
    const uint64_t value = in.ConsumeIntegral<uint64_t>();
    args[used++] = value;
    std::string mine = conversion + (lengthKind == 1 ? "l" : lengthKind == 2 ? "ll" : "") + conv;
    std::string theirs = conversion + (lengthKind == 0 ? "" : "ll") + conv;
    format += mine;
    char piece[128];
    if (lengthKind == 0) {
      if (conv == 'd')
        std::snprintf(piece, sizeof piece, theirs.c_str(), static_cast<int32_t>(value));
      else
        std::snprintf(piece, sizeof piece, theirs.c_str(), static_cast<uint32_t>(value));
    } else {
      if (conv == 'd')
        std::snprintf(piece, sizeof piece, theirs.c_str(), static_cast<long long>(value));
      else
        std::snprintf(piece, sizeof piece, theirs.c_str(), static_cast<unsigned long long>(value));
    }
    expected += piece;
  }

  const uint64_t size = in.ConsumeIntegralInRange<uint64_t>(0, 600);
  // A buffer with guard bytes on both sides.
  std::vector<char> storage(size + 32, '\x5A');
  char* buffer = storage.data() + 16;
  // Every argument travels as a 64-bit value; a 32-bit conversion takes the
  // low half of its slot, as on x86-64.
  const uint64_t n = diag::Format(buffer, size, format.c_str(), args[0], args[1], args[2], args[3],
                                  args[4], args[5], args[6], args[7]);
  for (int i = 0; i < 16; ++i) Check(storage[i] == '\x5A');
  for (size_t i = 16 + size; i < storage.size(); ++i) Check(storage[i] == '\x5A');
  if (size == 0) {
    Check(n == 0);
    return 0;
  }
  Check(n <= size - 1);
  Check(buffer[n] == '\0');
  Check(std::strlen(buffer) == n);
  if (rejected) {
    Check(n == 0);
  } else if (comparable) {
    const std::string want = expected.substr(0, size - 1);
    Check(std::string(buffer, n) == want);
  }
  return 0;
}
