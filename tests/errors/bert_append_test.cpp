// AppendBertRecord: the new region's bytes, the status block's bits and
// counts, the BERT fields and checksum, and what stays unchanged on refusal.
#include "acpi_fixture.h"

#include <algorithm>

namespace {

using namespace errors_test;

class BertAppend : public AcpiPlatform {
 protected:
  // Installs a dummy table first, so the lookup has to walk past it.
  void InstallRegion(const Bytes& region) {
    Bytes other = sim::acpi::Header(0x50434146 /* "FACP" */, 36, 6);
    sim::acpi::SetChecksum(other);
    sim::acpi::Store(P()).Add(other);
    sim::acpi::InstallBert(P(), region);
    P().calls.clear();
  }
  // Everything the driver could have changed, to compare across a refusal.
  struct State {
    Bytes bert, region;
    size_t nvsBlocks;
    bool operator==(const State&) const = default;
  };
  State Snapshot() { return {Bert(), Region(), P().OutstandingBlocks(EfiACPIMemoryNVS)}; }
};

TEST_F(BertAppend, RawDataGoesAtTheEndOfTheRegion) {
  const Bytes old = Cat(Block(0x12, 20, 4, 0, 2), Pattern(4, 0xA0));
  InstallRegion(old);
  const uint64_t oldAddress = RegionAddress();
  const Bytes data = Pattern(10, 0x30);
  ASSERT_EQ(atd::AppendBertRecord(data.data(), 10, 1, 3), EFI_SUCCESS);

  Bytes want = Cat(old, data);
  GenericErrorStatusBlock b{0x22, 20, 14, 0, 2};  // count 1 -> 2, raw length 4 -> 14
  std::memcpy(want.data(), &b, sizeof b);
  EXPECT_EQ(Region(), want);

  const Bytes bert = Bert();
  EXPECT_EQ(U32At(bert, 36), want.size());
  EXPECT_NE(U64At(bert, 40), oldAddress);
  EXPECT_TRUE(ChecksumOk(bert));
  auto block = P().BlockOf(reinterpret_cast<void*>(U64At(bert, 40)));
  ASSERT_TRUE(block);
  EXPECT_EQ(block->type, EfiACPIMemoryNVS);
  EXPECT_EQ(block->size, want.size());
  EXPECT_FALSE(P().BlockOf(reinterpret_cast<void*>(oldAddress)));  // old region freed
  EXPECT_EQ(P().OutstandingBlocks(EfiACPIMemoryNVS), 1u);
  EXPECT_EQ(P().calls, (std::vector<std::string>{"LocateProtocol", "LocateProtocol", "GetAcpiTable",
                                                 "GetAcpiTable", "AllocatePool", "CopyMem",
                                                 "CopyMem", "FreePool"}));
}

TEST_F(BertAppend, DataEntryGoesInFrontOfTheRawData) {
  const Bytes entries = Pattern(8, 0x50), raw = Pattern(6, 0xC0);
  const Bytes old = Cat(Cat(Block(0x21, 28, 6, 8, 1), entries), raw);
  InstallRegion(old);
  const Bytes entry = Pattern(12, 0x10);
  ASSERT_EQ(atd::AppendBertRecord(entry.data(), 12, 2, 1), EFI_SUCCESS);
  // Second fatal record: bit 2 joins bit 0; count 2 -> 3.
  EXPECT_EQ(Region(), Cat(Cat(Cat(Block(0x35, 40, 6, 20, 1), entries), entry), raw));
  EXPECT_TRUE(ChecksumOk(Bert()));
}

TEST_F(BertAppend, DataEntryWithoutRawDataCopiesNoRawData) {
  InstallRegion(Block(0, 20, 0, 0, 3));
  const Bytes entry = MemoryErrorEntry(0x123456780, 2);
  ASSERT_EQ(atd::AppendBertRecord(entry.data(), static_cast<uint32_t>(entry.size()), 2, 2),
            EFI_SUCCESS);
  EXPECT_EQ(Region(), Cat(Block(0x12, 20 + 152, 0, 152, 2), entry));
  EXPECT_EQ(P().calls, (std::vector<std::string>{"LocateProtocol", "LocateProtocol", "GetAcpiTable",
                                                 "GetAcpiTable", "AllocatePool", "CopyMem",
                                                 "CopyMem", "FreePool"}));
}

TEST_F(BertAppend, SpareRegionBytesBehindTheRawDataAreZeroedNotStale) {
  // A 64-byte region holding 4 bytes of raw data at 20: the 40 bytes behind it
  // are not carried over, and the new region must not show pool contents.
  Bytes old = Cat(Block(0, 20, 4, 0, 3), Pattern(4, 0xA0));
  old.resize(64, 0x5A);
  InstallRegion(old);
  const Bytes entry = Pattern(16, 0x01);
  ASSERT_EQ(atd::AppendBertRecord(entry.data(), 16, 2, 0), EFI_SUCCESS);
  Bytes want = Cat(Cat(Block(0x12, 36, 4, 16, 0), entry), Pattern(4, 0xA0));
  want.resize(80, 0);
  EXPECT_EQ(Region(), want);
}

struct SeverityCase {
  uint32_t status, severity;
  uint8_t arg;
  uint32_t wantStatus, wantSeverity;
};

TEST_F(BertAppend, SeverityRulesAndEntryCount) {
  const uint32_t kKept = 0xFFFFC000;  // bits 31:14 pass through
  const SeverityCase cases[] = {
      {0x0, 3, 0, 0x12, 0},                       // first recoverable: correctable valid
      {0x12, 0, 0, 0x2A, 0},                      // second: multiple correctable
      {0x2A, 0, 0, 0x3A, 0},                      // later ones: only the count
      {0x0, 1, 0, 0x12, 1},                       // recoverable keeps fatal
      {0x0, 3, 1, 0x11, 1},                       // first fatal: uncorrectable valid
      {0x11, 1, 1, 0x25, 1},                      // second fatal: multiple uncorrectable
      {0x25, 0, 1, 0x35, 1},                      // later fatal: only the count, severity 1
      {0x0, 0, 2, 0x12, 0},                       // corrected keeps recoverable
      {0x0, 3, 2, 0x12, 2},                       // corrected lowers none
      {0x0, 1, 2, 0x12, 1},                       // corrected keeps fatal
      {0x3, 2, 3, 0x13, 2},                       // severity 3: only the count
      {0x3, 0, 0xFF, 0x13, 0},                    // any other value: only the count
      {kKept | 0x3FE0, 3, 4, kKept | 0x3FF0, 3},  // 1022 -> 1023, high bits kept
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::Message() << "status 0x" << std::hex << c.status << " severity "
                                      << c.severity << " arg " << int(c.arg));
    Reset();
    InstallRegion(Block(c.status, 20, 0, 0, c.severity));
    const uint8_t raw[2] = {1, 2};
    ASSERT_EQ(atd::AppendBertRecord(raw, 2, 1, c.arg), EFI_SUCCESS);
    const GenericErrorStatusBlock b = ReadBlock(Region());
    EXPECT_EQ(b.BlockStatus, c.wantStatus);
    EXPECT_EQ(b.ErrorSeverity, c.wantSeverity);
    EXPECT_EQ(b.RawDataLength, 2u);
    EXPECT_EQ(b.DataLength, 0u);
    EXPECT_EQ(b.RawDataOffset, 20u);
    EXPECT_TRUE(ChecksumOk(Bert()));
  }
}

