// Every platform call of the error operations of TranslationProtocol made to
// fail in turn (slots 3 to 6, on a booted driver): a failed lookup or
// allocation returns its status and changes no table, region or pool block;
// the calls whose status is not looked at (FreePool, UninstallAcpiTable,
// StartupThisAP) leave the documented result.
#include "pi/acpi_tables.h"
#include "sim/acpi/acpi_tables.h"
#include "sim/mca/mca_banks.h"
#include "sim/platform/pool_accounting.h"
#include "tests/reliability/atd_world.h"
#include "tests/reliability/fault_sweep.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <functional>
#include <map>

namespace {

using Bytes = std::vector<uint8_t>;
using rel::FailedCall;

Bytes Fill(size_t n, uint8_t start) {
  Bytes b(n);
  for (size_t i = 0; i < n; ++i) b[i] = static_cast<uint8_t>(start + i);
  return b;
}

// A booted driver beside ACPI tables (one unrelated table, a BERT whose
// region holds one entry and raw data, a HEST with one source) and machine-
// check banks on processor 1.
struct OpsWorld : rel::AtdWorld {
  Bytes data = Fill(72, 0x40);
  EFI_STATUS result = EFI_SUCCESS;
  McaBankSnapshot snapshot{};

  OpsWorld() {
    sim::acpi::InstallProtocols(p);
    Bytes other = sim::acpi::Header(0x50434146, 36, 1);  // "FACP"
    sim::acpi::Store(p).Add(other);
    // Status block (one entry of 8 bytes, 4 bytes of raw data after it).
    GenericErrorStatusBlock b{1u << 4 | kBlockCorrectableValid, 28, 4, 8, kSeverityCorrected};
    Bytes region(sizeof b);
    std::memcpy(region.data(), &b, sizeof b);
    Bytes tail = Fill(12, 0xA0);
    region.insert(region.end(), tail.begin(), tail.end());
    sim::acpi::InstallBert(p, region);
    sim::acpi::InstallHest(p, 1, Fill(40, 0x10));
    sim::mca::SetBankCount(p, 1, 2);
    sim::mca::SetBankRegister(p, 1, 0, 5, 1);                      // bank 0 present
    sim::mca::SetBankRegister(p, 1, 0, 1, 0x8000000000000000ULL);  // with a logged error
    EXPECT_EQ(Boot(), EFI_SUCCESS);
  }

