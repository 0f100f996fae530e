// platsim mca --cpu N: captures one processor's machine-check banks through
// the driver's CaptureMcaBanks and prints them bank by bank.
#include "addr_translate/errors/error_slots.h"
#include "harness/driver_bindings.h"
#include "sim/acpi/acpi_tables.h"
#include "sim/mca/mca_banks.h"
#include "sim/profile/profile.h"
#include "sim/topology/topology_double.h"
#include "tools/platsim/cli/commands.h"
#include "tools/platsim/cli/platform_load.h"
#include "tools/common/efi_status_name.h"
#include "tools/common/hex_text.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <memory>

namespace platsim {

namespace {

using sim::profile::Hex;
using sim::profile::Json;

std::string JoinNames(const std::vector<std::string>& names) {
  std::string s;
  for (const auto& n : names) s += (s.empty() ? "" : ", ") + n;
  return s.empty() ? "-" : s;
}

constexpr uint64_t kUnwritten = 0xFFFFFFFFFFFFFFFFULL;

// Why the driver refused `cpu`, in terms of the profile's processor list
// (the list CaptureMcaBanks searches), or of MP services when the list has
// the processor but it did not run the bank reader.
std::string WhatTheProfileLacks(const std::vector<ProcessorListEntry>& list, uint64_t cpu,
                                EFI_STATUS status) {
  const bool inList = std::any_of(list.begin(), list.end(), [cpu](const ProcessorListEntry& e) {
    return e.processorNumber == cpu;
  });
  if (inList && status != EFI_INVALID_PARAMETER)
    return "processor " + std::to_string(cpu) +
           " is in the profile's processor list, but MP services did not run the bank reader "
           "on it (StartupThisAP: " +
           tools::EfiStatusText(status) + "); its banks were not read";
  std::string numbers;
  for (const auto& e : list)
    numbers += (numbers.empty() ? "" : ", ") + std::to_string(e.processorNumber);
  const std::string listed = " (section \"processors\" lists " + numbers + ")";
  if (status == EFI_INVALID_PARAMETER)
    return "processor " + std::to_string(cpu) + " is above the " + std::to_string(list.size()) +
           " entries of the profile's processor list" + listed;
  return "the profile's processor list has no processor " + std::to_string(cpu) + listed;
}

// What CaptureMcaBanks answered, with the snapshot it filled.
struct Capture {
  EFI_STATUS status;
  std::unique_ptr<McaBankSnapshot> snapshot;
  bool Ok() const { return status == EFI_SUCCESS; }
};

// Captures processor `cpu`'s banks through the driver's operation, on the
// platform's MP services and its topology protocol's processor list (without
// one installed, a stand-in carries the profile's list). The trace holds the
// capture's accesses alone.
Capture CaptureOn(sim::Platform& platform, uint64_t cpu) {
  platform.InstallMpServices();
  sim::TopologyDouble stand;
  auto* topology =
      static_cast<PlatformTopologyProtocol*>(platform.Find(gPlatformTopologyProtocolGuid));
  if (topology == nullptr) {
    stand.processors = sim::mca::Processors(platform).entries;
    stand.Sync(nullptr);
    topology = &stand.iface;
  }
  // Filled with ones first, so what the reader did not write shows.
  Capture c{EFI_SUCCESS, std::make_unique<McaBankSnapshot>()};
  std::memset(c.snapshot.get(), 0xFF, sizeof(McaBankSnapshot));
  c.snapshot->processorNumber = cpu;
  platform.trace.Clear();
  const sim::AddrTranslateBindings bound(platform, platform.MpServices(), topology);
  c.status = atd::CaptureMcaBanks(c.snapshot.get());
  return c;
}

// One JSON object per bank the reader reports: absent, no valid error, or
// logged with its registers.
Json BanksJson(const Capture& c) {
  const McaBankSnapshot& snap = *c.snapshot;
  const uint64_t count = c.Ok() && snap.bankCount != kUnwritten ? snap.bankCount : 0;
  Json banks = Json::array();
  for (uint64_t b = 0; b < count && b < kMaxMcaBanks; ++b) {
    const McaBankEntry& e = snap.banks[b];
    Json j = Json::object();
    j["bank"] = b;
    if (e.bankIndex == b && e.msr1 == 0) {
      j["state"] = "absent";
    } else if (e.bankIndex == kUnwritten) {
      j["state"] = "no valid error";
    } else {
      j["state"] = "logged";
      j["status"] = tools::Hex64(e.msr1);
      j["statusBits"] = sim::mca::StatusBitNames(e.msr1);
      const std::pair<const char*, uint64_t> regs[] = {
          {"msr2", e.msr2}, {"msr3", e.msr3}, {"msr4", e.msr4}, {"msr5", e.msr5},
          {"msr6", e.msr6}, {"msr8", e.msr8}, {"msr9", e.msr9}, {"msrA", e.msrA}};
      for (auto& [name, v] : regs) j[name] = tools::Hex64(v);
    }
    banks.push_back(j);
  }
  return banks;
}

std::string ProcessorInfo(const McaBankSnapshot& snap) {
  return sim::acpi::HexBytes({snap.processorInfo, snap.processorInfo + 5});
}

void PrintJson(const Capture& c, uint64_t cpu, const std::string& lacks, const Json& banks,
               const sim::Platform& platform, bool trace) {
  Json out = Json::object();
  out["status"] = tools::EfiStatusText(c.status);
  out["processorNumber"] = cpu;
  if (!c.Ok()) out["error"] = lacks;
  if (c.Ok()) {
    out["processorInfo"] = ProcessorInfo(*c.snapshot);
    if (c.snapshot->bankCount == kUnwritten)
      out["bankCount"] = nullptr;  // the processor did not run the reader
    else
      out["bankCount"] = c.snapshot->bankCount;
    out["banks"] = banks;
  }
  if (trace) {
    Json t = Json::array();
    for (const auto& e : platform.trace.Events()) t.push_back(e.ToString());
    out["trace"] = t;
  }
  std::cout << out.dump(2) << "\n";
}

void PrintBank(const Json& j) {
  std::cout << "bank " << j["bank"].get<uint64_t>() << ": ";
  const std::string state = j["state"];
  if (state == "absent") {
    std::cout << "absent (no hardware behind the bank)\n";
    return;
  }
  if (state == "no valid error") {
    std::cout << "no valid error logged (entry not written)\n";
    return;
  }
  const auto reg = [&j](const char* name) { return j[name].get<std::string>(); };
  std::cout << "status " << reg("status") << "  "
            << JoinNames(j["statusBits"].get<std::vector<std::string>>()) << "\n";
  std::cout << "    msr2 " << reg("msr2") << "  msr3 " << reg("msr3") << "  msr4 " << reg("msr4")
            << "\n";
  std::cout << "    msr5 " << reg("msr5") << "  msr6 " << reg("msr6") << "  msr8 " << reg("msr8")
            << "\n";
  std::cout << "    msr9 " << reg("msr9") << "  msrA " << reg("msrA") << "\n";
}

void PrintText(const Capture& c, uint64_t cpu, const Json& banks, const sim::Platform& platform,
               bool trace) {
  std::cout << "CaptureMcaBanks(processor " << cpu << "): " << tools::EfiStatusText(c.status)
            << "\n";
  if (c.Ok()) {
    std::cout << "processor info: " << ProcessorInfo(*c.snapshot) << "\n";
    if (c.snapshot->bankCount == kUnwritten)
      std::cout << "bank count: not written (the processor did not run the reader)\n";
    else
      std::cout << "bank count: " << c.snapshot->bankCount << "\n";
    for (const auto& j : banks) PrintBank(j);
  }
  if (trace) {
    std::cout << "trace:\n";
    for (const auto& e : platform.trace.Events()) std::cout << "  " << e.ToString() << "\n";
  }
}

void RunMca(const GlobalOptions& opts, uint64_t cpu) {
  sim::Platform platform;
  LoadPlatform(opts, platform);
  const Capture c = CaptureOn(platform, cpu);
  const auto& list = sim::mca::Processors(platform).entries;
  // No processor list is a profile without the section: an input error, after
  // the driver's answer.
  const std::string missing =
      c.Ok() || !list.empty()
          ? ""
          : "the profile lists no processors (section \"processors\"): there are no banks to "
            "capture";
  const std::string lacks = c.Ok()            ? ""
                            : missing.empty() ? WhatTheProfileLacks(list, cpu, c.status)
                                              : missing;
  const Json banks = BanksJson(c);
  if (opts.json)
    PrintJson(c, cpu, lacks, banks, platform, opts.trace);
  else
    PrintText(c, cpu, banks, platform, opts.trace);
  std::cout.flush();
  if (!missing.empty()) throw UserError(missing);
  if (!c.Ok()) throw Refusal(lacks);
}

}  // namespace

void AddMcaCommands(CLI::App& app, GlobalOptions& opts) {
  auto* mca = app.add_subcommand("mca", "capture a processor's machine-check banks");
  auto cpu = std::make_shared<std::string>();
  mca->add_option("--cpu", *cpu, "MP-services processor number")->required();
  SetExitCodes(mca, "captured",
               "the driver did not capture the banks (the processor is not in the profile's "
               "processor list, or MP services did not run the bank reader on it)");
  mca->callback([&opts, cpu] { RunMca(opts, ParseNumber(*cpu, "--cpu")); });
}

}  // namespace platsim
