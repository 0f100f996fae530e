// The handler against callers outside SMM: addresses that reach into SMRAM
// are refused, and the mailbox is read once, so values changed during the
// SMI are not used.
#include "fixture.h"
#include "mem_tune/smram_check.h"

namespace mttest {
namespace {

TEST_F(MemTuneTest, MailboxInsideSmramIsRefusedAndNothingChanges) {
  uint8_t* inside = sim::smm::SmramBase(p) + 0x80000;
  Smm().provider.MailboxAddress = reinterpret_cast<uint64_t>(inside);
  ASSERT_EQ(Boot(), EFI_SUCCESS);
  auto* box = reinterpret_cast<MemTuneMailbox*>(inside);
  std::memset(inside, 0x44, sizeof(MemTuneMailbox));
  box->Request = 4;
  box->Command = 0x2;
  const std::vector<uint8_t> before(inside, inside + sizeof(MemTuneMailbox));
  RaiseSmi();
  EXPECT_EQ(PostCodes(), std::vector<uint8_t>{0xD1});
  EXPECT_EQ(std::vector<uint8_t>(inside, inside + sizeof(MemTuneMailbox)), before);
  EXPECT_TRUE(Smm().tokenWrites.empty());
  EXPECT_EQ(CallCount("SmmGetVariable"), 0u);
  EXPECT_EQ(Smm().smiResults.back(), EFI_ACCESS_DENIED);
}

TEST_F(MemTuneTest, MailboxReachingIntoSmramFromBelowOrStraddlingItsEndIsRefused) {
  ASSERT_EQ(Boot(), EFI_SUCCESS);
  const uint64_t base = reinterpret_cast<uint64_t>(sim::smm::SmramBase(p));
  const uint64_t end = base + 0x180000;  // two ranges, back to back
  const uint64_t size = sizeof(MemTuneMailbox);
  EXPECT_FALSE(mts::OverlapsSmram(base - size, size));
  EXPECT_TRUE(mts::OverlapsSmram(base - size + 1, size));
  EXPECT_TRUE(mts::OverlapsSmram(end - 1, size));
  EXPECT_FALSE(mts::OverlapsSmram(end, size));
  EXPECT_TRUE(mts::OverlapsSmram(base + 0xFFFF0, 0x20));       // across the two ranges
  EXPECT_TRUE(mts::OverlapsSmram(~0ull - 0x10, 0x20));         // wraps around
  EXPECT_TRUE(mts::OverlapsSmram(base - 0x1000, 0x10000000));  // covers all of it
}

TEST_F(MemTuneTest, SettingsRecordInsideSmramIsRefusedEvenForAReadout) {
  uint8_t* inside = sim::smm::SmramBase(p) + 0x100000;  // the second range
  Smm().provider.SettingsRecordAddress = reinterpret_cast<uint64_t>(inside);
  ASSERT_EQ(Boot(), EFI_SUCCESS);
  std::memset(inside, 0x99, 0x40);  // what SMM keeps there must not leak out
  std::fill(BoxBytes() + 0x14, BoxBytes() + 0x87, 0x00);
  Send(0x80000000);
  EXPECT_EQ(PostCodes(), std::vector<uint8_t>{0xD1});
  for (size_t i = 0x14; i < 0x87; ++i) EXPECT_EQ(BoxBytes()[i], 0) << i;
  EXPECT_EQ(Box()->Request, 4u);  // not even acknowledged
  EXPECT_TRUE(p.trace.Mmio().empty());
}

TEST_F(MemTuneTest, ValuesChangedDuringTheSmiAreNotUsed) {
  ASSERT_EQ(Boot(), EFI_SUCCESS);
  // Another processor rewrites the mailbox while the token is being written:
  // the setup variable still gets the value that was checked and written.
  Smm().onTokenWrite = [this](const sim::smm::TokenWrite&) {
    Box()->tCL = 0x99;
    Box()->Command = 0x700000;
    Box()->Request = 4;
    Box()->Sequence = 0x7777;
  };
  Box()->tCL = 0x11;
  Box()->Sequence = 0x0100;
  Send(0x2);
  ASSERT_EQ(Smm().tokenWrites.size(), 1u);
  EXPECT_EQ(Smm().tokenWrites[0].value, 0x11u);
  EXPECT_EQ(SetupData()[0xE8], 0x11);
  EXPECT_EQ(SetupData()[0x18B], 0);  // command 0x700000 never ran
  EXPECT_EQ(Box()->Sequence, 0x0201);
  EXPECT_EQ(Box()->Request, 0u);
  EXPECT_EQ(Box()->Command, 0u);
}

}  // namespace
}  // namespace mttest
