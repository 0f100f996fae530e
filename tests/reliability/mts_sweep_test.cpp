// Every platform call of MemTuneSmm made to fail in turn: its image entry
// (constructors, lookups, registration) and the SMI commands that reach a
// service (token writes, the setup-variable update with its variable
// lookup, read, working-copy allocation and write-back).
#include "mem_tune/driver_entry.h"
#include "mem_tune/driver_globals.h"
#include "mem_tune/setup_variable.h"
#include "sim/platform/platform.h"
#include "sim/smm/profile_smm.h"
#include "sim/smm/smm.h"
#include "tests/reliability/fault_sweep.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <functional>

namespace {

using rel::FailedCall;
const std::u16string kSetup = u"TivSetup";

// The SMM platform of the default profile sections.
struct MtsWorld {
  sim::Platform p;
  EFI_STATUS image = EFI_SUCCESS;
  explicit MtsWorld(bool boot) {
    using namespace sim::profile;
    LoadSmm(DefaultSmm(), "$.smm", p);
    LoadMemTuneProvider(DefaultMemTuneProvider(), "$.memTuneProvider", p);
    LoadVariables(DefaultVariables(), "$.variables", p);
    LoadMemoryController(DefaultMemoryController(), "$.memoryController", p);
    if (boot) {
      EXPECT_EQ(Boot(), EFI_SUCCESS);
    }
  }
  EFI_STATUS Boot() { return image = mts::ImageEntry(p.ImageHandle(), p.SystemTable()); }
  sim::smm::SmmState& Smm() { return sim::smm::Smm(p); }
  MemTuneMailbox* Box() { return sim::smm::Mailbox(p); }
  std::vector<uint8_t> Setup() {
    return sim::smm::FindVariable(p, kSetup, mts::kTivSetupGuid)->data;
  }
  std::vector<uint8_t> Post() const {
    std::vector<uint8_t> out;
    for (auto& e : p.trace.PortWrites(0x80)) out.push_back(static_cast<uint8_t>(e.value));
    return out;
  }
  bool Has(uint8_t code) const {
    for (uint8_t c : Post())
      if (c == code) return true;
    return false;
  }
  // A pending read request: EFI_ACCESS_DENIED (mailbox left alone) when the
  // handler cannot tell where SMRAM is.
  EFI_STATUS ReadRequest() {
    Box()->Command = kMailboxCommandReadCurrent;
    Box()->Request = kMailboxRequestPending;
    sim::smm::RaiseSwSmi(p, 0x9D);
    return Smm().smiResults.back();
  }
};

struct EntryOutcome {
  bool injected;           // the image returns the injected status
  bool registered;         //
  bool rangeList;          // the SMRAM range list is read (range count > 0)
  bool mailbox;            // the mailbox provider was found
  bool tokens;             // the token service was found
  int extraCalls;          // -1: later calls as without failure; else calls after the failure
  bool mapped = true;      // the memory map vouched for the shared records
  size_t smramBlocks = 1;  // SMRAM pool blocks kept by a registered image
};

EntryOutcome ExpectedEntry(const FailedCall& c) {
  const std::string& n = c.name;
  if ((n == "LocateProtocol" && c.occurrence == 0) || n == "GetSmstLocation")
    return {true, false, false, false, false, 0};
  if (n == "LocateProtocol" && c.occurrence == 1) return {false, true, false, true, true, -1};
  if (n == "GetCapabilities" || (n == "SmmAllocatePool" && c.occurrence == 0))
    return {false, true, false, true, true, -1};
  if (n == "SmmLocateProtocol" && c.occurrence == 0) return {true, false, false, false, false, 1};
  if (n == "LocateProtocol" && c.occurrence == 2) return {false, true, true, false, true, -1};
  // The memory map (taken into a temporary SMM pool buffer): without it no
  // shared record is served; a buffer that cannot be returned stays.
  if (n == "GetMemoryMap" || (n == "SmmAllocatePool" && c.occurrence == 1))
    return {false, true, true, true, true, -1, false};
  if (n == "SmmFreePool") return {false, true, true, true, true, -1, true, 2};
  if (n == "SmmLocateProtocol" && c.occurrence == 1) return {false, true, true, true, false, -1};
  if (n == "SwSmiRegister") return {true, false, false, true, true, 1};
  ADD_FAILURE() << "no expectation for " << c.Label();
  return {};
}

TEST(FaultSweep, MemTuneSmmImageEntry) {
  const size_t cases = rel::Sweep<MtsWorld>(
      [] { return std::make_unique<MtsWorld>(false); }, [](MtsWorld& w) { w.Boot(); },
      [](MtsWorld& w, const FailedCall& c) {
        const EntryOutcome want = ExpectedEntry(c);
        EXPECT_EQ(w.image, want.injected ? c.status : EFI_SUCCESS);
        EXPECT_EQ(w.Smm().registrations.size(), want.registered ? 1u : 0u);
        if (want.extraCalls >= 0) {
          // Nothing after the failed step but freeing the range list.
          rel::Calls expected = c.UpToFailure();
          if (want.extraCalls == 1) expected.push_back("SmmFreePool");
          EXPECT_EQ(w.p.calls, expected);
        }
        if (!want.registered) {
          // A failed image keeps nothing in SMRAM.
          EXPECT_EQ(sim::smm::SmramOutstandingBlocks(w.p), 0u);
          return;
        }
        EXPECT_EQ(mts::gSmramRangeCount > 0, want.rangeList);
        EXPECT_EQ(mts::gMailbox != nullptr, want.mailbox);
        EXPECT_EQ(mts::gTokenService != nullptr, want.tokens);
        // The range list stays in SMRAM (and a map buffer whose free failed).
        EXPECT_LE(sim::smm::SmramOutstandingBlocks(w.p), want.smramBlocks);
        // An SMI afterwards: refused without a range list or a memory map
        // that vouches for the records, unserved
        // without a mailbox, served otherwise; never a crash.
        const uint16_t sequence = w.Box()->Sequence;
        const EFI_STATUS smi = w.ReadRequest();
        if (want.mailbox && (!want.rangeList || !want.mapped)) {
          EXPECT_EQ(smi, EFI_ACCESS_DENIED);
          EXPECT_EQ(w.Box()->Request, kMailboxRequestPending);
          EXPECT_EQ(w.Box()->Sequence, sequence);
        } else if (!want.mailbox) {
          EXPECT_EQ(smi, EFI_SUCCESS);
          EXPECT_EQ(w.Box()->Request, kMailboxRequestPending);
        } else {
          EXPECT_EQ(smi, EFI_SUCCESS);
          EXPECT_EQ(w.Box()->Request, 0u);
          EXPECT_EQ(w.Box()->Sequence, static_cast<uint16_t>(sequence + 0x101));
        }
      });
  std::printf("fault-injection cases (MemTuneSmm image entry): %zu\n", cases);
  ::testing::Test::RecordProperty("cases", static_cast<int>(cases));
  EXPECT_EQ(cases, 2u * 14);
}

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
         sim::smm::FindVariable(w.p, kSetup, mts::kTivSetupGuid)->data.resize(0x300, 0);
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
