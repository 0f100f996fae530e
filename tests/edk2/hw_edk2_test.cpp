// hw/edk2/ (the EDK II instance of hw/) over a recording BaseLib and IoLib:
// every hw:: function makes exactly one library call, the one of its kind,
// with its arguments unchanged, and returns what the library returned at the
// function's width.
#include "hw/hw.h"
#include "tests/edk2/support/recording_base_io_lib.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>

namespace {

// What recording_base_io_lib.c returns for a read with arguments a, b.
constexpr uint64_t Made(uint64_t a, uint64_t b = 0) {
  return 0xF0E1D2C3B4A59687ULL ^ a ^ (b << 1);
}

struct Row {
  const char* call;               // the hw:: call, for the message
  std::function<uint64_t()> run;  // makes it; returns its result (0 for a write)
  const char* library;            // the one library function it must call
  uint64_t a, b;                  // with these two first arguments
  uint64_t result;                // and this result
};

TEST(HwEdk2, EachAccessIsOneLibraryCallWithItsArguments) {
  const Row rows[] = {
      {"IoRead8(0x80)", [] { return hw::IoRead8(0x80); }, "IoRead8", 0x80, 0, Made(0x80) & 0xFF},
      {"IoRead16(0xCFC)", [] { return hw::IoRead16(0xCFC); }, "IoRead16", 0xCFC, 0,
       Made(0xCFC) & 0xFFFF},
      {"IoRead32(0xCF8)", [] { return hw::IoRead32(0xCF8); }, "IoRead32", 0xCF8, 0,
       Made(0xCF8) & 0xFFFFFFFF},
      {"IoWrite8(0x80, 0xD1)", [] { return hw::IoWrite8(0x80, 0xD1), 0ULL; }, "IoWrite8", 0x80,
       0xD1, 0},
      {"IoWrite16(0x402, 0xBEEF)", [] { return hw::IoWrite16(0x402, 0xBEEF), 0ULL; }, "IoWrite16",
       0x402, 0xBEEF, 0},
      {"IoWrite32(0xCF8, 0x800000C4)", [] { return hw::IoWrite32(0xCF8, 0x800000C4), 0ULL; },
       "IoWrite32", 0xCF8, 0x800000C4, 0},
      {"MmioRead8", [] { return hw::MmioRead8(0xE00C4001); }, "MmioRead8", 0xE00C4001, 0,
       Made(0xE00C4001) & 0xFF},
      {"MmioRead16", [] { return hw::MmioRead16(0xE00C4002); }, "MmioRead16", 0xE00C4002, 0,
       Made(0xE00C4002) & 0xFFFF},
      {"MmioRead32", [] { return hw::MmioRead32(0xE00C405C); }, "MmioRead32", 0xE00C405C, 0,
       Made(0xE00C405C) & 0xFFFFFFFF},
      {"MmioWrite8", [] { return hw::MmioWrite8(0xFEDC9000, 0x41), 0ULL; }, "MmioWrite8",
       0xFEDC9000, 0x41, 0},
      {"MmioWrite16", [] { return hw::MmioWrite16(0xFEDC9002, 0x1234), 0ULL; }, "MmioWrite16",
       0xFEDC9002, 0x1234, 0},
      {"MmioWrite32", [] { return hw::MmioWrite32(0xE00C405C, 0x87654321), 0ULL; }, "MmioWrite32",
       0xE00C405C, 0x87654321, 0},
      {"ReadMsr(0xC0010058)", [] { return hw::ReadMsr(0xC0010058); }, "AsmReadMsr64", 0xC0010058, 0,
       Made(0xC0010058)},
      {"WriteMsr", [] { return hw::WriteMsr(0xC0010015, 0x123456789ABCDEF0ULL), 0ULL; },
       "AsmWriteMsr64", 0xC0010015, 0x123456789ABCDEF0ULL, 0},
      // Read, OR and write back in one library call; the value written comes back.
      {"MsrOr", [] { return hw::MsrOr(0xC0010015, 0x40000); }, "AsmMsrOr64", 0xC0010015, 0x40000,
       Made(0xC0010015, 0x40000)},
      {"ReadDr2", [] { return hw::ReadDr2(); }, "AsmReadDr2", 0, 0, Made(0)},
      {"WriteDr2", [] { return hw::WriteDr2(0x402), 0ULL; }, "AsmWriteDr2", 0x402, 0, 0},
      {"ReadDr3", [] { return hw::ReadDr3(); }, "AsmReadDr3", 0, 0, Made(0)},
      {"ReadDr7", [] { return hw::ReadDr7(); }, "AsmReadDr7", 0, 0, Made(0)},
      {"WriteDr7", [] { return hw::WriteDr7(0x600), 0ULL; }, "AsmWriteDr7", 0x600, 0, 0},
      {"ReadCr4", [] { return hw::ReadCr4(); }, "AsmReadCr4", 0, 0, Made(0)},
      {"WriteCr4", [] { return hw::WriteCr4(0x668), 0ULL; }, "AsmWriteCr4", 0x668, 0, 0},
      {"ReadTsc", [] { return hw::ReadTsc(); }, "AsmReadTsc", 0, 0, Made(0)},
      {"CpuPause", [] { return hw::CpuPause(), 0ULL; }, "CpuPause", 0, 0, 0},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.call);
    gRecordedCallCount = 0;
    EXPECT_EQ(row.run(), row.result);
    ASSERT_EQ(gRecordedCallCount, 1);
    EXPECT_STREQ(gRecordedCalls[0].name, row.library);
    EXPECT_EQ(gRecordedCalls[0].a, row.a);
    EXPECT_EQ(gRecordedCalls[0].b, row.b);
  }
}

// CPUID with sub-leaf 0 (ECX = 0), as the firmware instance hw/x64/ executes it.
TEST(HwEdk2, CpuidAsksSubLeafZeroAndReturnsTheFourRegisters) {
  gRecordedCallCount = 0;
  const hw::CpuidResult r = hw::Cpuid(0x80000001);
  ASSERT_EQ(gRecordedCallCount, 1);
  EXPECT_STREQ(gRecordedCalls[0].name, "AsmCpuidEx");
  EXPECT_EQ(gRecordedCalls[0].a, 0x80000001u);
  EXPECT_EQ(gRecordedCalls[0].b, 0u);
  EXPECT_EQ(r.eax, 0x8000000Bu);
  EXPECT_EQ(r.ebx, 0x8000000Au);
  EXPECT_EQ(r.ecx, 0x8000000Du);
  EXPECT_EQ(r.edx, 0x8000000Cu);
}

}  // namespace
