// The formatter against the host C library: same text for the conversions the
// system's messages use, "\n" as CR LF, output bounded by the buffer.
#include "diag/format.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdio>
#include <random>
#include <string>

namespace {

// snprintf's text with every LF turned into CR LF, cut as a 512-byte buffer
// cuts it.
std::string Expected(const std::string& text, size_t size = 512) {
  std::string out;
  for (char c : text) {
    if (c == '\n') out += '\r';
    out += c;
  }
  return out.substr(0, size - 1);
}

template <typename... Args>
std::string Ours(size_t size, const char* format, Args... args) {
  std::string buf(size, '\x7F');
  const uint64_t n = diag::Format(buf.data(), size, format, args...);
  EXPECT_EQ(buf[n], '\0');
  EXPECT_LT(n, size);
  return buf.substr(0, n);
}

template <typename... Args>
std::string Libc(const char* format, Args... args) {
  std::string buf(4096, '\0');
  const int n = std::snprintf(buf.data(), buf.size(), format, args...);
  return buf.substr(0, static_cast<size_t>(n));
}

TEST(Format, MatchesSnprintfOver32BitConversions) {
  std::mt19937_64 rng(12345);
  std::vector<uint32_t> values = {0,          1,          9,          10,         15,
                                  16,         0x7FFFFFFF, 0x80000000, 0xFFFFFFFF, 0x12345678,
                                  0xDEADBEEF, 100000,     4294967295u};
  for (int i = 0; i < 2000; ++i) values.push_back(static_cast<uint32_t>(rng() >> (rng() % 32)));
  for (uint32_t v : values) {
    const int32_t s = static_cast<int32_t>(v);
    EXPECT_EQ(Ours(512, "%d", s), Expected(Libc("%d", s))) << v;
    EXPECT_EQ(Ours(512, "%x", v), Expected(Libc("%x", v))) << v;
    EXPECT_EQ(Ours(512, "%08x", v), Expected(Libc("%08x", v))) << v;
    EXPECT_EQ(Ours(512, "%08X", v), Expected(Libc("%08X", v))) << v;
    EXPECT_EQ(Ours(512, "%u", v), Expected(Libc("%u", v))) << v;
  }
  EXPECT_EQ(Ours(512, "%d", INT32_MIN), "-2147483648");
}

TEST(Format, MatchesSnprintfOver64BitAndMixedMessages) {
  std::mt19937_64 rng(777);
  std::vector<uint64_t> values = {0,
                                  1,
                                  ~0ULL,
                                  0x8000000000000000ULL,
                                  0x0004000000000000ULL,
                                  0x00000000FFFFFFFFULL,
                                  0x100401008A300408ULL};
  for (int i = 0; i < 2000; ++i) values.push_back(rng() >> (rng() % 64));
  for (uint64_t v : values) {
    EXPECT_EQ(Ours(512, "%016lX", v), Expected(Libc("%016lX", v))) << v;
    const uint32_t lo = static_cast<uint32_t>(v);
    const int32_t d = static_cast<int32_t>(v >> 32);
    const char* fmt = "calcSysAddr: x=%016lX lo=%08x hi=%08X n=%d %x%%\n next\n";
    EXPECT_EQ(Ours(512, fmt, v, lo, lo, d, lo), Expected(Libc(fmt, v, lo, lo, d, lo))) << v;
  }
}

TEST(Format, CutsAtTheBufferAndCountsOnlyWhatFits) {
  // Long outputs, with CR LF pairs falling on every position of the cut.
  for (size_t pad = 490; pad < 530; ++pad) {
    const std::string fmt = std::string(pad, 'q') + "\n%08X\n%016lX\n";
    const std::string ours = Ours(512, fmt.c_str(), 0xABCDu, 0x1122334455667788ULL);
    EXPECT_EQ(ours, Expected(Libc(fmt.c_str(), 0xABCDu, 0x1122334455667788ULL))) << pad;
    EXPECT_LE(ours.size(), 511u);
  }
  // Small buffers too.
  for (size_t size = 1; size < 12; ++size) {
    EXPECT_EQ(Ours(size, "a\nb%08x", 0x1234u), Expected(Libc("a\nb%08x", 0x1234u), size)) << size;
  }
}

TEST(Format, UnknownConversionIsAnEmptyMessage) {
  char buf[16] = "xxxxxxxxxxxxxxx";
  // Through a variable, so the compiler's own format check stays out of it
  // (clang would still object that the format is not a literal).
  const char* unknown = "ab%q";
  const char* trailing = "ab%";
  const char* none = nullptr;
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-security"
  EXPECT_EQ(diag::Format(buf, sizeof buf, unknown), 0u);
  EXPECT_EQ(buf[0], '\0');
  EXPECT_EQ(diag::Format(buf, sizeof buf, trailing), 0u);
  EXPECT_EQ(diag::Format(buf, sizeof buf, none), 0u);
#pragma GCC diagnostic pop
  buf[0] = 'y';
  EXPECT_EQ(diag::Format(buf, 0, "abc"), 0u);
  EXPECT_EQ(buf[0], 'y');  // no room even for the NUL: nothing written
}

}  // namespace
