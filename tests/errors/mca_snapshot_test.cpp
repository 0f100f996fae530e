// CaptureMcaBanks and its bank reader on the simulated processors: the checks
// against the processor list, which processor reads, and the exact MSR
// sequence per processor.
#include "addr_translate/driver_globals.h"
#include "addr_translate/errors/error_slots.h"
#include "addr_translate/errors/mca_snapshot.h"
#include "diag/boot_services_table.h"
#include "sim/mca/mca_banks.h"
#include "sim/platform/platform.h"
#include "sim/topology/topology_double.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>

namespace {

using sim::MsrR;

constexpr uint64_t kPresent = 0x000000B000000000ULL;  // bits 43:32 non-zero
constexpr uint64_t kValid = 1ULL << 63;

class McaSnapshot : public ::testing::Test {
 protected:
  McaSnapshot() : p(4) {
    p.InstallMpServices();
    diag::gBS = p.BootServices();
    atd::gMpServices = p.MpServices();
    atd::gPlatformTopology = &topo.iface;
    snapshot = std::make_unique<McaBankSnapshot>();
    std::memset(snapshot.get(), 0xEE, sizeof(McaBankSnapshot));
  }
  ~McaSnapshot() override {
    diag::gBS = nullptr;
    atd::gMpServices = nullptr;
    atd::gPlatformTopology = nullptr;
  }
  void List(std::initializer_list<uint64_t> numbers) {
    for (uint64_t n : numbers) {
      ProcessorListEntry e{};
      e.processorNumber = n;
      for (unsigned i = 0; i < 5; ++i) e.info[i] = static_cast<uint8_t>(0x10 * n + i + 1);
      std::memset(e.notRead, 0x77, 3);
      topo.processors.push_back(e);
    }
    topo.Sync(nullptr);
  }
  bool Unchanged() const {
    McaBankSnapshot fresh;
    std::memset(&fresh, 0xEE, sizeof fresh);
    fresh.processorNumber = snapshot->processorNumber;
    return std::memcmp(&fresh, snapshot.get(), sizeof fresh) == 0;
  }

