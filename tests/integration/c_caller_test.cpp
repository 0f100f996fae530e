// The public headers as a C caller sees them: the same sizes and offsets as
// in C++ (both against the records' documented layouts), and calls from C
// through the installed TranslationProtocol giving what the same calls from
// C++ give.
#include "harness/addr_translate_driver.h"
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

// The documented values are also the headers' own compile-time checks, in
// both languages; what only a run can compare is C's view against C++'s: the
// width of every listed field and the headers' named constants.
TEST(CCaller, RecordLayoutsAreTheSameInCAndCpp) {
  struct Want {
    const char* name;
    size_t documented;
    size_t cpp;
    size_t cppWidth;
  };
#define SIZE_OF(type, n) {#type, n, sizeof(type), sizeof(type)},
#define FIELD_AT(type, field, n) {#type "." #field, n, offsetof(type, field), sizeof(type::field)},
  const Want wants[] = {C_CALLER_LAYOUT_ROWS(SIZE_OF, FIELD_AT)};
#undef SIZE_OF
#undef FIELD_AT
  std::map<std::string, const CLayoutFact*> c;
  for (const CLayoutFact* f = kCLayoutFacts; f->name != nullptr; ++f) c[f->name] = f;
  EXPECT_EQ(c.size(), std::size(wants)) << "a fact of the C side has no documented value here";
  for (const Want& w : wants) {
    EXPECT_EQ(w.cpp, w.documented) << w.name << " in C++";
    ASSERT_TRUE(c.count(w.name)) << w.name << " missing on the C side";
    EXPECT_EQ(c[w.name]->value, w.documented) << w.name << " in C";
    EXPECT_EQ(c[w.name]->width, w.cppWidth) << w.name << ": width in C and in C++";
  }
}

TEST(CCaller, NamedConstantsAreTheSameInCAndCpp) {
  const std::vector<std::pair<const char*, uint64_t>> cpp = {
#define CPP_CONSTANT(name) {#name, static_cast<uint64_t>(name)},
      C_CALLER_CONSTANTS(CPP_CONSTANT)
#undef CPP_CONSTANT
  };
  std::vector<uint64_t> c(cpp.size(), 0x5A5A5A5A5A5A5A5AULL);
  CCallerConstants(c.data());
  for (size_t i = 0; i < cpp.size(); ++i) EXPECT_EQ(c[i], cpp[i].second) << cpp[i].first;

  EFI_GUID translation, topology;
  std::memset(&translation, 0x5A, sizeof translation);
  std::memset(&topology, 0x5A, sizeof topology);
  CCallerGuids(&translation, &topology);
  EXPECT_TRUE(uefi::SameGuid(translation, gTranslationProtocolGuid));
  EXPECT_TRUE(uefi::SameGuid(topology, gPlatformTopologyProtocolGuid));
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
