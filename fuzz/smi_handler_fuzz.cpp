// MemTuneSmiHandler over several SMIs in a row, on a booted MemTuneSmm with
// random mailbox contents (commands from the dispatch table and random
// ones, random value fields, pending or not), random memory-controller
// registers and node/bus registers, a random settings record, a random (or
// missing) TivSetup variable, and now and then a failing SMM service.
// After every SMI: the handler ran once, the mailbox was completed (Request,
// Command and Busy 0, Status = low half of the result, Sequence moved on),
// the reserved mailbox bytes are untouched, the variable kept its size, and
// the only SMRAM pool blocks are the range list and the setup working copy;
// no boot-services pool block was obtained.
#include "mem_tune/driver_entry.h"
#include "mem_tune/driver_globals.h"
#include "mem_tune/mapped_memory_check.h"
#include "mem_tune/setup_variable.h"
#include "mem_tune/smi_handler.h"
#include "sim/platform/platform.h"
#include "sim/smm/profile_smm.h"
#include "sim/smm/smm.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <cstring>
#include <map>
#include <string>
#include <vector>

namespace {

void Check(bool ok) {
  if (!ok) __builtin_trap();
}

const char* const kServices[] = {"SmmLocateProtocol", "SmmGetVariable",  "SmmSetVariable",
                                 "ConfigTokenWrite",  "SmmAllocatePool", "SmmFreePool"};

uint32_t RandomCommand(FuzzedDataProvider& in) {
  switch (in.ConsumeIntegralInRange<int>(0, 5)) {
    case 0:
      return kMailboxCommandReadCurrent;
    case 1:
      return kMailboxCommandSetMemClock;
    case 2:
      return in.ConsumeBool() ? kMailboxCommandHoldSetup : kMailboxCommandReleaseSetup;
    case 3:
    case 4: {
      const size_t n = sizeof(mts::kDispatchTable) / sizeof(mts::kDispatchTable[0]);
      return mts::kDispatchTable[in.ConsumeIntegralInRange<size_t>(0, n - 1)].command;
    }
    default:
      return in.ConsumeIntegral<uint32_t>();
  }
}

// The indirect registers of every memory controller, by bus.
std::map<unsigned, std::map<uint32_t, uint32_t>> ControllerRegisters(sim::Platform& p) {
  std::map<unsigned, std::map<uint32_t, uint32_t>> out;
  for (unsigned bus = 0; bus < 256; ++bus)
    if (auto* mc =
            dynamic_cast<sim::smm::IndexDataFunction*>(p.Pci(static_cast<uint8_t>(bus), 0, 0)))
      out[bus] = mc->Indirect();
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* input, size_t inputSize) {
  FuzzedDataProvider in(input, inputSize);
  sim::Platform p;
  p.stopRequestAnswer = 1;
  p.trace.Enable(false);
  using namespace sim::profile;
  // Small SMRAM ranges: room for the range list and a working copy, and
  // cheap to set up for every input.
  Json smmSection = DefaultSmm();
  smmSection["smram"] = Json::array({{{"size", "0x4000"}}, {{"size", "0x2000"}}});
  LoadSmm(smmSection, "$.smm", p);
  LoadMemTuneProvider(DefaultMemTuneProvider(), "$.memTuneProvider", p);
  LoadMemoryController(DefaultMemoryController(), "$.memoryController", p);
  auto& smm = sim::smm::Smm(p);

  // The setup variable: the default one, another size, or none.
  const std::u16string setupName = u"TivSetup";
  const int variableKind = in.ConsumeIntegralInRange<int>(0, 3);
  if (variableKind != 0) {
    size_t size = 0x200;
    if (variableKind == 2) size = in.ConsumeIntegralInRange<size_t>(0, 0x800);
    std::vector<uint8_t> bytes =
        in.ConsumeBytes<uint8_t>(in.ConsumeIntegralInRange<size_t>(0, size));
    bytes.resize(size, 0);
    sim::smm::SetVariable(p, setupName, mts::kTivSetupGuid, 7, bytes);
  }

  // Memory-controller registers: the default ones with random values, and a
  // few random ones in the channel spaces.
  for (unsigned bus = 0; bus < 256; ++bus) {
    auto* mc = dynamic_cast<sim::smm::IndexDataFunction*>(p.Pci(static_cast<uint8_t>(bus), 0, 0));
    if (mc == nullptr) continue;
    std::vector<uint32_t> keys;
    for (const auto& [k, v] : mc->Indirect()) keys.push_back(k);
    for (uint32_t k : keys)
      if (in.ConsumeIntegralInRange<int>(0, 3) == 0)
        mc->SetIndirect(k, in.ConsumeIntegral<uint32_t>());
    const unsigned extra = in.ConsumeIntegralInRange<unsigned>(0, 4);
    for (unsigned i = 0; i < extra; ++i)
      mc->SetIndirect(0x50000 + in.ConsumeIntegralInRange<uint32_t>(0, 11) * 0x100000 +
                          in.ConsumeIntegralInRange<uint32_t>(0, 0xFF) * 4,
                      in.ConsumeIntegral<uint32_t>());
  }
  if (in.ConsumeIntegralInRange<int>(0, 3) == 0)
    sim::smm::SetNode(p, in.ConsumeIntegralInRange<uint8_t>(0x18, 0x1F),
                      in.ConsumeIntegral<uint16_t>(), in.ConsumeIntegral<uint8_t>());
  uint8_t* settings = sim::smm::SettingsRecord(p);
  {
    std::vector<uint8_t> s =
        in.ConsumeBytes<uint8_t>(in.ConsumeIntegralInRange<size_t>(0, sim::smm::kSettingsBytes));
    if (!s.empty()) std::memcpy(settings, s.data(), s.size());
  }

  // Now and then the memory map gives the shared page a type SMM may not
  // keep mapped: every SMI must then be refused.
  bool sharedMapped = true;
  if (in.ConsumeIntegralInRange<int>(0, 7) == 0) {
    const auto page = reinterpret_cast<uint64_t>(sim::smm::SharedMemory(p));
    const auto type = in.ConsumeIntegralInRange<uint32_t>(0, EfiMaxMemoryType - 1);
    for (auto& d : p.memoryMap)
      if (d.PhysicalStart == page) d.Type = type;
    sharedMapped = mts::StaysMappedInSmm(type);
  }

  if (mts::ImageEntry(p.ImageHandle(), p.SystemTable()) != EFI_SUCCESS) return 0;
  if (smm.registrations.empty()) return 0;
  const size_t smramAfterBoot = sim::smm::SmramOutstandingBlocks(p);
  const auto bootPools = p.Pools().size();

  MemTuneMailbox* box = sim::smm::Mailbox(p);
  auto* boxBytes = reinterpret_cast<uint8_t*>(box);
  const unsigned smis = in.ConsumeIntegralInRange<unsigned>(1, 8);
  for (unsigned i = 0; i < smis && in.remaining_bytes() > 0; ++i) {
    // Random mailbox: value fields and reserved bytes random; the command
    // from the table most of the time, pending most of the time.
    std::vector<uint8_t> fill = in.ConsumeBytes<uint8_t>(sizeof(MemTuneMailbox));
    std::memcpy(boxBytes, fill.data(), fill.size());
    box->Command = RandomCommand(in);
    box->Request = in.ConsumeIntegralInRange<int>(0, 4) != 0 ? kMailboxRequestPending
                                                             : in.ConsumeIntegral<uint32_t>();
    if (in.ConsumeIntegralInRange<int>(0, 5) == 0) {
      const char* service = kServices[in.ConsumeIntegralInRange<size_t>(0, 5)];
      size_t made = 0;
      for (const auto& c : p.calls) made += c == service;
      p.Fail(service, EFI_DEVICE_ERROR,
             static_cast<uint32_t>(made + in.ConsumeIntegralInRange<int>(0, 2)), 1);
    }
    const MemTuneMailbox before = *box;
    // The shared page behind the mailbox, the settings record and the
    // controllers' registers: only ever read by the handler.
    const std::vector<uint8_t> page(boxBytes, boxBytes + sim::smm::kMailboxBytes);
    const std::vector<uint8_t> settingsBefore(settings, settings + sim::smm::kSettingsBytes);
    const auto registersBefore = ControllerRegisters(p);
    const auto* setup = sim::smm::FindVariable(p, setupName, mts::kTivSetupGuid);
    const size_t setupSize = setup ? setup->data.size() : 0;
    const size_t results = smm.smiResults.size();

    sim::smm::RaiseSwSmi(p, 0x9D);

    Check(smm.smiResults.size() == results + 1);
    const EFI_STATUS result = smm.smiResults.back();
    if (!sharedMapped) Check(result == EFI_ACCESS_DENIED);
    if (result != EFI_ACCESS_DENIED) {
      const bool pending = before.Request == kMailboxRequestPending;
      Check(box->Request == 0 && box->Command == 0 && box->Busy == 0);
      Check(box->Status == static_cast<uint32_t>(result & 0xFFFFFFFF));
      Check(box->Sequence == static_cast<uint16_t>(before.Sequence + (pending ? 0x101 : 1)));
      Check(box->Reserved08 == before.Reserved08);
      if (before.Command != kMailboxCommandReadCurrent || !pending)
        Check(std::memcmp(box->Reserved1B, before.Reserved1B, sizeof before.Reserved1B) == 0);
      // A request that is not a readout changes nothing of the mailbox but
      // its completion fields.
      if (before.Command != kMailboxCommandReadCurrent || !pending) {
        MemTuneMailbox expected = before;
        expected.Busy = box->Busy;
        expected.Status = box->Status;
        expected.Sequence = box->Sequence;
        expected.Request = box->Request;
        expected.Command = box->Command;
        Check(std::memcmp(&expected, box, sizeof expected) == 0);
      }
    } else {
      Check(std::memcmp(page.data(), boxBytes, sizeof(MemTuneMailbox)) == 0);
    }
    Check(std::memcmp(page.data() + sizeof(MemTuneMailbox), boxBytes + sizeof(MemTuneMailbox),
                      page.size() - sizeof(MemTuneMailbox)) == 0);
    Check(std::memcmp(settingsBefore.data(), settings, settingsBefore.size()) == 0);
    Check(ControllerRegisters(p) == registersBefore);
    const auto* after = sim::smm::FindVariable(p, setupName, mts::kTivSetupGuid);
    Check((after != nullptr) == (setup != nullptr));
    if (after != nullptr) Check(after->data.size() == setupSize);
    // SMRAM: the range list and at most one working copy.
    Check(sim::smm::SmramOutstandingBlocks(p) ==
          smramAfterBoot + (mts::gSetupWorkingCopy != nullptr ? 1 : 0));
    Check(p.Pools().size() == bootPools);
  }
  return 0;
}
