// The mailbox and the settings record are served only when they lie wholly
// in memory that stays mapped in SMM (reserved, runtime services code/data,
// ACPI NVS), by the memory map taken at entry, and wholly outside SMRAM;
// otherwise an SMI changes nothing. Checked through SMIs, not only the
// helpers.
#include "fixture.h"
#include "mem_tune/mapped_memory_check.h"

#include <optional>

namespace mttest {
namespace {

constexpr UINTN kStride = 48;  // descriptor slots larger than the record, as in firmware

struct Region {
  UINT64 start;
  UINT64 pages;
  UINT32 type;
};

std::vector<uint8_t> MapOf(const std::vector<Region>& regions, UINTN stride = kStride) {
  std::vector<uint8_t> out(regions.size() * stride, 0xA5);
  for (size_t i = 0; i < regions.size(); ++i) {
    EFI_MEMORY_DESCRIPTOR d{};
    d.Type = regions[i].type;
    d.PhysicalStart = regions[i].start;
    d.NumberOfPages = regions[i].pages;
    std::memcpy(out.data() + i * stride, &d, sizeof d);
  }
  return out;
}

struct RangeCase {
  const char* name;
  std::vector<Region> map;
  UINT64 address, length;
  bool mapped;
};

class RangeStaysMappedTable : public ::testing::TestWithParam<RangeCase> {};

TEST_P(RangeStaysMappedTable, CoverageByTheRightTypes) {
  const RangeCase& c = GetParam();
  const auto map = MapOf(c.map);
  EXPECT_EQ(mts::RangeStaysMapped(map.data(), map.size(), kStride, c.address, c.length), c.mapped);
}

INSTANTIATE_TEST_SUITE_P(
    MemTune, RangeStaysMappedTable,
    ::testing::Values(
        RangeCase{"Reserved", {{0x10000, 1, EfiReservedMemoryType}}, 0x10000, 0xCA, true},
        RangeCase{"RuntimeCode", {{0x10000, 1, EfiRuntimeServicesCode}}, 0x10F00, 0x100, true},
        RangeCase{"RuntimeData", {{0x10000, 1, EfiRuntimeServicesData}}, 0x10000, 0x1000, true},
        RangeCase{"AcpiNvs", {{0x10000, 2, EfiACPIMemoryNVS}}, 0x10FF0, 0x20, true},
        RangeCase{"BootServicesData", {{0x10000, 1, EfiBootServicesData}}, 0x10000, 0xCA, false},
        RangeCase{"Conventional", {{0x10000, 1, EfiConventionalMemory}}, 0x10000, 0xCA, false},
        RangeCase{"LoaderData", {{0x10000, 1, EfiLoaderData}}, 0x10000, 0xCA, false},
        RangeCase{"AcpiReclaim", {{0x10000, 1, EfiACPIReclaimMemory}}, 0x10000, 0xCA, false},
        RangeCase{"Mmio", {{0x10000, 1, EfiMemoryMappedIO}}, 0x10000, 0xCA, false},
        RangeCase{"NotInTheMap", {{0x10000, 1, EfiReservedMemoryType}}, 0x20000, 0xCA, false},
        // The last byte of the page is the last byte allowed.
        RangeCase{"EndsOnThePageEnd", {{0x10000, 1, EfiReservedMemoryType}}, 0x10F36, 0xCA, true},
        RangeCase{"OneBytePast", {{0x10000, 1, EfiReservedMemoryType}}, 0x10F37, 0xCA, false},
        RangeCase{"StartsBelow", {{0x10000, 1, EfiReservedMemoryType}}, 0xFFFF, 0xCA, false},
        // Adjacent descriptors, in any order, of mapped types cover together.
        RangeCase{"AcrossTwoMappedTypes",
                  {{0x11000, 1, EfiRuntimeServicesData}, {0x10000, 1, EfiReservedMemoryType}},
                  0x10FF0,
                  0xCA,
                  true},
        // Starting on the last byte of one descriptor and going on into the next.
        RangeCase{"FromTheLastByteIntoTheNext",
                  {{0x10000, 1, EfiReservedMemoryType}, {0x11000, 1, EfiACPIMemoryNVS}},
                  0x10FFF,
                  0xCA,
                  true},
        RangeCase{"FromTheLastByteIntoUnmapped",
                  {{0x10000, 1, EfiReservedMemoryType}, {0x11000, 1, EfiConventionalMemory}},
                  0x10FFF,
                  0xCA,
                  false},
        RangeCase{"IntoBootServicesData",
                  {{0x10000, 1, EfiReservedMemoryType}, {0x11000, 1, EfiBootServicesData}},
                  0x10FF0,
                  0xCA,
                  false},
        RangeCase{"AcrossAGap",
                  {{0x10000, 1, EfiReservedMemoryType}, {0x12000, 1, EfiReservedMemoryType}},
                  0x10FF0,
                  0x1100,
                  false},
        RangeCase{"WrapsAround", {{0x10000, 1, EfiReservedMemoryType}}, ~0ull - 0x10, 0x20, false},
        // A descriptor whose pages would run past the address space is no
        // help (and no overflow).
        RangeCase{"DescriptorPastTheTop",
                  {{0xFFFFFFFFFFFFF000ull, 2, EfiReservedMemoryType}},
                  0xFFFFFFFFFFFFF000ull,
                  0x10,
                  false},
        RangeCase{"EmptyDescriptor", {{0x10000, 0, EfiReservedMemoryType}}, 0x10000, 1, false}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(RangeStaysMapped, DescriptorSizeMustHoldTheRecordAndKeepItAligned) {
  const auto map40 = MapOf({{0x10000, 1, EfiReservedMemoryType}}, 40);
  EXPECT_TRUE(mts::RangeStaysMapped(map40.data(), map40.size(), 40, 0x10000, 0x10));
  const auto map36 = MapOf({{0x10000, 1, EfiReservedMemoryType}}, 48);
  EXPECT_FALSE(mts::RangeStaysMapped(map36.data(), map36.size(), 36, 0x10000, 0x10));
  EXPECT_FALSE(mts::RangeStaysMapped(map36.data(), map36.size(), 44, 0x10000, 0x10));
  EXPECT_FALSE(mts::RangeStaysMapped(nullptr, 0, kStride, 0x10000, 0x10));
}

// ---- through the SMI ----------------------------------------------------------

// Where the records are placed (offsets in the two shared pages; the first
// page is described as reserved memory unless `firstPage` says otherwise),
// and what the map says about the second page.
struct PlacementCase {
  const char* name;
  size_t mailboxAt;
  size_t settingsAt;
  std::optional<UINT32> firstPage;   // retype the first page
  std::optional<UINT32> secondPage;  // describe the second page
  bool served;
};

class Placement : public MemTuneTest, public ::testing::WithParamInterface<PlacementCase> {};

TEST_P(Placement, ServedOnlyInMemoryThatStaysMapped) {
  const PlacementCase& c = GetParam();
  uint8_t* shared = sim::smm::SharedMemory(p);
  const auto page0 = reinterpret_cast<uint64_t>(shared);
  if (c.firstPage) {
    for (auto& d : p.memoryMap)
      if (d.PhysicalStart == page0) d.Type = *c.firstPage;
  }
  if (c.secondPage)
    p.DescribeMemory(page0 + sim::smm::kPageBytes, sim::smm::kPageBytes,
                     static_cast<EFI_MEMORY_TYPE>(*c.secondPage));
  uint8_t* box = shared + c.mailboxAt;
  uint8_t* settings = shared + c.settingsAt;
  Smm().provider.MailboxAddress = reinterpret_cast<uint64_t>(box);
  Smm().provider.SettingsRecordAddress = reinterpret_cast<uint64_t>(settings);
  ASSERT_EQ(Boot(), EFI_SUCCESS);
  std::memset(settings, 0x5C, mts::kSettingsRecordSize);
  auto* mailbox = reinterpret_cast<MemTuneMailbox*>(box);
  mailbox->Request = 4;
  mailbox->Command = kMailboxCommandReadCurrent;
  const std::vector<uint8_t> before(box, box + sizeof(MemTuneMailbox));
  RaiseSmi();
  if (c.served) {
    EXPECT_EQ(Smm().smiResults.back(), EFI_SUCCESS);
    EXPECT_EQ(PostCodes(), (std::vector<uint8_t>{0xD1, 0xD2, 0xD3}));
    EXPECT_EQ(mailbox->Request, 0u);
    EXPECT_EQ(box[0x45], 0x5C);  // settings 0x08
  } else {
    EXPECT_EQ(Smm().smiResults.back(), EFI_ACCESS_DENIED);
    EXPECT_EQ(PostCodes(), std::vector<uint8_t>{0xD1});
    EXPECT_EQ(std::vector<uint8_t>(box, box + sizeof(MemTuneMailbox)), before);
    EXPECT_TRUE(p.trace.Mmio().empty());
  }
}

constexpr size_t kPage = sim::smm::kPageBytes;

INSTANTIATE_TEST_SUITE_P(
    MemTune, Placement,
    ::testing::Values(PlacementCase{"Reserved", 0, 0x100, std::nullopt, std::nullopt, true},
                      PlacementCase{"BootServicesData", 0, 0x100, EfiBootServicesData, std::nullopt,
                                    false},
                      // The mailbox runs from the reserved page into the next one.
                      PlacementCase{"MailboxIntoUndescribedPage", kPage - 0x10, 0x100, std::nullopt,
                                    std::nullopt, false},
                      PlacementCase{"MailboxIntoBootServicesPage", kPage - 0x10, 0x100,
                                    std::nullopt, EfiBootServicesData, false},
                      PlacementCase{"MailboxIntoRuntimePage", kPage - 0x10, 0x100, std::nullopt,
                                    EfiRuntimeServicesCode, true},
                      // The settings record alone runs into the next page.
                      PlacementCase{"SettingsIntoUndescribedPage", 0, kPage - 0x20, std::nullopt,
                                    std::nullopt, false},
                      PlacementCase{"SettingsIntoAcpiNvsPage", 0, kPage - 0x20, std::nullopt,
                                    EfiACPIMemoryNVS, true}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(MemTuneTest, NoMemoryMapAtEntryMeansNoRecordIsServed) {
  p.Fail("GetMemoryMap", EFI_DEVICE_ERROR);
  ASSERT_EQ(Boot(), EFI_SUCCESS);
  EXPECT_FALSE(mts::gSharedMemoryMapped);
  Box()->Command = 0x2;
  Box()->Request = 4;
  const std::vector<uint8_t> before(BoxBytes(), BoxBytes() + sizeof(MemTuneMailbox));
  RaiseSmi();
  EXPECT_EQ(Smm().smiResults.back(), EFI_ACCESS_DENIED);
  EXPECT_EQ(std::vector<uint8_t>(BoxBytes(), BoxBytes() + sizeof(MemTuneMailbox)), before);
  EXPECT_TRUE(Smm().tokenWrites.empty());
}

// Records that start below SMRAM (in the reserved page in front of it) and
// reach into it: refused by the SMI itself, nothing written on either side.
struct SmramEdgeCase {
  const char* name;
  ptrdiff_t mailboxFromSmram;   // used when moveMailbox
  ptrdiff_t settingsFromSmram;  // used when moveSettings
  bool moveMailbox, moveSettings;
};

class SmramEdge : public MemTuneTest, public ::testing::WithParamInterface<SmramEdgeCase> {};

TEST_P(SmramEdge, RecordReachingIntoSmramFromBelowIsRefused) {
  const SmramEdgeCase& c = GetParam();
  uint8_t* smram = sim::smm::SmramBase(p);
  uint8_t* box = c.moveMailbox ? smram + c.mailboxFromSmram : BoxBytes();
  if (c.moveMailbox) Smm().provider.MailboxAddress = reinterpret_cast<uint64_t>(box);
  if (c.moveSettings)
    Smm().provider.SettingsRecordAddress = reinterpret_cast<uint64_t>(smram + c.settingsFromSmram);
  ASSERT_EQ(Boot(), EFI_SUCCESS);
  EXPECT_TRUE(mts::gSharedMemoryMapped);  // reserved memory: only SMRAM refuses it
  auto* mailbox = reinterpret_cast<MemTuneMailbox*>(box);
  mailbox->Request = 4;
  mailbox->Command = kMailboxCommandReadCurrent;
  // What lies around SMRAM's start, before the SMI.
  const std::vector<uint8_t> around(smram - 0x100, smram + 0x100);
  const std::vector<uint8_t> before(box, box + sizeof(MemTuneMailbox));
  RaiseSmi();
  EXPECT_EQ(Smm().smiResults.back(), EFI_ACCESS_DENIED);
  EXPECT_EQ(PostCodes(), std::vector<uint8_t>{0xD1});
  EXPECT_EQ(std::vector<uint8_t>(box, box + sizeof(MemTuneMailbox)), before);
  EXPECT_EQ(std::vector<uint8_t>(smram - 0x100, smram + 0x100), around);
  EXPECT_TRUE(p.trace.Mmio().empty());
}

INSTANTIATE_TEST_SUITE_P(MemTune, SmramEdge,
                         ::testing::Values(SmramEdgeCase{"Mailbox", -0x10, 0, true, false},
                                           SmramEdgeCase{"SettingsRecord", 0, -0x20, false, true},
                                           SmramEdgeCase{"MailboxLastByte",
                                                         -ptrdiff_t(sizeof(MemTuneMailbox)) + 1, 0,
                                                         true, false}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace mttest