  sim::Platform p;
  sim::TopologyDouble topo;
  std::unique_ptr<McaBankSnapshot> snapshot;
};

struct CheckCase {
  const char* name;
  std::vector<uint64_t> list;
  uint64_t wanted;
  EFI_STATUS status;
};

TEST_F(McaSnapshot, RefusalsLeaveTheRecordAndTouchNoProcessor) {
  const CheckCase cases[] = {
      {"above the count", {0, 1}, 3, EFI_INVALID_PARAMETER},
      {"empty list, processor 0", {}, 0, EFI_NOT_FOUND},
      {"empty list, processor 1", {}, 1, EFI_INVALID_PARAMETER},
      {"equal to the count, numbers from 0", {0, 1}, 2, EFI_NOT_FOUND},
      {"not in a list out of order", {3, 0, 2}, 1, EFI_NOT_FOUND},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    topo.processors.clear();
    for (uint64_t n : c.list) List({n});
    topo.Sync(nullptr);
    std::memset(snapshot.get(), 0xEE, sizeof(McaBankSnapshot));
    snapshot->processorNumber = c.wanted;
    p.trace.Clear();
    p.calls.clear();
    EXPECT_EQ(atd::CaptureMcaBanks(snapshot.get()), c.status);
    EXPECT_TRUE(Unchanged());
    EXPECT_TRUE(p.trace.Events().empty());
    EXPECT_TRUE(p.calls.empty());
  }
}

TEST_F(McaSnapshot, NullRecordIsRefused) {
  List({0});
  EXPECT_EQ(atd::CaptureMcaBanks(nullptr), EFI_INVALID_PARAMETER);
  EXPECT_TRUE(p.trace.Events().empty());
}

TEST_F(McaSnapshot, FirstEntryWithTheNumberGivesTheFiveBytes) {
  List({3, 2, 1});
  ProcessorListEntry dup{};
  dup.processorNumber = 2;
  std::memset(dup.info, 0x99, 5);
  topo.processors.push_back(dup);
  topo.Sync(nullptr);
  snapshot->processorNumber = 2;
  ASSERT_EQ(atd::CaptureMcaBanks(snapshot.get()), EFI_SUCCESS);
  const uint8_t want[5] = {0x21, 0x22, 0x23, 0x24, 0x25};
  EXPECT_EQ(std::memcmp(snapshot->processorInfo, want, 5), 0);
  for (uint8_t b : snapshot->untouched) EXPECT_EQ(b, 0xEE);  // bytes 13..15 of the entry not read
}

// Bank 0 without hardware, bank 1 present but quiet, bank 2 with a logged
// error: the reader's full sequence, on the processor asked for.
TEST_F(McaSnapshot, ReadsEachBankInOrderOnTheChosenProcessor) {
  List({0, 1, 2, 3});
  const unsigned cpu = 2;
  p.cpus[cpu].msrs[0x179] = 0x0000000000000F03ULL;  // bits above 7:0 are not the count
  sim::mca::SetBankRegister(p, cpu, 0, 5, 0x000B000000000000ULL);  // only bits outside 43:32
  sim::mca::SetBankRegister(p, cpu, 0, 1, kValid | 1);             // never read
  sim::mca::SetBankRegister(p, cpu, 1, 5, kPresent);
  sim::mca::SetBankRegister(p, cpu, 1, 1, 0x7FFFFFFFFFFFFFFFULL);
  for (unsigned n = 0; n <= 0xA; ++n) sim::mca::SetBankRegister(p, cpu, 2, n, 0x2000 + n);
  sim::mca::SetBankRegister(p, cpu, 2, 1, kValid | 0x21);
  sim::mca::SetBankRegister(p, cpu, 2, 5, kPresent | 0x25);
  p.cpus[0].msrs[0x179] = 7;  // the calling processor's banks must not be read

  snapshot->processorNumber = cpu;
  ASSERT_EQ(atd::CaptureMcaBanks(snapshot.get()), EFI_SUCCESS);

  auto b = [](unsigned bank, unsigned n) { return 0xC0002000u + 16 * bank + n; };
  const std::vector<sim::TraceEvent> want = {
      MsrR(0x179, 0xF03, cpu),
      MsrR(b(0, 5), 0x000B000000000000ULL, cpu),
      MsrR(b(1, 5), kPresent, cpu),
      MsrR(b(1, 1), 0x7FFFFFFFFFFFFFFFULL, cpu),
      MsrR(b(2, 5), kPresent | 0x25, cpu),
      MsrR(b(2, 1), kValid | 0x21, cpu),
      MsrR(b(2, 2), 0x2002, cpu),
      MsrR(b(2, 4), 0x2004, cpu),
      MsrR(b(2, 6), 0x2006, cpu),
      MsrR(b(2, 3), 0x2003, cpu),
      MsrR(b(2, 0xA), 0x200A, cpu),
      MsrR(b(2, 8), 0x2008, cpu),
      MsrR(b(2, 9), 0x2009, cpu),
  };
  EXPECT_EQ(p.trace.Events(), want);
  EXPECT_EQ(p.calls, std::vector<std::string>{"StartupThisAP"});

  EXPECT_EQ(snapshot->bankCount, 3u);
  const uint8_t info[5] = {0x21, 0x22, 0x23, 0x24, 0x25};
  EXPECT_EQ(std::memcmp(snapshot->processorInfo, info, 5), 0);

  const McaBankEntry& absent = snapshot->banks[0];
  EXPECT_EQ(absent.bankIndex, 0u);
  EXPECT_EQ(absent.msr1, 0u);
  for (uint64_t v : {absent.msr2, absent.msr3, absent.msr4, absent.msr5, absent.msr6, absent.msr8,
                     absent.msr9, absent.msrA})
    EXPECT_EQ(v, 0xEEEEEEEEEEEEEEEEULL);

  const auto* quiet = reinterpret_cast<const uint8_t*>(&snapshot->banks[1]);
  for (unsigned i = 0; i < sizeof(McaBankEntry); ++i) ASSERT_EQ(quiet[i], 0xEE) << i;

  const McaBankEntry& logged = snapshot->banks[2];
  EXPECT_EQ(logged.bankIndex, 2u);
  EXPECT_EQ(logged.msr1, kValid | 0x21);
  EXPECT_EQ(logged.msr2, 0x2002u);
  EXPECT_EQ(logged.msr3, 0x2003u);
  EXPECT_EQ(logged.msr4, 0x2004u);
  EXPECT_EQ(logged.msr5, kPresent | 0x25);
  EXPECT_EQ(logged.msr6, 0x2006u);
  EXPECT_EQ(logged.msr8, 0x2008u);
  EXPECT_EQ(logged.msr9, 0x2009u);
  EXPECT_EQ(logged.msrA, 0x200Au);

  const auto* after = reinterpret_cast<const uint8_t*>(&snapshot->banks[3]);
  for (unsigned i = 0; i < sizeof(McaBankEntry); ++i) ASSERT_EQ(after[i], 0xEE) << i;
}

TEST_F(McaSnapshot, ProcessorZeroReadsDirectlyWithoutMpServices) {
  List({1, 0});
  p.cpus[0].msrs[0x179] = 1;
  sim::mca::SetBankRegister(p, 0, 0, 5, kPresent);
  sim::mca::SetBankRegister(p, 0, 0, 1, kValid);
  snapshot->processorNumber = 0;
  ASSERT_EQ(atd::CaptureMcaBanks(snapshot.get()), EFI_SUCCESS);
  EXPECT_TRUE(p.calls.empty());
  ASSERT_EQ(p.trace.Events().size(), 10u);  // MSR 0x179, then nine bank registers
  for (const auto& e : p.trace.Events()) EXPECT_EQ(e.cpu, 0u);
  EXPECT_EQ(snapshot->bankCount, 1u);
  EXPECT_EQ(snapshot->banks[0].msr1, kValid);
}

TEST_F(McaSnapshot, NoBanksWritesTheCountOnly) {
  List({0, 1});
  snapshot->processorNumber = 1;
  ASSERT_EQ(atd::CaptureMcaBanks(snapshot.get()), EFI_SUCCESS);
  EXPECT_EQ(p.trace.Events(), (std::vector<sim::TraceEvent>{MsrR(0x179, 0, 1)}));
  EXPECT_EQ(snapshot->bankCount, 0u);
  const auto* rest = reinterpret_cast<const uint8_t*>(snapshot->banks);
  for (unsigned i = 0; i < sizeof(McaBankEntry); ++i) ASSERT_EQ(rest[i], 0xEE);
}

// A processor that did not run the reader: its status is the capture's; the
// processor's bytes are filled, the banks keep what the caller put there.
TEST_F(McaSnapshot, FailedStartIsReturnedWithInfoOnly) {
  List({0, 1, 2, 3, 4});  // MP services know processors 0 to 3
  p.cpus[1].msrs[0x179] = 2;
  struct Case {
    const char* name;
    uint64_t processor;
    bool inject;
    EFI_STATUS status;
  } cases[] = {
      {"StartupThisAP fails", 1, true, EFI_NOT_READY},
      {"listed, but unknown to MP services", 4, false, EFI_NOT_FOUND},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::memset(snapshot.get(), 0xEE, sizeof(McaBankSnapshot));
    p.trace.Clear();
    if (c.inject) p.Fail("StartupThisAP", c.status);
    snapshot->processorNumber = c.processor;
    ASSERT_EQ(atd::CaptureMcaBanks(snapshot.get()), c.status);
    EXPECT_TRUE(p.trace.Events().empty());
    EXPECT_EQ(snapshot->processorInfo[0], 0x10 * c.processor + 1);
    EXPECT_EQ(snapshot->bankCount, 0xEEEEEEEEEEEEEEEEULL);
  }
}

}  // namespace
