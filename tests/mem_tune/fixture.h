// A simulated platform with the SMM services MemTuneSmm binds to, loaded
// from the SMM profile sections' defaults, and helpers to run requests.
#pragma once

#include "mem_tune/driver_entry.h"
#include "mem_tune/driver_globals.h"
#include "mem_tune/setup_variable.h"
#include "sim/platform/platform.h"
#include "sim/smm/profile_smm.h"
#include "sim/smm/smm.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace mttest {

inline const std::u16string kSetupName = u"TivSetup";

// The POST codes written to port 0x80, each a byte write.
inline std::vector<uint8_t> PostCodes(const sim::Platform& p) {
  std::vector<uint8_t> out;
  for (auto& e : p.trace.PortWrites(0x80)) {
    EXPECT_EQ(e.width, 1);
    out.push_back(static_cast<uint8_t>(e.value));
  }
  return out;
}

// How often the driver called the platform service `name`.
inline size_t CallCount(const sim::Platform& p, const std::string& name) {
  size_t n = 0;
  for (auto& c : p.calls) n += c == name;
  return n;
}

class MemTuneTest : public ::testing::Test {
 protected:
  sim::Platform p;

  // Everything but the driver: call Boot() after adjusting the platform.
  void SetUp() override {
    using namespace sim::profile;
    LoadSmm(DefaultSmm(), "$.smm", p);
    LoadMemTuneProvider(DefaultMemTuneProvider(), "$.memTuneProvider", p);
    LoadVariables(DefaultVariables(), "$.variables", p);
    LoadMemoryController(DefaultMemoryController(), "$.memoryController", p);
  }

  EFI_STATUS Boot() { return mts::ImageEntry(p.ImageHandle(), p.SystemTable()); }

  sim::smm::SmmState& Smm() { return sim::smm::Smm(p); }
  MemTuneMailbox* Box() { return sim::smm::Mailbox(p); }
  uint8_t* BoxBytes() { return reinterpret_cast<uint8_t*>(Box()); }
  uint8_t* Settings() { return sim::smm::SettingsRecord(p); }

  std::vector<uint8_t>& SetupData() {
    auto* v = sim::smm::FindVariable(p, kSetupName, mts::kTivSetupGuid);
    EXPECT_NE(v, nullptr);
    return v->data;
  }
  void ResizeSetup(size_t size) {
    sim::smm::SetVariable(p, kSetupName, mts::kTivSetupGuid, 7, std::vector<uint8_t>(size, 0));
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
  // Little-endian value field of the mailbox.
  void PutField(uint8_t offset, uint8_t width, uint32_t value) {
    for (uint8_t i = 0; i < width; ++i) BoxBytes()[offset + i] = uint8_t(value >> (8 * i));
  }

  std::vector<uint8_t> PostCodes() const { return mttest::PostCodes(p); }
  size_t CallCount(const std::string& name) const { return mttest::CallCount(p, name); }
};

}  // namespace mttest
