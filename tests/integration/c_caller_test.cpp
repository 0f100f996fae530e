// The public headers as a C caller sees them: the same sizes and offsets as
// in C++ (both against the records' documented layouts), and calls from C
// through the installed TranslationProtocol giving what the same calls from
// C++ give.
#include "sim/driver_harness.h"
#include "sim/mca/mca_banks.h"
#include "sim/topology/topology.h"
#include "tests/integration/c_caller.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <cstring>
#include <map>
#include <string>
#include <vector>

namespace {

TEST(CCaller, RecordLayoutsAreTheSameInCAndCpp) {
  struct Want {
    const char* name;
    size_t documented;
    size_t cpp;
  };
#define SIZE_OF(type, n) \
  { #type, n, sizeof(type) }
#define FIELD_AT(type, field, n) \
  { #type "." #field, n, offsetof(type, field) }
  const Want wants[] = {
      SIZE_OF(NormalizedAddress, 16),
      FIELD_AT(NormalizedAddress, normalizedAddr, 0),
      FIELD_AT(NormalizedAddress, socketId, 8),
      FIELD_AT(NormalizedAddress, dieId, 9),
      FIELD_AT(NormalizedAddress, channelId, 10),
      FIELD_AT(NormalizedAddress, reserved, 11),
      SIZE_OF(DramAddress, 12),
      FIELD_AT(DramAddress, chipSelect, 0),
      FIELD_AT(DramAddress, bank, 1),
      FIELD_AT(DramAddress, row, 4),
      FIELD_AT(DramAddress, col, 8),
      FIELD_AT(DramAddress, rankMul, 10),
      SIZE_OF(McaBankEntry, 80),
      FIELD_AT(McaBankEntry, msr1, 0x08),
      FIELD_AT(McaBankEntry, msr6, 0x30),
      FIELD_AT(McaBankEntry, msr8, 0x38),
      FIELD_AT(McaBankEntry, msrA, 0x48),
      FIELD_AT(McaBankSnapshot, processorInfo, 0x08),
      FIELD_AT(McaBankSnapshot, bankCount, 0x10),
      FIELD_AT(McaBankSnapshot, banks, 0x18),
      SIZE_OF(TranslationProtocol, 48),
      FIELD_AT(TranslationProtocol, NormalizedToSystem, 0),
      FIELD_AT(TranslationProtocol, SystemToNormalized, 8),
      FIELD_AT(TranslationProtocol, AppendBertRecord, 16),
      FIELD_AT(TranslationProtocol, AddHestErrorSource, 24),
      FIELD_AT(TranslationProtocol, CaptureMcaBanks, 32),
      FIELD_AT(TranslationProtocol, AddHestErrorSources, 40),
      SIZE_OF(MemTuneMailbox, 0xCA),
      FIELD_AT(MemTuneMailbox, Status, 0x02),
      FIELD_AT(MemTuneMailbox, Sequence, 0x06),
      FIELD_AT(MemTuneMailbox, Request, 0x0C),
      FIELD_AT(MemTuneMailbox, Command, 0x10),
      FIELD_AT(MemTuneMailbox, MemClock, 0x14),
      FIELD_AT(MemTuneMailbox, Setting25, 0x21),
      FIELD_AT(MemTuneMailbox, tRFC1, 0x26),
      FIELD_AT(MemTuneMailbox, Setting09, 0x46),
      FIELD_AT(MemTuneMailbox, Setting3C, 0x74),
      FIELD_AT(MemTuneMailbox, SetupOnly, 0x7D),
      FIELD_AT(MemTuneMailbox, CallerC9, 0xC9),
  };
#undef SIZE_OF
#undef FIELD_AT
  std::map<std::string, size_t> c;
  for (const CLayoutFact* f = kCLayoutFacts; f->name != nullptr; ++f) c[f->name] = f->value;
  EXPECT_EQ(c.size(), std::size(wants)) << "a fact of the C side has no documented value here";
  for (const Want& w : wants) {
    EXPECT_EQ(w.cpp, w.documented) << w.name << " in C++";
    ASSERT_TRUE(c.count(w.name)) << w.name << " missing on the C side";
    EXPECT_EQ(c[w.name], w.documented) << w.name << " in C";
  }
}

std::vector<uint8_t> BytesOf(const void* p, size_t n) {
  const auto* b = static_cast<const uint8_t*>(p);
  return {b, b + n};
}

TEST(CCaller, SlotsCalledFromCGiveWhatCppGets) {
  sim::Platform p(2);
  sim::topology::Apply(sim::topology::Topology::Default(), p);
  sim::mca::AddProcessor(p, 1, {1, 2, 3, 4, 5});
  sim::mca::SetBankCount(p, 1, 2);
  sim::mca::SetBankRegister(p, 1, 1, 1, 0x9C00000000000135ULL);
  sim::mca::SetBankRegister(p, 1, 1, 5, 0x0000009600000000ULL);
  sim::AddrTranslateDriver driver(p);
  ASSERT_EQ(driver.Status(), EFI_SUCCESS);
  const TranslationProtocol* tp = driver.Protocol();

  // DRAM of both sockets, and an address beyond the last map.
  for (const uint64_t sys : {0x723456789ULL, 0x1000ULL, 0xC40001200ULL, 0x3FFFFFFFFFFULL}) {
    CRoundTrip fromC;
    std::memset(&fromC, 0x5A, sizeof fromC);
    CCallerRoundTrip(tp, sys, &fromC);

    CRoundTrip fromCpp;
    std::memset(&fromCpp, 0x5A, sizeof fromCpp);
    uint64_t in = sys;
    fromCpp.toNormalized = tp->SystemToNormalized(&in, &fromCpp.normalized, &fromCpp.dram);
    fromCpp.toSystem =
        tp->NormalizedToSystem(&fromCpp.normalized, &fromCpp.system, &fromCpp.dramBack);

    EXPECT_EQ(BytesOf(&fromC, sizeof fromC), BytesOf(&fromCpp, sizeof fromCpp)) << std::hex << sys;
    const bool dram = sys != 0x3FFFFFFFFFFULL;
    EXPECT_EQ(fromC.toNormalized, dram ? EFI_SUCCESS : EFI_INVALID_PARAMETER) << std::hex << sys;
    if (dram) {
      EXPECT_EQ(fromC.toSystem, EFI_SUCCESS) << std::hex << sys;
      EXPECT_EQ(fromC.system, sys);
    }
  }

  for (const uint64_t processor : {1ULL, 0ULL}) {  // 0: not in the processor list
    std::vector<uint8_t> c(sizeof(McaBankSnapshot), 0xEE), cpp(sizeof(McaBankSnapshot), 0xEE);
    auto* fromC = reinterpret_cast<McaBankSnapshot*>(c.data());
    auto* fromCpp = reinterpret_cast<McaBankSnapshot*>(cpp.data());
    const EFI_STATUS sc = CCallerCapture(tp, fromC, processor);
    fromCpp->processorNumber = processor;
    EXPECT_EQ(sc, tp->CaptureMcaBanks(fromCpp)) << processor;
    EXPECT_EQ(c, cpp) << processor;
    EXPECT_EQ(sc, processor == 1 ? EFI_SUCCESS : EFI_NOT_FOUND);
  }
}

}  // namespace
