// The HOB-list lookups of the EDK II build (diag/edk2/hob_list_edk2.cpp over
// MdePkg's DxeHobLib, compiled from its source) find what
// tests/diag/hob_walk_cases.h names: the same cases the host build's lookups
// pass in tests/diag/hob_walk_test.cpp.
#include "tests/diag/hob_walk_cases.h"
#include "tests/edk2/support/edk2_stand_ins.h"

#include <gtest/gtest.h>

#include <cstring>

// DxeHobLib's constructor (MdePkg/Library/DxeHobLib/HobLib.c).
extern "C" __attribute__((ms_abi)) uint64_t HobLibConstructor(void* imageHandle, void* systemTable);

namespace {

TEST(HobWalkEdk2, HobLibFindsTheHobsTheCasesName) {
  ASSERT_EQ(HobLibConstructor(nullptr, nullptr), 0u);
  for (const hobcases::Case& c : hobcases::kCases) {
    SCOPED_TRACE(c.what);
    std::vector<size_t> offsets;
    const std::vector<uint64_t> list = hobcases::Build(c.hobs, c.count, &offsets);
    ASSERT_LE(list.size(), size_t{kTivHobListWords});
    std::memset(gTivHobListBuffer, 0, sizeof gTivHobListBuffer);
    std::memcpy(gTivHobListBuffer, list.data(), list.size() * 8);
    const auto* base = reinterpret_cast<const uint8_t*>(gTivHobListBuffer);
    const void* hit =
        TivEdk2GuidHob(c.name->data(), c.after < 0 ? nullptr : base + offsets[c.after]);
    int found = hobcases::kNone;
    for (size_t i = 0; i < offsets.size(); ++i) {
      if (hit == base + offsets[i]) found = static_cast<int>(i);
    }
    EXPECT_EQ(found, c.found);
    if (c.found == hobcases::kNone) {
      EXPECT_EQ(hit, nullptr);
    }
  }
}

}  // namespace