  Bytes Bert() { return sim::acpi::TableBytes(p, kBertSignature); }
  Bytes Region() { return sim::acpi::BootErrorRegion(p); }
  Bytes Hest() { return sim::acpi::TableBytes(p, kHestSignature); }
  size_t Hests() {
    size_t n = 0;
    for (const auto& t : sim::acpi::Store(p).tables) {
      uint32_t sig = 0;
      std::memcpy(&sig, t->bytes.data(), 4);
      n += sig == kHestSignature;
    }
    return n;
  }
};

// What a scenario leaves: the tables, the region, the snapshot and the pools.
struct State {
  Bytes bert, region, hest;
  size_t hests;
  McaBankSnapshot snapshot;
  std::string pools;
  size_t nvsBlocks;
  static State Of(OpsWorld& w) {
    const sim::PoolReport report = sim::OutstandingPools(w.p);
    const auto nvs = report.find(EfiACPIMemoryNVS);
    return {w.Bert(),
            w.Region(),
            w.Hest(),
            w.Hests(),
            w.snapshot,
            sim::Describe(report),
            nvs == report.end() ? 0 : nvs->second.blocks};
  }
};

struct Scenario {
  const char* name;
  std::function<void(OpsWorld&)> run;
};

const Scenario kScenarios[] = {
    {"slot 3, raw data",
     [](OpsWorld& w) { w.result = w.Protocol()->AppendBertRecord(w.data.data(), 72, 1, 2); }},
    {"slot 3, data entry",
     [](OpsWorld& w) { w.result = w.Protocol()->AppendBertRecord(w.data.data(), 72, 2, 1); }},
    {"slot 4",
     [](OpsWorld& w) { w.result = w.Protocol()->AddHestErrorSource(w.data.data(), 40, 7, 7); }},
    {"slot 6",
     [](OpsWorld& w) { w.result = w.Protocol()->AddHestErrorSources(w.data.data(), 72, 3, 0); }},
    {"slot 5, another processor",
     [](OpsWorld& w) {
       std::memset(&w.snapshot, 0x5A, sizeof w.snapshot);
       w.snapshot.processorNumber = 1;
       w.result = w.Protocol()->CaptureMcaBanks(&w.snapshot);
     }},
};

TEST(FaultSweep, ErrorOperationsOfTranslationProtocol) {
  size_t total = 0;
  for (const Scenario& s : kScenarios) {
    SCOPED_TRACE(s.name);
    // Untouched and completed states to compare with.
    State before, done;
    {
      OpsWorld w;
      before = State::Of(w);
      s.run(w);
      ASSERT_EQ(w.result, EFI_SUCCESS);
      done = State::Of(w);
      const bool changed = done.bert != before.bert || done.hest != before.hest ||
                           std::memcmp(&done.snapshot, &before.snapshot, sizeof done.snapshot) != 0;
      ASSERT_TRUE(changed);
    }
    // Each world's own state before the operation (the BERT holds the
    // address of that world's region).
    std::map<const OpsWorld*, State> initial;
    total += rel::Sweep<OpsWorld>(
        [&initial] {
          auto w = std::make_unique<OpsWorld>();
          initial[w.get()] = State::Of(*w);
          return w;
        },
        s.run,
        [&](OpsWorld& w, const FailedCall& c) {
          const State now = State::Of(w);
          const State& untouched = initial.at(&w);
          const std::string& n = c.name;
          if (n == "LocateProtocol" || n == "GetAcpiTable" || n == "AllocatePool") {
            // The failure is returned and nothing changed.
            EXPECT_EQ(w.result, c.status);
            EXPECT_EQ(now.bert, untouched.bert);
            EXPECT_EQ(now.region, untouched.region);
            EXPECT_EQ(now.hest, untouched.hest);
            EXPECT_EQ(now.hests, 1u);
            EXPECT_EQ(now.pools, untouched.pools);
            EXPECT_EQ(w.p.calls, c.UpToFailure());
          } else if (n == "FreePool") {
            // Its status is not looked at: the append stands; the block the
            // simulator refused to free stays allocated.
            EXPECT_EQ(w.result, EFI_SUCCESS);
            ASSERT_EQ(now.bert.size(), done.bert.size());
            EXPECT_EQ(std::memcmp(now.bert.data() + 36, done.bert.data() + 36, 4), 0);
            EXPECT_EQ(now.region, done.region);
            EXPECT_EQ(now.hest, done.hest);
            EXPECT_EQ(now.hests, 1u);
            EXPECT_EQ(w.p.calls, *c.baseline);
            EXPECT_EQ(now.nvsBlocks, done.nvsBlocks + 1);
          } else if (n == "UninstallAcpiTable") {
            // Returned; the old table stays the only HEST, the copy is freed.
            EXPECT_EQ(w.result, c.status);
            EXPECT_EQ(now.hests, 1u);
            EXPECT_EQ(now.hest, untouched.hest);
            EXPECT_EQ(now.pools, untouched.pools);
            rel::Calls want = c.UpToFailure();
            want.push_back("FreePool");
            EXPECT_EQ(w.p.calls, want);
          } else if (n == "InstallAcpiTable") {
            // Returned; the old table is put back as it was, the copy freed.
            EXPECT_EQ(w.result, c.status);
            EXPECT_EQ(now.hest, untouched.hest);
            EXPECT_EQ(now.hests, 1u);
            EXPECT_EQ(now.pools, untouched.pools);
            rel::Calls want = c.UpToFailure();
            want.push_back("InstallAcpiTable");
            want.push_back("FreePool");
            EXPECT_EQ(w.p.calls, want);
          } else if (n == "StartupThisAP") {
            // Passed on: the processor's bytes are filled, the banks are left
            // as the caller had them.
            EXPECT_EQ(w.result, c.status);
            EXPECT_EQ(std::memcmp(w.snapshot.processorInfo, done.snapshot.processorInfo, 5), 0);
            EXPECT_EQ(w.snapshot.bankCount, 0x5A5A5A5A5A5A5A5AULL);
            EXPECT_EQ(now.pools, untouched.pools);
          } else {
            ADD_FAILURE() << "no expectation for " << c.Label();
          }
        });
  }
  std::printf("fault-injection cases (error operations): %zu\n", total);
  ::testing::Test::RecordProperty("cases", static_cast<int>(total));
  EXPECT_GT(total, 0u);
}

}  // namespace
