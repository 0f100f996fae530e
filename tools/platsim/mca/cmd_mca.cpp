// platsim mca --cpu N: captures one processor's machine-check banks through
// the driver's CaptureMcaBanks and prints them bank by bank.
#include "addr_translate/errors/error_slots.h"
#include "harness/driver_bindings.h"
#include "sim/acpi/acpi_tables.h"
#include "sim/mca/mca_banks.h"
#include "sim/profile/profile.h"
#include "sim/topology_double.h"
#include "tools/platsim/cli/commands.h"
#include "tools/platsim/cli/platform_load.h"
#include "tools/common/efi_status_name.h"
#include "tools/common/hex_text.h"

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
// (the list CaptureMcaBanks searches).
std::string WhatTheProfileLacks(const std::vector<ProcessorListEntry>& list, uint64_t cpu,
                                EFI_STATUS status) {
  if (list.empty())
    return "the profile lists no processors (section \"processors\"), so there are no banks "
           "to capture";
  std::string numbers;
  for (const auto& e : list)
    numbers += (numbers.empty() ? "" : ", ") + std::to_string(e.processorNumber);
  const std::string listed = " (section \"processors\" lists " + numbers + ")";
  if (status == EFI_INVALID_PARAMETER)
    return "processor " + std::to_string(cpu) + " is above the " + std::to_string(list.size()) +
           " entries of the profile's processor list" + listed;
  return "the profile's processor list has no processor " + std::to_string(cpu) + listed;
}

void RunMca(const GlobalOptions& opts, uint64_t cpu) {
  sim::Platform platform;
  LoadPlatform(opts, platform);
  platform.InstallMpServices();

  // The processor list is the one the platform's topology protocol publishes;
  // without one installed, a stand-in carries the profile's list.
  sim::TopologyDouble stand;
  auto* topology =
      static_cast<PlatformTopologyProtocol*>(platform.Find(gPlatformTopologyProtocolGuid));
  if (topology == nullptr) {
    stand.processors = sim::mca::Processors(platform).entries;
    stand.Sync(nullptr);
    topology = &stand.iface;
  }
  // Filled with ones first, so what the reader did not write shows.
  auto snapshot = std::make_unique<McaBankSnapshot>();
  std::memset(snapshot.get(), 0xFF, sizeof(McaBankSnapshot));
  snapshot->processorNumber = cpu;
  platform.trace.Clear();
  EFI_STATUS status;
  {
    const sim::AddrTranslateBindings bound(platform, platform.MpServices(), topology);
    status = atd::CaptureMcaBanks(snapshot.get());
  }

  const bool ok = status == EFI_SUCCESS;
  const std::string lacks =
      ok ? "" : WhatTheProfileLacks(sim::mca::Processors(platform).entries, cpu, status);
  const uint64_t count = ok && snapshot->bankCount != kUnwritten ? snapshot->bankCount : 0;
  Json banks = Json::array();
  for (uint64_t b = 0; b < count && b < kMaxMcaBanks; ++b) {
    const McaBankEntry& e = snapshot->banks[b];
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

  if (opts.json) {
    Json out = Json::object();
    out["status"] = tools::EfiStatusText(status);
    out["processorNumber"] = cpu;
    if (!ok) out["error"] = lacks;
    if (ok) {
      out["processorInfo"] =
          sim::acpi::HexBytes({snapshot->processorInfo, snapshot->processorInfo + 5});
      if (snapshot->bankCount == kUnwritten)
        out["bankCount"] = nullptr;  // the processor did not run the reader
      else
        out["bankCount"] = snapshot->bankCount;
      out["banks"] = banks;
    }
    if (opts.trace) {
      Json t = Json::array();
      for (const auto& e : platform.trace.Events()) t.push_back(e.ToString());
      out["trace"] = t;
    }
    std::cout << out.dump(2) << "\n";
  } else {
    std::cout << "CaptureMcaBanks(processor " << cpu << "): " << tools::EfiStatusText(status)
              << "\n";
    if (ok) {
      std::cout << "processor info: "
                << sim::acpi::HexBytes({snapshot->processorInfo, snapshot->processorInfo + 5})
                << "\n";
      if (snapshot->bankCount == kUnwritten)
        std::cout << "bank count: not written (the processor did not run the reader)\n";
      else
        std::cout << "bank count: " << snapshot->bankCount << "\n";
      for (const auto& j : banks) {
        std::cout << "bank " << j["bank"].get<uint64_t>() << ": ";
        const std::string state = j["state"];
        if (state == "absent") {
          std::cout << "absent (no hardware behind the bank)\n";
        } else if (state == "no valid error") {
          std::cout << "no valid error logged (entry not written)\n";
        } else {
          std::cout << "status " << j["status"].get<std::string>() << "  "
                    << JoinNames(j["statusBits"].get<std::vector<std::string>>()) << "\n";
          std::cout << "    msr2 " << j["msr2"].get<std::string>() << "  msr3 "
                    << j["msr3"].get<std::string>() << "  msr4 " << j["msr4"].get<std::string>()
                    << "\n";
          std::cout << "    msr5 " << j["msr5"].get<std::string>() << "  msr6 "
                    << j["msr6"].get<std::string>() << "  msr8 " << j["msr8"].get<std::string>()
                    << "\n";
          std::cout << "    msr9 " << j["msr9"].get<std::string>() << "  msrA "
                    << j["msrA"].get<std::string>() << "\n";
        }
      }
    }
    if (opts.trace) {
      std::cout << "trace:\n";
      for (const auto& e : platform.trace.Events()) std::cout << "  " << e.ToString() << "\n";
    }
  }
  std::cout.flush();
  if (!ok) throw Refusal(lacks);
}

}  // namespace

void AddMcaCommands(CLI::App& app, GlobalOptions& opts) {
  auto* mca = app.add_subcommand("mca", "capture a processor's machine-check banks");
  auto cpu = std::make_shared<std::string>();
  mca->add_option("--cpu", *cpu, "MP-services processor number")->required();
  mca->callback([&opts, cpu] { RunMca(opts, ParseNumber(*cpu, "--cpu")); });
}

}  // namespace platsim