TEST_F(BertAppend, FullRegionTakesNoMoreRecords) {
  InstallRegion(Block(0x3FE0, 20, 0, 0, 3));
  const uint8_t raw[1] = {7};
  ASSERT_EQ(atd::AppendBertRecord(raw, 1, 1, 2), EFI_SUCCESS);
  const State full = Snapshot();
  EXPECT_EQ(atd::AppendBertRecord(raw, 1, 1, 2), EFI_VOLUME_FULL);
  EXPECT_EQ(Snapshot(), full);
}

struct RefusalCase {
  const char* name;
  Bytes region;
  uint8_t kind;
  uint32_t size;
  bool nullData;
  EFI_STATUS status;
};

TEST_F(BertAppend, RefusalsChangeNothingAndKeepNoMemory) {
  const RefusalCase cases[] = {
      {"kind 0", Block(0, 20, 0, 0, 3), 0, 4, false, EFI_UNSUPPORTED},
      {"kind 3", Block(0, 20, 0, 0, 3), 3, 4, false, EFI_UNSUPPORTED},
      {"full before kind", Block(0x3FF0, 20, 0, 0, 3), 7, 4, false, EFI_VOLUME_FULL},
      {"null data", Block(0, 20, 0, 0, 3), 1, 4, true, EFI_INVALID_PARAMETER},
      {"raw offset beyond the region", Block(0, 21, 0, 0, 3), 2, 4, false, EFI_VOLUME_CORRUPTED},
      {"raw data beyond the region", Block(0, 20, 5, 0, 3, 24), 2, 4, false, EFI_VOLUME_CORRUPTED},
      {"raw offset inside the entries", Block(0, 24, 0, 8, 3, 28), 2, 4, false,
       EFI_VOLUME_CORRUPTED},
      {"region shorter than a block", Bytes(12, 0), 1, 4, false, EFI_VOLUME_CORRUPTED},
      {"offset and length wrap", Block(0, 0x10, 0xFFFFFFF8, 0, 3, 64), 2, 4, false,
       EFI_VOLUME_CORRUPTED},
      // Raw data goes at the region's end only where the old raw data ends.
      {"raw data into a pre-sized region holding an empty block", Block(0, 20, 0, 0, 3, 4096), 1, 4,
       false, EFI_VOLUME_CORRUPTED},
      {"raw data into a region with bytes after its raw data", Block(0, 20, 4, 0, 3, 64), 1, 4,
       false, EFI_VOLUME_CORRUPTED},
      {"raw data into an empty block whose offset is 0", Block(0, 0, 0, 0, 3), 1, 4, false,
       EFI_VOLUME_CORRUPTED},
      {"raw data into a block whose offset is past the region", Block(0, 0x1000, 0, 0, 3), 1, 3,
       false, EFI_VOLUME_CORRUPTED},
      {"raw data whose old length and the size wrap", Block(0, 24, 0xFFFFFFF8, 4, 3, 32), 1, 16,
       false, EFI_VOLUME_CORRUPTED},
      {"raw data into a region whose raw data lies in the entries", Block(0, 24, 4, 8, 3, 28), 1, 4,
       false, EFI_VOLUME_CORRUPTED},
      // An entry goes right after the entries, the raw data right after it.
      {"entry into a block whose raw data lies past a gap", Block(0, 40, 4, 8, 3, 44), 2, 4, false,
       EFI_VOLUME_CORRUPTED},
      {"entry into a block whose entries run past the region", Block(0, 0, 0, 40, 3, 48), 2, 4,
       false, EFI_VOLUME_CORRUPTED},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Reset();
    InstallRegion(c.region);
    const State before = Snapshot();
    const Bytes data = Pattern(c.size, 0x40);
    EXPECT_EQ(atd::AppendBertRecord(c.nullData ? nullptr : data.data(), c.size, c.kind, 1),
              c.status);
    EXPECT_EQ(Snapshot(), before);
    EXPECT_EQ(std::count(P().calls.begin(), P().calls.end(), "AllocatePool"), 0);
  }
}

