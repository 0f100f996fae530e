// The images' own __popcountdi2 (compiler_support/popcount.c), called directly: the
// number of set bits of a 64-bit value.
#include <gtest/gtest.h>

#include <cstdint>

extern "C" int __popcountdi2(unsigned long long a);

namespace {

TEST(RuntimePopcount, CountsTheSetBits) {
  struct Case {
    uint64_t value;
    int bits;
  };
  const Case cases[] = {
      {0, 0},
      {1, 1},
      {0x8000000000000000ULL, 1},
      {0x8000000000000001ULL, 2},
      {0xFF, 8},
      {0x067FFFFF, 25},  // a chip-select mask
      {0x5555555555555555ULL, 32},
      {0xF0F0F0F0F0F0F0F0ULL, 32},
      {0x00000000FFFFFFFFULL, 32},
      {0xFFFFFFFFFFFFFFFEULL, 63},
      {0xFFFFFFFFFFFFFFFFULL, 64},
  };
  for (const Case& c : cases) EXPECT_EQ(__popcountdi2(c.value), c.bits) << std::hex << c.value;
}

}  // namespace
