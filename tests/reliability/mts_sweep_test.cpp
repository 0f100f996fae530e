// Every platform call of MemTuneSmm's SMI commands that reach a service made
// to fail in turn: token writes, the setup-variable update with its variable
// lookup, read, working-copy allocation and write-back. (The image entry's
// calls are swept with its other failures in tests/mem_tune/entry_test.cpp.)
#include "mem_tune/driver_entry.h"
#include "mem_tune/driver_globals.h"
#include "mem_tune/setup_variable.h"
#include "sim/platform/platform.h"
#include "sim/smm/profile_smm.h"
#include "sim/smm/smm.h"
#include "tests/reliability/fault_sweep.h"
#include "tests/reliability/mts_world.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <functional>

namespace {

using mttest::kSetupName;
using rel::FailedCall;
using rel::MtsWorld;

// ---- SMI commands ---------------------------------------------------------------

struct SmiScenario {
  const char* name;
  // Each request: its command and what is set up before it (mailbox fields,
  // the variable).
  std::vector<std::pair<uint32_t, std::function<void(MtsWorld&)>>> requests;
  // Token writes that carry a request's value: {write occurrence, request}.
  // The other writes are enable writes.
  std::vector<std::pair<uint32_t, size_t>> valueWrites;
  // Setup-variable updates the requests make (hold and release make none).
  uint32_t updates;
};

void Send(MtsWorld& w, uint32_t command, const std::function<void(MtsWorld&)>& fill) {
  fill(w);
  w.Box()->Command = command;
  w.Box()->Request = kMailboxRequestPending;
  sim::smm::RaiseSwSmi(w.p, 0x9D);
}

const SmiScenario kSmiScenarios[] = {
    {"set with an enable token (0x4000)",
     {{0x4000, [](MtsWorld& w) { w.Box()->tREFI = 0x1234; }}},
     {{1, 0}},
     1},
    {"set the memory clock",
     {{kMailboxCommandSetMemClock, [](MtsWorld& w) { w.Box()->MemClock = 1600; }}},
     {{0, 0}},
     1},
    {"two sets in a row (working copy made once)",
     {{0x2, [](MtsWorld& w) { w.Box()->tCL = 22; }},
      {0x5000, [](MtsWorld& w) { w.Box()->tRC = 0x4A; }}},
     {{0, 0}, {2, 1}},
     2},
    {"hold, set, release",
     {{kMailboxCommandHoldSetup, [](MtsWorld&) {}},
      {0x4, [](MtsWorld& w) { w.Box()->tRCDRD = 21; }},
      {kMailboxCommandReleaseSetup, [](MtsWorld&) {}}},
     {{0, 1}},
     1},
    {"a set, the variable grows, another set (working copy replaced)",
     {{0x2, [](MtsWorld& w) { w.Box()->tCL = 22; }},
      {0x8,
       [](MtsWorld& w) {
         sim::smm::FindVariable(w.p, kSetupName, mts::kTivSetupGuid)->data.resize(0x300, 0);
         w.Box()->tRCDWR = 19;
       }}},
     {{0, 0}, {1, 1}},
     2},
};

struct SmiResult {
  std::vector<EFI_STATUS> results;
  std::vector<sim::smm::TokenWrite> tokens;
  std::vector<uint8_t> setup;
  size_t smram;
};

SmiResult ResultOf(MtsWorld& w, size_t firstResult) {
  return {
      std::vector<EFI_STATUS>(w.Smm().smiResults.begin() + firstResult, w.Smm().smiResults.end()),
      w.Smm().tokenWrites, w.Setup(), sim::smm::SmramOutstandingBlocks(w.p)};
}

TEST(FaultSweep, MemTuneSmmSmiCommands) {
  size_t total = 0;
  for (const SmiScenario& s : kSmiScenarios) {
    SCOPED_TRACE(s.name);
    auto run = [&s](MtsWorld& w) {
      for (const auto& [command, fill] : s.requests) Send(w, command, fill);
    };
    SmiResult initial, done;
    {
      MtsWorld w(true);
      w.Smm().tokenWrites.clear();
      initial = ResultOf(w, w.Smm().smiResults.size());
      const size_t first = w.Smm().smiResults.size();
      run(w);
      done = ResultOf(w, first);
      ASSERT_NE(done.setup, initial.setup);
    }
    total += rel::Sweep<MtsWorld>(
        [] {
          auto w = std::make_unique<MtsWorld>(true);
          w->Smm().tokenWrites.clear();
          w->p.trace.Clear();
          return w;
        },
        run,
        [&](MtsWorld& w, const FailedCall& c) {
          const SmiResult now = ResultOf(w, w.Smm().smiResults.size() - s.requests.size());
          // Every request was completed.
          EXPECT_EQ(w.Box()->Request, 0u);
          EXPECT_EQ(w.Box()->Command, 0u);
          EXPECT_EQ(w.Box()->Busy, 0u);
          EXPECT_EQ(uint32_t{w.Box()->Status},
                    static_cast<uint32_t>(now.results.back() & 0xFFFFFFFF));
          const std::string& n = c.name;
          if (n == "ConfigTokenWrite") {
            // Recorded with its status; a value write's status is the
            // request's, an enable write's is not reported; the variable is
            // written all the same.
            auto tokens = done.tokens;
            tokens.at(c.occurrence).status = c.status;
            EXPECT_EQ(now.tokens, tokens);
            auto results = done.results;
            for (const auto& [occurrence, request] : s.valueWrites)
              if (occurrence == c.occurrence) results.at(request) = c.status;
            EXPECT_EQ(now.results, results);
            EXPECT_EQ(now.setup, done.setup);
            EXPECT_EQ(now.smram, done.smram);
          } else if (n == "SmmLocateProtocol" || n == "SmmGetVariable" || n == "SmmAllocatePool" ||
                     n == "SmmSetVariable") {
            // Reported by POST codes only; the request's status stands.
            EXPECT_EQ(now.results, done.results);
            EXPECT_EQ(now.tokens, done.tokens);
            const uint8_t code = n == "SmmLocateProtocol" ? 0xF1
                                 : n == "SmmGetVariable"  ? 0xF2
                                 : n == "SmmAllocatePool" ? 0xF3
                                                          : 0xF7;
            EXPECT_TRUE(w.Has(code));
            // Whether another update follows the one that failed (each
            // update makes each of these calls at most once).
            const bool laterUpdate = c.occurrence + 1 < s.updates;
            if (n == "SmmAllocatePool" && c.occurrence > 0) {
              // A larger copy could not be had: the earlier one stays.
              EXPECT_EQ(now.smram, initial.smram + 1);
              EXPECT_NE(mts::gSetupWorkingCopy, nullptr);
            } else if (n == "SmmAllocatePool" && !laterUpdate) {
              EXPECT_EQ(now.smram, initial.smram);  // no working copy
              EXPECT_EQ(mts::gSetupWorkingCopy, nullptr);
            } else if (n == "SmmAllocatePool") {
              // The next update makes the working copy after all.
              EXPECT_EQ(now.smram, done.smram);
              EXPECT_NE(mts::gSetupWorkingCopy, nullptr);
            }
            // The failed update leaves the variable as the earlier ones made
            // it; a later update writes it all the same.
            const bool earlierUpdate = c.occurrence > 0;
            if (laterUpdate) {
              EXPECT_TRUE(w.Has(0xF8));
            } else if (earlierUpdate) {
              EXPECT_NE(now.setup, done.setup);
            } else {
              EXPECT_EQ(now.setup, initial.setup);
              EXPECT_FALSE(w.Has(0xF8));
            }
          } else if (n == "SmmFreePool") {
            // Freeing the outgrown working copy: its status is not looked at;
            // the larger copy is in use and the update went through. The
            // block the service refused to free stays.
            EXPECT_EQ(now.results, done.results);
            EXPECT_EQ(now.tokens, done.tokens);
            EXPECT_EQ(now.setup, done.setup);
            EXPECT_EQ(now.smram, done.smram + 1);
            EXPECT_TRUE(w.Has(0xF8));
          } else {
            ADD_FAILURE() << "no expectation for " << c.Label();
          }
        });
  }
  std::printf("fault-injection cases (MemTuneSmm SMI commands): %zu\n", total);
  ::testing::Test::RecordProperty("cases", static_cast<int>(total));
  EXPECT_GT(total, 0u);
}

}  // namespace