// Blocks without raw data whose Raw Data Offset says nothing of where the
// entries end (0, or past unused bytes of a pre-sized region): the entry goes
// right after the existing entries and Raw Data Offset follows it, so the
// operating system, walking Data Length bytes of entries from offset 20 and
// reading the raw data at its offset, finds what was appended.
TEST_F(BertAppend, DataEntryIntoABlockWithoutRawDataGoesRightAfterTheEntries) {
  struct Case {
    const char* name;
    Bytes region;
    Bytes entries;  // the old entries, at 20
  };
  const Bytes old = Pattern(8, 0x50);
  const Case cases[] = {
      {"empty block, Raw Data Offset 0", Block(0, 0, 0, 0, 3), {}},
      {"pre-sized 4 KiB region, empty block", Block(0, 20, 0, 0, 3, 4096), {}},
      {"pre-sized region, Raw Data Offset at its end", Block(0, 4096, 0, 0, 3, 4096), {}},
      {"an entry, then a gap to Raw Data Offset",
       [&] {
         Bytes r = Cat(Block(0x12, 64, 0, 8, 2), old);
         r.resize(64, 0x5A);
         return r;
       }(),
       old},
  };
  const Bytes entry = Pattern(12, 0x10);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Reset();
    InstallRegion(c.region);
    ASSERT_EQ(atd::AppendBertRecord(entry.data(), 12, 2, 2), EFI_SUCCESS);
    const Bytes r = Region();
    ASSERT_EQ(r.size(), c.region.size() + 12);
    const GenericErrorStatusBlock b = ReadBlock(r);
    const uint32_t dataLength = static_cast<uint32_t>(c.entries.size() + 12);
    EXPECT_EQ(b.DataLength, dataLength);
    EXPECT_EQ(b.RawDataOffset, 20 + dataLength);
    EXPECT_EQ(b.RawDataLength, 0u);
    // What the operating system reads: the old entries, then the new one.
    EXPECT_EQ(Bytes(r.begin() + 20, r.begin() + 20 + dataLength), Cat(c.entries, entry));
    // Nothing of the old region behind the entries is carried over.
    EXPECT_TRUE(
        std::all_of(r.begin() + 20 + dataLength, r.end(), [](uint8_t x) { return x == 0; }));
    EXPECT_TRUE(ChecksumOk(Bert()));
  }
}

