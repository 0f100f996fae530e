// platsim capture: the profile of a platform, read the way the UEFI shell
// tool reads it on the board (one capture core, capture/):
//   --simulate [PROFILE]  the simulated platform of a profile (none or '-':
//                         the built-in platform), through the simulated ECAM
//   otherwise             this Linux machine, through the kernel's PCI
//                         configuration files (--sysfs DIR: another tree)
#include "addr_translate/fabric/fabric_decode.h"
#include "capture/platform_capture.h"
#include "registers/fabric_registers.h"
#include "sim/dram/channel_config_store.h"
#include "sim/mca/mca_banks.h"
#include "sim/profile/profile.h"
#include "sim/topology/topology_double.h"
#include "tools/common/output_file.h"
#include "tools/common/input_file.h"
#include "tools/platsim/capture/config_space.h"
#include "tools/platsim/cli/commands.h"
#include "tools/platsim/cli/platform_load.h"

#include <chrono>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <iostream>
#include <memory>

#include <cpuid.h>
#include <unistd.h>

namespace platsim {

namespace {

struct CaptureArgs {
  std::string simulate;  // the profile to simulate
  std::string sysfs = "/sys";
  std::string channelConfig;
  std::string output = "-";
};

std::string UtcNow() {
  const std::time_t now = std::time(nullptr);
  std::tm tm{};
  gmtime_r(&now, &tm);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &tm);
  return text;
}

// The first line of a small text file, or "" when it cannot be read.
std::string FirstLine(const std::string& file) {
  std::ifstream in(file);
  std::string line;
  std::getline(in, line);
  while (!line.empty() && (line.back() == ' ' || line.back() == '\r')) line.pop_back();
  return line;
}

sim::profile::Json LoadProfileJson(const std::string& file, const char* what) {
  const std::vector<uint8_t> bytes = tools::ReadInputBytes(file, what, "platsim");
  return sim::profile::Parse(std::string(bytes.begin(), bytes.end()),
                             file == "-" ? "<stdin>" : file);
}

bool AppendText(void* context, const char* text, size_t length) {
  static_cast<std::string*>(context)->append(text, length);
  return true;
}

struct Captured {
  capture::CaptureResult result;
  std::string text;
};

Captured Run(const capture::FabricPort& port, const capture::Identification& id,
             const capture::Tables& tables) {
  Captured c;
  c.result = capture::CaptureProfile(port, id, tables, {&c.text, AppendText});
  return c;
}

void Emit(const CaptureArgs& a, const Captured& c, double seconds) {
  if (a.output == "-") {
    std::cout << c.text << std::flush;
  } else {
    tools::WriteOutputFile(a.output, c.text, "cannot write " + a.output);
  }
  std::fprintf(stderr,
               "platsim: captured %u fabric registers of %u node%s (%u blocks) in %.1f ms\n",
               c.result.registers, c.result.nodes, c.result.nodes == 1 ? "" : "s", c.result.blocks,
               seconds * 1000.0);
}

double Since(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

void CaptureSimulated(const GlobalOptions& opts, const CaptureArgs& a) {
  // --simulate's own file, else --profile's (none: the built-in platform).
  GlobalOptions simulated = opts;
  if (!a.simulate.empty() && a.simulate != "-") simulated.profile = a.simulate;
  const std::string file = simulated.profile == "-" ? "<stdin>" : simulated.profile;
  sim::Platform platform;
  LoadPlatform(simulated, platform);
  // The platform's topology component, as firmware would publish it.
  sim::TopologyDouble topology;
  topology.processors = sim::mca::Processors(platform).entries;
  topology.Install(platform, &sim::dram::ChannelConfigOf(platform));

  const std::string time = UtcNow();
  char vendor[64];
  capture::Identification id;
  id.tool = "platsim";
  id.version = PLATSIM_VERSION;
  id.source = "simulation";
  id.time = time.c_str();
  id.capturedFrom = file.empty() ? "built-in" : file.c_str();
  capture::IdentifyFirmware(platform.SystemTable(), vendor, sizeof vendor, &id);
  capture::Tables tables;
  capture::TablesFromTopology(platform.BootServices(), &tables);
  const auto start = std::chrono::steady_clock::now();
  const Captured c = Run(capture::EcamFabricPort(), id, tables);
  const double seconds = Since(start);
  if (c.result.status == capture::CaptureStatus::NoFabric)
    throw UserError("the simulated platform has no data fabric (node 0 answers with vendor id " +
                    sim::profile::Hex(c.result.vendorId) + ")");
  Emit(a, c, seconds);
}

void CaptureLinux(const CaptureArgs& a) {
  // The firmware's ChannelConfigTable is not visible from Linux: the DIMM
  // geometry comes from a profile, for example one captured on the board.
  sim::Platform tablePlatform;
  capture::Tables tables;
  if (!a.channelConfig.empty()) {
    const sim::profile::Json j = LoadProfileJson(a.channelConfig, "channel configuration");
    if (!j.is_object() || (!j.contains("channelConfig") && !j.contains("topology")))
      throw UserError(a.channelConfig +
                      ": no channel configuration in it (neither a \"channelConfig\" nor a "
                      "\"topology\" section)");
    sim::profile::Load(j, tablePlatform);
    tables.channelConfig = &sim::dram::ChannelConfigOf(tablePlatform);
    const auto& cpus = sim::mca::Processors(tablePlatform).entries;
    tables.processors = cpus.empty() ? nullptr : cpus.data();
    tables.processorCount = cpus.size();
  }

  const std::string time = UtcNow();
  char host[256] = {};
  gethostname(host, sizeof host - 1);
  const std::string dmi = a.sysfs + "/class/dmi/id/";
  std::string firmware = FirstLine(dmi + "bios_vendor");
  const std::string biosVersion = FirstLine(dmi + "bios_version");
  if (!biosVersion.empty())
    firmware += (firmware.empty() ? "" : ", ") + std::string("version ") + biosVersion;
  const std::string note =
      a.channelConfig.empty()
          ? "fabric registers only: the firmware's ChannelConfigTable is not visible from Linux "
            "(give --channel-config FILE for DRAM coordinates)"
          : "channel configuration and processors from " + a.channelConfig;
  capture::Identification id;
  id.tool = "platsim";
  id.version = PLATSIM_VERSION;
  id.source = "linux-sysfs";
  id.time = time.c_str();
  id.hostName = host[0] != '\0' ? host : nullptr;
  id.firmwareVendor = firmware.empty() ? nullptr : firmware.c_str();
  unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
  if (__get_cpuid(1, &eax, &ebx, &ecx, &edx) != 0) {
    id.hasCpuidSignature = true;
    id.cpuidSignature = eax;
  }
  id.note = note.c_str();

  SysfsConfigSpace space(a.sysfs);
  WindowPort window(space);
  const auto start = std::chrono::steady_clock::now();
  const Captured c = Run(window.Port(), id, tables);
  const bool restored = window.Restore();
  const double seconds = Since(start);
  if (c.result.status == capture::CaptureStatus::ReadFailed) throw UserError(space.error());
  if (!restored)
    throw UserError(space.error() + " (the window's access-address register was not put back)");
  if (c.result.status == capture::CaptureStatus::NoFabric) {
    const std::string file = space.File(atd::fabricNodeDevice(0), atd::fabric_reg::kWindowFunction);
    if (c.result.vendorId == 0xFFFFFFFF)
      throw UserError("no data fabric: " + file +
                      " does not exist (this machine has no such device, or the tree is not a "
                      "sysfs tree)");
    throw UserError("no data fabric: " + file + " has vendor id " +
                    sim::profile::Hex(c.result.vendorId & 0xFFFF) + ", not the fabric's " +
                    sim::profile::Hex(atd::fabric_reg::kNodeVendorId));
  }
  Emit(a, c, seconds);
}

}  // namespace

void AddCaptureCommands(CLI::App& app, GlobalOptions& opts) {
  auto args = std::make_shared<CaptureArgs>();
  auto* cmd = app.add_subcommand(
      "capture",
      "write the profile of a platform, read as the UEFI shell tool reads the board: every data-"
      "fabric register the translations can read, the channel configuration and processors "
      "where known, and a \"captured\" section naming the capture");
  auto* simulate = cmd->add_option("--simulate", args->simulate,
                                   "capture the simulated platform of PROFILE (none or '-': the "
                                   "built-in platform) instead of this machine")
                       ->type_name("[PROFILE]")
                       ->expected(0, 1);
  cmd->add_option("--sysfs", args->sysfs,
                  "the sysfs tree to read the PCI configuration files from (default /sys)")
      ->type_name("DIR");
  cmd->add_option("--channel-config", args->channelConfig,
                  "a profile whose channel configuration and processors go into the capture "
                  "(Linux cannot see the firmware's; without it the profile holds the fabric only)")
      ->type_name("FILE");
  cmd->add_option("-o,--output", args->output, "where to write the profile ('-': standard output)")
      ->type_name("FILE");
  cmd->fallthrough();
  cmd->footer(
      "Capturing this machine needs root: the fabric's registers are read through its indirect-"
      "access window (F4x5C/F4x98 of devices 00:18.4 to 00:1f.4), which the kernel's drivers use "
      "too; the window's address register is saved first and written back when done.\n"
      "Examples:\n"
      "  platsim capture --simulate -o built-in.json\n"
      "  sudo platsim capture --channel-config board.json -o this-machine.json\n"
      "  platsim --profile this-machine.json translate sys 0x100000000");
  SetExitCodes(cmd, "the profile was written", "");
  cmd->callback([&opts, args, simulate] {
    if (simulate->count() > 0)
      CaptureSimulated(opts, *args);
    else
      CaptureLinux(*args);
  });
}

}  // namespace platsim
