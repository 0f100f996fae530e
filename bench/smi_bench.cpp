// One SMI 0x9D through MemTuneSmiHandler on the simulated platform of the
// default SMM profile: the readout (controller registers and settings into
// the mailbox) and a set command (a token write and the TivSetup update).
// Trace off; the simulator's services are part of what is measured.
#include "mem_tune/driver_entry.h"
#include "mem_tune_mailbox.h"
#include "sim/platform/platform.h"
#include "sim/smm/profile_smm.h"
#include "sim/smm/smm.h"

#include <benchmark/benchmark.h>

#include <stdexcept>

namespace {

struct BootedSmm {
  sim::Platform p;
  BootedSmm() {
    using namespace sim::profile;
    p.trace.Enable(false);
    LoadSmm(DefaultSmm(), "$.smm", p);
    LoadMemTuneProvider(DefaultMemTuneProvider(), "$.memTuneProvider", p);
    LoadVariables(DefaultVariables(), "$.variables", p);
    LoadMemoryController(DefaultMemoryController(), "$.memoryController", p);
    if (mts::ImageEntry(p.ImageHandle(), p.SystemTable()) != EFI_SUCCESS)
      throw std::runtime_error("MemTuneSmm did not start");
  }
  void Request(uint32_t command) {
    MemTuneMailbox* box = sim::smm::Mailbox(p);
    box->Command = command;
    box->Request = kMailboxRequestPending;
    sim::smm::RaiseSwSmi(p, 0x9D);
    p.calls.clear();
    auto& s = sim::smm::Smm(p);
    s.smiResults.clear();
    s.tokenWrites.clear();
    s.variableWrites.clear();
  }
};

void BM_SmiReadout(benchmark::State& state) {
  BootedSmm b;
  for (auto _ : state) b.Request(kMailboxCommandReadCurrent);
}
BENCHMARK(BM_SmiReadout);

void BM_SmiSetCommand(benchmark::State& state) {
  BootedSmm b;
  sim::smm::Mailbox(b.p)->tCL = 0x16;
  for (auto _ : state) b.Request(0x2);
}
BENCHMARK(BM_SmiSetCommand);

}  // namespace