TEST_F(BertAppend, SizeThatWouldWrapTheRegionLengthIsRefused) {
  InstallRegion(Block(0, 20, 0, 0, 3));
  // The BERT claims a region almost 4 GiB long (only its head is real).
  auto* t = sim::acpi::Store(P()).Find(kBertSignature);
  const uint32_t huge = 0xFFFFFFF0;
  std::memcpy(t->bytes.data() + 36, &huge, 4);
  sim::acpi::SetChecksum(t->bytes);
  const State before = {Bert(), {}, P().OutstandingBlocks(EfiACPIMemoryNVS)};
  const uint8_t raw[0x20] = {};
  EXPECT_EQ(atd::AppendBertRecord(raw, 0x20, 1, 0), EFI_INVALID_PARAMETER);
  EXPECT_EQ(Bert(), before.bert);
  EXPECT_EQ(P().OutstandingBlocks(EfiACPIMemoryNVS), before.nvsBlocks);
}

TEST_F(BertAppend, LookupsInOrderAndTheirFailures) {
  const uint8_t raw[1] = {1};
  {  // no table protocol: one lookup only
    sim::Platform q;
    diag::gBS = q.BootServices();
    sim::acpi::InstallProtocols(q, false, true);
    sim::acpi::InstallBert(q, Block(0, 20, 0, 0, 3));
    EXPECT_EQ(atd::AppendBertRecord(raw, 1, 1, 0), EFI_NOT_FOUND);
    EXPECT_EQ(q.calls, std::vector<std::string>{"LocateProtocol"});
  }
  {  // no SDT protocol
    sim::Platform q;
    diag::gBS = q.BootServices();
    sim::acpi::InstallProtocols(q, true, false);
    sim::acpi::InstallBert(q, Block(0, 20, 0, 0, 3));
    EXPECT_EQ(atd::AppendBertRecord(raw, 1, 1, 0), EFI_NOT_FOUND);
    EXPECT_EQ(q.calls, (std::vector<std::string>{"LocateProtocol", "LocateProtocol"}));
  }
  {  // no BERT: the end of the table list
    sim::Platform q;
    diag::gBS = q.BootServices();
    sim::acpi::InstallProtocols(q);
    sim::acpi::InstallHest(q, 0, {});
    EXPECT_EQ(atd::AppendBertRecord(raw, 1, 1, 0), EFI_NOT_FOUND);
    EXPECT_EQ(q.calls, (std::vector<std::string>{"LocateProtocol", "LocateProtocol", "GetAcpiTable",
                                                 "GetAcpiTable"}));
  }
  {  // GetAcpiTable failing on the second index, and the pool exhausted
    sim::Platform q;
    diag::gBS = q.BootServices();
    sim::acpi::InstallProtocols(q);
    sim::acpi::InstallHest(q, 0, {});
    sim::acpi::InstallBert(q, Block(0, 20, 0, 0, 3));
    q.Fail("GetAcpiTable", EFI_DEVICE_ERROR, 1);
    EXPECT_EQ(atd::AppendBertRecord(raw, 1, 1, 0), EFI_DEVICE_ERROR);
    const Bytes bert = sim::acpi::TableBytes(q, kBertSignature);
    q.Fail("AllocatePool", EFI_OUT_OF_RESOURCES);
    EXPECT_EQ(atd::AppendBertRecord(raw, 1, 1, 0), EFI_OUT_OF_RESOURCES);
    EXPECT_EQ(sim::acpi::TableBytes(q, kBertSignature), bert);
    EXPECT_EQ(atd::AppendBertRecord(raw, 1, 1, 0), EFI_SUCCESS);
  }
  diag::gBS = P().BootServices();
}

TEST_F(BertAppend, NullDataWithZeroSizeIsAnEmptyRecord) {
  InstallRegion(Block(0, 20, 0, 0, 3));
  EXPECT_EQ(atd::AppendBertRecord(nullptr, 0, 1, 1), EFI_SUCCESS);
  EXPECT_EQ(Region(), Block(0x11, 20, 0, 0, 1));
}

}  // namespace
