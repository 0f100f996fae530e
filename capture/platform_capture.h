// The capture of a platform profile: every data-fabric register the address
// translations can read, for every node present, plus the platform's
// ChannelConfigTable and processor list where the firmware publishes them,
// written as the raw profile platsim loads ("fabric", "channelConfig",
// "processors") with a "captured" section that says where it came from.
//
// One core for the UEFI shell tool (the board), platsim's simulation and
// platsim on Linux; only the way to the registers differs (FabricPort).
#pragma once

#include "capture/profile_text.h"
#include "channel_config_table.h"
#include "efi/uefi.h"
#include "platform_topology_protocol.h"

#include <stddef.h>
#include <stdint.h>

namespace capture {

// How the capture reaches the fabric of the machine it runs on. Both calls
// return false when the access failed (Linux: a short read); the port keeps
// the details for its caller's message.
struct FabricPort {
  void* context;
  // The dword at register `offset` of bus 0, device `device`, function `function`.
  bool (*readConfig)(void* context, uint8_t device, uint8_t function, uint16_t offset,
                     uint32_t* value);
  // One fabric register through node `node`'s indirect-access window.
  bool (*readRegister)(void* context, uint32_t node, uint8_t function, uint16_t offset,
                       uint32_t instance, uint32_t* value);
};

// The port of firmware and of the simulator: ECAM at 0xE0000000 through hw/,
// the registers through readFabricRegister, the driver's own path.
FabricPort EcamFabricPort();

// What names the capture; a null text or a false has-flag leaves a key out.
struct Identification {
  const char* tool = nullptr;     // "TivTool", "platsim"
  const char* version = nullptr;  // the project version
  const char* source = nullptr;   // "uefi-shell", "linux-sysfs", "simulation"
  const char* time = nullptr;
  bool hasCpuidSignature = false;
  uint32_t cpuidSignature = 0;  // CPUID leaf 1 EAX
  const char* firmwareVendor = nullptr;
  bool hasFirmwareRevision = false;
  uint32_t firmwareRevision = 0;
  const char* hostName = nullptr;
  const char* capturedFrom = nullptr;  // the simulated profile
  const char* note = nullptr;
};

// The firmware's vendor (as ASCII, into `vendor`, `size` bytes) and
// revision from the system table, and the CPUID signature of the processor
// running the capture.
void IdentifyFirmware(const EFI_SYSTEM_TABLE* systemTable, char* vendor, size_t size,
                      Identification* id);

// The firmware's tables, where a platform component publishes them.
struct Tables {
  const ChannelConfigTable* channelConfig = nullptr;
  const ProcessorListEntry* processors = nullptr;
  uint64_t processorCount = 0;
};

// The tables of the installed PlatformTopologyProtocol; false (and `tables`
// untouched) when none is installed.
bool TablesFromTopology(EFI_BOOT_SERVICES* bootServices, Tables* tables);

enum class CaptureStatus : uint8_t {
  Ok,
  NoFabric,     // node 0 does not answer with the fabric's vendor id
  ReadFailed,   // the port refused a read
  WriteFailed,  // the sink refused the text
};

struct CaptureResult {
  CaptureStatus status = CaptureStatus::Ok;
  uint32_t nodes = 0;      // nodes present
  uint32_t blocks = 0;     // blocks the block list names
  uint32_t registers = 0;  // fabric registers written
  uint32_t vendorId = 0;   // what node 0's register 0 read (NoFabric)
};

// Reads and writes the whole profile. Nodes are 0 to 7 (devices 0x18 to
// 0x1F); a node is present when function 4 of its device answers with the
// fabric's vendor id.
CaptureResult CaptureProfile(const FabricPort& port, const Identification& id, const Tables& tables,
                             TextSink sink);

}  // namespace capture
