// Image entry: constructors, signature check, protocol lookups, registration,
// and the destructor on failure. The ways it fails are one table: the cases
// written out here, and every platform call of the entry made to fail in turn
// (the fault-injection sweep).
#include "fixture.h"
#include "mem_tune/smi_handler.h"
#include "tests/reliability/fault_sweep.h"
#include "tests/reliability/mts_world.h"

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

namespace mttest {
namespace {

using sim::smm::SmramOutstandingBlocks;

TEST_F(MemTuneTest, EntryRunsConstructorsThenLookupsInOrderAndRegistersFor9D) {
  ASSERT_EQ(Boot(), EFI_SUCCESS);
  // After the provider: the memory map, into a temporary SMM pool buffer.
  const std::vector<std::string> expected = {
      "LocateProtocol",    "GetSmstLocation", "LocateProtocol",    "GetCapabilities",
      "SmmAllocatePool",   "GetCapabilities", "SmmLocateProtocol", "LocateProtocol",
      "GetMemoryMap",      "SmmAllocatePool", "GetMemoryMap",      "SmmFreePool",
      "SmmLocateProtocol", "SwSmiRegister"};
  EXPECT_EQ(p.calls, expected);
  // The SMRAM map: two ranges of the default profile, in an SMRAM pool of
  // runtime data.
  ASSERT_NE(mts::gSmramRanges, nullptr);
  EXPECT_EQ(mts::gSmramRangeCount, 2u);
  auto block = sim::smm::SmramBlockOf(p, mts::gSmramRanges);
  ASSERT_TRUE(block);
  EXPECT_EQ(block->type, EfiRuntimeServicesData);
  EXPECT_EQ(block->size, 64u);
  EXPECT_EQ(mts::gSmramRanges[1].PhysicalSize, 0x80000u);
  EXPECT_EQ(mts::gEcamBase, 0xE0000000u);
  EXPECT_EQ(mts::gEcamSize, 0x10000000u);
  EXPECT_TRUE(mts::gEcamReady);
  ASSERT_EQ(Smm().registrations.size(), 1u);
  const auto& r = Smm().registrations[0];
  EXPECT_EQ(r.handler, &mts::MemTuneSmiHandler);
  EXPECT_EQ(r.context.SwSmiInputValue, 0x9Du);
  EXPECT_EQ(r.context.DispatchFlags, 0x80);
  EXPECT_EQ(mts::gMailbox, Box());
  EXPECT_EQ(mts::gSettingsRecord, Settings());
  EXPECT_EQ(mts::gTokenService, &Smm().tokens);
  EXPECT_TRUE(mts::gSharedMemoryMapped);
  EXPECT_EQ(SmramOutstandingBlocks(p), 1u);  // the map buffer went back
  // The signature is read once, before the lookups.
  ASSERT_EQ(p.trace.Of(sim::Access::Cpuid).size(), 1u);
  EXPECT_EQ(p.trace.Of(sim::Access::Cpuid)[0].address, 0x80000001u);
}

struct SignatureCase {
  uint32_t eax;
  bool served;
};
class Signature : public MemTuneTest, public ::testing::WithParamInterface<SignatureCase> {};

TEST_P(Signature, OnlyTheThreeFamiliesRegister) {
  sim::smm::SetProcessorSignature(p, GetParam().eax);
  EXPECT_EQ(Boot(), EFI_SUCCESS);
  EXPECT_EQ(Smm().registrations.size(), GetParam().served ? 1u : 0u);
  EXPECT_EQ(CallCount("SmmLocateProtocol"), GetParam().served ? 2u : 0u);
  EXPECT_EQ(CallCount("SwSmiRegister"), GetParam().served ? 1u : 0u);
  // Success keeps the SMRAM map.
  EXPECT_EQ(SmramOutstandingBlocks(p), 1u);
}

INSTANTIATE_TEST_SUITE_P(
    MemTune, Signature,
    ::testing::Values(SignatureCase{0x00870F00, true}, SignatureCase{0x00870FFF, true},
                      SignatureCase{0x00830F10, true}, SignatureCase{0x00A00F21, true},
                      SignatureCase{0xF0A00F00, true},  // bits 31:28 are not part of it
                      SignatureCase{0x00800F00, false}, SignatureCase{0x00800F12, false},
                      SignatureCase{0x00860F00, false}, SignatureCase{0x00870E00, false},
                      SignatureCase{0x00870000, false}, SignatureCase{0, false}));

using rel::FailedCall;
using rel::MtsWorld;

// What a registered image (or its absence) must show after one failed call.
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

// One way the image entry goes wrong. Written-out rows change the platform
// (`arrange`: missing protocols, failing calls) and check what that case
// must leave (`check`, on the booted world). Swept rows name a call of the
// entry (its name and occurrence among the entry's calls of that name: SMM
// base locate, SMST, SMM access locate, SMRAM map size, the range list's
// allocation, SMRAM map read, dispatch lookup, provider locate, memory map
// size, the map buffer's allocation, memory map read, the buffer's free,
// token service lookup, registration) and what the sweep expects when it
// fails with either status.
struct EntryFailure {
  const char* name;
  std::function<void(MtsWorld&)> arrange;
  std::function<void(MtsWorld&)> check;
  const char* call = nullptr;
  uint32_t occurrence = 0;
  EntryOutcome want = {};
};

EntryFailure Swept(const char* name, const char* call, uint32_t occurrence, EntryOutcome want) {
  return {name, {}, {}, call, occurrence, want};
}

// Outcomes several calls share: the image refused with nothing called after
// the failed step; registered without an SMRAM map; without a memory map.
const EntryOutcome kRefusedEarly{true, false, false, false, false, 0};
const EntryOutcome kNoSmramMap{false, true, false, true, true, -1};
const EntryOutcome kNoMemoryMap{false, true, true, true, true, -1, false};

std::vector<uint8_t> gElsewhere(0x1000);  // SMRAM as reported by one case

const EntryFailure kEntryFailures[] = {
    // Written out.
    {"missing dispatch protocol: the image status, the map freed in SMRAM",
     [](MtsWorld& w) {
       w.Smm().protocols.erase(w.Smm().protocols.begin());  // the dispatch protocol
       ASSERT_EQ(sim::smm::SmmFind(w.p, kSwSmiDispatchProtocolGuid), nullptr);
     },
     [](MtsWorld& w) {
       EXPECT_EQ(w.image, EFI_NOT_FOUND);
       EXPECT_EQ(SmramOutstandingBlocks(w.p), 0u);
       EXPECT_EQ(w.CallCount("SmmFreePool"), 1u);
       EXPECT_EQ(w.CallCount("FreePool"), 0u);
       EXPECT_EQ(mts::gSmramRanges, nullptr);
       // Nothing after the failed lookup.
       EXPECT_EQ(w.p.calls.back(), "SmmFreePool");
       EXPECT_EQ(w.CallCount("LocateProtocol"), 2u);
     }},
    {"failing registration: the image status, the map freed",
     [](MtsWorld& w) { w.p.Fail("SwSmiRegister", EFI_OUT_OF_RESOURCES); },
     [](MtsWorld& w) {
       EXPECT_EQ(w.image, EFI_OUT_OF_RESOURCES);
       EXPECT_EQ(SmramOutstandingBlocks(w.p), 0u);
       EXPECT_EQ(w.Smm().registrations.size(), 0u);
     }},
    // The SMRAM range list always comes from SmmAllocatePool, so every failed
    // image returns it there: also when the map it holds does not cover the
    // list itself, or could not be read into it.
    {"range list freed through SmmFreePool: SMRAM reported elsewhere",
     [](MtsWorld& w) {
       const uint64_t at = reinterpret_cast<uint64_t>(gElsewhere.data());
       w.Smm().reportedRanges = std::vector<EFI_SMRAM_DESCRIPTOR>{{at, at, 0x1000, 0xE}};
       w.p.Fail("SwSmiRegister", EFI_DEVICE_ERROR);
     },
     nullptr},
    {"range list freed through SmmFreePool: second GetCapabilities fails",
     [](MtsWorld& w) {
       w.p.Fail("GetCapabilities", EFI_DEVICE_ERROR, /*skip=*/1);
       w.p.Fail("SwSmiRegister", EFI_DEVICE_ERROR);
     },
     nullptr},
    {"range list freed through SmmFreePool: dispatch lookup fails",
     [](MtsWorld& w) { w.p.Fail("SmmLocateProtocol", EFI_NOT_FOUND); }, nullptr},
    {"provider missing: still registers, an SMI only posts its entry",
     [](MtsWorld& w) {
       ASSERT_EQ(w.p.Uninstall(w.p.HandlesWith(mts::kMemTuneProviderGuid)[0],
                               mts::kMemTuneProviderGuid, &w.Smm().provider),
                 EFI_SUCCESS);
     },
     [](MtsWorld& w) {
       EXPECT_EQ(w.image, EFI_SUCCESS);
       EXPECT_EQ(mts::gMailbox, nullptr);
       EXPECT_EQ(mts::gSettingsRecord, nullptr);
       ASSERT_EQ(w.Smm().registrations.size(), 1u);
       w.Box()->Request = 4;
       w.Box()->Command = 2;
       w.RaiseSmi();
       EXPECT_EQ(w.PostCodes(), std::vector<uint8_t>{0xD1});
       EXPECT_EQ(w.Smm().smiResults.back(), EFI_SUCCESS);
       EXPECT_TRUE(w.Smm().tokenWrites.empty());
       EXPECT_EQ(w.Box()->Request, 4u);
     }},
    {"provider missing, registration fails: the registration's status",
     [](MtsWorld& w) {
       ASSERT_EQ(w.p.Uninstall(w.p.HandlesWith(mts::kMemTuneProviderGuid)[0],
                               mts::kMemTuneProviderGuid, &w.Smm().provider),
                 EFI_SUCCESS);
       w.p.Fail("SwSmiRegister", EFI_ACCESS_DENIED);
     },
     [](MtsWorld& w) { EXPECT_EQ(w.image, EFI_ACCESS_DENIED); }},
    {"token service missing: registers, sets fail with EFI_NOT_READY",
     [](MtsWorld& w) {
       w.Smm().protocols.pop_back();  // installed after the dispatch and variable protocols
       ASSERT_EQ(sim::smm::SmmFind(w.p, mts::kConfigTokenServiceGuid), nullptr);
     },
     [](MtsWorld& w) {
       ASSERT_EQ(w.image, EFI_SUCCESS);
       EXPECT_EQ(mts::gTokenService, nullptr);
       w.Box()->tCL = 0x18;
       w.Send(0x2);
       EXPECT_TRUE(w.Smm().tokenWrites.empty());
       EXPECT_EQ(uint32_t{w.Box()->Status}, uint32_t(EFI_NOT_READY & 0xFFFFFFFF));
       // The setup variable is still updated.
       EXPECT_EQ(w.SetupData()[0xE8], 0x18);
       EXPECT_EQ(w.PostCodes(), (std::vector<uint8_t>{0xD1, 0xD2, 0xE0, 0xF4, 0xF7, 0xF8}));
     }},
    {"no SMM base: no driver",
     [](MtsWorld& w) {
       ASSERT_EQ(w.p.Uninstall(w.p.HandlesWith(kSmmBase2ProtocolGuid)[0], kSmmBase2ProtocolGuid,
                               &w.Smm().base2),
                 EFI_SUCCESS);
     },
     [](MtsWorld& w) {
       EXPECT_EQ(w.image, EFI_NOT_FOUND);
       EXPECT_TRUE(w.Smm().registrations.empty());
     }},
    {"failed map allocation: no map, the handler refuses the mailbox",
     [](MtsWorld& w) { w.p.Fail("SmmAllocatePool", EFI_OUT_OF_RESOURCES); },
     [](MtsWorld& w) {
       ASSERT_EQ(w.image, EFI_SUCCESS);
       EXPECT_EQ(mts::gSmramRanges, nullptr);
       EXPECT_EQ(mts::gSmramRangeCount, 0u);
       EXPECT_EQ(w.CallCount("GetCapabilities"), 1u);  // nothing to read the map into
       w.Box()->Command = 2;
       w.Box()->Request = 4;
       std::vector<uint8_t> before(w.BoxBytes(), w.BoxBytes() + sizeof(MemTuneMailbox));
       w.RaiseSmi();
       EXPECT_EQ(w.PostCodes(), std::vector<uint8_t>{0xD1});
       EXPECT_EQ(std::vector<uint8_t>(w.BoxBytes(), w.BoxBytes() + sizeof(MemTuneMailbox)), before);
       EXPECT_EQ(w.Smm().smiResults.back(), EFI_ACCESS_DENIED);
     }},
    {"failed second map read: no range trusted",
     [](MtsWorld& w) { w.p.Fail("GetCapabilities", EFI_DEVICE_ERROR, /*skip=*/1); },
     [](MtsWorld& w) {
       ASSERT_EQ(w.image, EFI_SUCCESS);
       EXPECT_EQ(mts::gSmramRangeCount, 0u);
     }},

    // Swept: each call of the entry.
    Swept("SMM base locate", "LocateProtocol", 0, kRefusedEarly),
    Swept("SMST location", "GetSmstLocation", 0, kRefusedEarly),
    Swept("SMM access locate", "LocateProtocol", 1, kNoSmramMap),
    Swept("SMRAM map size", "GetCapabilities", 0, kNoSmramMap),
    Swept("range list allocation", "SmmAllocatePool", 0, kNoSmramMap),
    Swept("SMRAM map read", "GetCapabilities", 1, kNoSmramMap),
    Swept("dispatch lookup", "SmmLocateProtocol", 0, {true, false, false, false, false, 1}),
    Swept("provider locate", "LocateProtocol", 2, {false, true, true, false, true, -1}),
    // The memory map (taken into a temporary SMM pool buffer): without it no
    // shared record is served; a buffer that cannot be returned stays.
    Swept("memory map size", "GetMemoryMap", 0, kNoMemoryMap),
    Swept("map buffer allocation", "SmmAllocatePool", 1, kNoMemoryMap),
    Swept("memory map read", "GetMemoryMap", 1, kNoMemoryMap),
    Swept("map buffer free", "SmmFreePool", 0, {false, true, true, true, true, -1, true, 2}),
    Swept("token service lookup", "SmmLocateProtocol", 1, {false, true, true, true, false, -1}),
    Swept("registration", "SwSmiRegister", 0, {true, false, false, true, true, 1}),
};

EntryOutcome ExpectedEntry(const FailedCall& c) {
  for (const EntryFailure& f : kEntryFailures)
    if (f.call != nullptr && c.name == f.call && c.occurrence == f.occurrence) return f.want;
  ADD_FAILURE() << "no expectation for " << c.Label();
  return {};
}

// A written-out row: on a fresh platform, arranged, booted, checked. A failed
// image keeps nothing of the range list, in SMRAM or elsewhere.
void RunWrittenOut(const EntryFailure& f) {
  SCOPED_TRACE(f.name);
  MtsWorld w(false);
  f.arrange(w);
  w.Boot();
  if (f.check) {
    f.check(w);
    return;
  }
  EXPECT_TRUE(EFI_ERROR(w.image));
  EXPECT_EQ(SmramOutstandingBlocks(w.p), 0u);
  EXPECT_EQ(w.CallCount("FreePool"), 0u);
  EXPECT_EQ(mts::gSmramRanges, nullptr);
}

TEST(FaultSweep, MemTuneSmmImageEntry) {
  for (const EntryFailure& f : kEntryFailures)
    if (f.call == nullptr) RunWrittenOut(f);

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

}  // namespace
}  // namespace mttest
