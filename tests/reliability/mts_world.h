// A simulated SMM platform for MemTuneSmm, loaded from the default profile
// sections, for the fault-injection sweeps and the image-entry table: the
// world is built afresh for every case.
#pragma once

#include "mem_tune/driver_entry.h"
#include "mem_tune/driver_globals.h"
#include "mem_tune/setup_variable.h"
#include "sim/platform/platform.h"
#include "sim/smm/profile_smm.h"
#include "sim/smm/smm.h"
#include "tests/mem_tune/fixture.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace rel {

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
    return sim::smm::FindVariable(p, mttest::kSetupName, mts::kTivSetupGuid)->data;
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

  // As the driver tests' fixture (tests/mem_tune/fixture.h) has them.
  uint8_t* BoxBytes() { return reinterpret_cast<uint8_t*>(Box()); }
  std::vector<uint8_t>& SetupData() {
    auto* v = sim::smm::FindVariable(p, mttest::kSetupName, mts::kTivSetupGuid);
    EXPECT_NE(v, nullptr);
    return v->data;
  }
  // Raises SMI 0x9D with the trace and the service records cleared first.
  void RaiseSmi() {
    p.trace.Clear();
    p.calls.clear();
    Smm().tokenWrites.clear();
    Smm().variableWrites.clear();
    sim::smm::RaiseSwSmi(p, 0x9D);
  }
  // Writes a pending request and raises the SMI.
  void Send(uint32_t command) {
    Box()->Command = command;
    Box()->Request = 4;
    RaiseSmi();
  }
  std::vector<uint8_t> PostCodes() const { return mttest::PostCodes(p); }
  size_t CallCount(const std::string& name) const { return mttest::CallCount(p, name); }
};

}  // namespace rel
