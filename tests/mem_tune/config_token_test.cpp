// WriteConfigToken: every item of the token table, the three widths and the
// missing items.
#include "fixture.h"
#include "interface_tables.h"
#include "mem_tune/config_token.h"

namespace mttest {
namespace {

using sim::smm::TokenWrite;

class ConfigToken : public MemTuneTest {
 protected:
  void SetUp() override {
    MemTuneTest::SetUp();
    ASSERT_EQ(Boot(), EFI_SUCCESS);
  }
};

TEST_F(ConfigToken, EveryItemWritesItsTokenInItsWidth) {
  ASSERT_EQ(Tokens().size(), 67u);
  for (auto& [item, tw] : Tokens()) {
    auto [token, width] = tw;
    Smm().tokenWrites.clear();
    EXPECT_EQ(mts::WriteConfigToken(uint16_t(item), 0x89ABCDEF), EFI_SUCCESS) << item;
    const uint32_t cut = width == 1 ? 0xEF : width == 2 ? 0xCDEF : 0x89ABCDEF;
    EXPECT_EQ(Smm().tokenWrites, (std::vector<TokenWrite>{{width, 3, token, cut, EFI_SUCCESS}}))
        << "item " << item;
  }
}

TEST_F(ConfigToken, Examples) {
  struct Case {
    uint16_t item;
    uint32_t value;
    TokenWrite want;
  };
  const Case cases[] = {
      {12, 48, {1, 3, 0xE0604CE9, 48, EFI_SUCCESS}},
      {45, 0x1234, {2, 3, 0x1A82F1F6, 0x1234, EFI_SUCCESS}},
      {75, 0x0ABC, {4, 3, 0x7915D708, 0x00000ABC, EFI_SUCCESS}},
      {5, 0x00000180, {1, 3, 0xCE0176EF, 0x80, EFI_SUCCESS}},
  };
  for (const auto& c : cases) {
    Smm().tokenWrites.clear();
    EXPECT_EQ(mts::WriteConfigToken(c.item, c.value), EFI_SUCCESS);
    EXPECT_EQ(Smm().tokenWrites, std::vector<TokenWrite>{c.want});
  }
  EXPECT_EQ(Smm().tokenValues.at(0x7915D708), 0xABCu);
}

TEST_F(ConfigToken, ItemsTheTableLacksWriteNothing) {
  for (uint16_t item : {0, 1, 19, 90, 92, 0xFFFF}) {
    EXPECT_EQ(mts::WriteConfigToken(item, 1), EFI_NOT_FOUND) << item;
  }
  EXPECT_TRUE(Smm().tokenWrites.empty());
}

TEST_F(ConfigToken, ServiceFailuresPassThroughUnchanged) {
  p.Fail("ConfigTokenWrite", EFI_VOLUME_FULL);
  EXPECT_EQ(mts::WriteConfigToken(57, 0x0102), EFI_VOLUME_FULL);
  EXPECT_EQ(Smm().tokenWrites.size(), 1u);
  EXPECT_EQ(Smm().tokenValues.count(0xE74CFD9B), 0u);
}

TEST_F(ConfigToken, WithoutTheServiceNothingIsCalled) {
  mts::gTokenService = nullptr;
  EXPECT_EQ(mts::WriteConfigToken(12, 48), EFI_NOT_READY);
  EXPECT_EQ(mts::WriteConfigToken(19, 48), EFI_NOT_FOUND);
  EXPECT_TRUE(Smm().tokenWrites.empty());
}

}  // namespace
}  // namespace mttest
