// The host build's HOB-list lookups (diag/hob_list.cpp) find what
// tests/diag/hob_walk_cases.h names: the same cases the EDK II build's
// lookups over MdePkg's HobLib pass in tests/edk2/hob_walk_edk2_test.cpp.
#include "diag/boot_services_table.h"
#include "diag/hob_list.h"
#include "sim/platform/platform.h"
#include "tests/diag/hob_walk_cases.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

TEST(HobWalk, TheLookupsFindTheHobsTheCasesName) {
  for (const hobcases::Case& c : hobcases::kCases) {
    SCOPED_TRACE(c.what);
    std::vector<size_t> offsets;
    std::vector<uint64_t> list = hobcases::Build(c.hobs, c.count, &offsets);
    sim::Platform p;
    p.SetConfigurationTable(kHobListGuid, list.data());
    diag::gST = p.SystemTable();
    diag::ResetHobListCache();
    ASSERT_EQ(diag::HobListConstructor(), EFI_SUCCESS);
    EFI_GUID name;
    std::memcpy(&name, c.name->data(), sizeof name);
    const auto* base = reinterpret_cast<const uint8_t*>(list.data());
    const EFI_HOB_GUID_TYPE* hit =
        c.after < 0 ? diag::GetFirstGuidHob(name)
                    : diag::GetNextGuidHob(name, diag::NextHob(base + offsets[c.after]));
    int found = hobcases::kNone;
    for (size_t i = 0; i < offsets.size(); ++i) {
      if (reinterpret_cast<const uint8_t*>(hit) == base + offsets[i]) found = static_cast<int>(i);
    }
    EXPECT_EQ(found, c.found);
    diag::gST = nullptr;
    diag::ResetHobListCache();
  }
}

}  // namespace
