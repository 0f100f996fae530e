// The simulated platform: processors, I/O ports, MMIO (with PCI Express
// configuration space at 0xE0000000), and the UEFI firmware around a driver
// (system table, boot services, protocol database, pools, configuration table,
// MP services). Deterministic; records what the hardware sees in `trace`.
//
// One Platform is current at a time (the newest constructed one still alive);
// the host instance of hw/ and the boot-services functions act on it.
#pragma once

#include "efi/uefi.h"
#include "hw/hw.h"
#include "pi/mp_services.h"
#include "sim/platform/trace.h"

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <typeinfo>
#include <unordered_map>
#include <vector>

namespace sim {

// ---- device models ----------------------------------------------------------

// One PCI function's configuration registers (32-bit, dword aligned offsets).
class PciFunction {
 public:
  virtual ~PciFunction() = default;
  virtual uint32_t ConfigRead32(uint16_t offset) = 0;
  virtual void ConfigWrite32(uint16_t offset, uint32_t value) = 0;
};

// A plain register file: reads return what was stored (or `fill`), writes store.
class RegisterFile : public PciFunction {
 public:
  explicit RegisterFile(uint32_t fill = 0) : fill_(fill) {}
  uint32_t ConfigRead32(uint16_t offset) override;
  void ConfigWrite32(uint16_t offset, uint32_t value) override { regs_[offset & ~3u] = value; }
  void Set(uint16_t offset, uint32_t value) { regs_[offset & ~3u] = value; }
  const std::map<uint16_t, uint32_t>& Registers() const { return regs_; }

 private:
  std::map<uint16_t, uint32_t> regs_;
  uint32_t fill_;
};

class IoDevice {
 public:
  virtual ~IoDevice() = default;
  virtual uint32_t Read(uint16_t port, uint8_t width) = 0;
  virtual void Write(uint16_t port, uint8_t width, uint32_t value) = 0;
};

class MmioDevice {
 public:
  virtual ~MmioDevice() = default;
  virtual uint32_t Read(uint64_t offset, uint8_t width) = 0;
  virtual void Write(uint64_t offset, uint8_t width, uint32_t value) = 0;
};

// ---- processors ---------------------------------------------------------------

struct Cpu {
  std::map<uint32_t, uint64_t> msrs;          // absent MSRs read 0
  std::map<uint32_t, hw::CpuidResult> cpuid;  // absent leaves read all zeros
  uint64_t dr2 = 0, dr3 = 0, dr7 = 0x400, cr4 = 0;
};

// Thrown by the simulated POST-code port when a fatal stop that the simulator
// did not claim has scrolled long enough: ends the run so a test can look at
// what reached the ports.
struct FatalStopEnded : std::runtime_error {
  explicit FatalStopEnded(uint32_t c) : std::runtime_error("fatal stop"), code(c) {}
  uint32_t code;
};

// Thrown when driver code reaches a platform service the simulator does not
// provide; never a silent success.
struct Unsupported : std::logic_error {
  using std::logic_error::logic_error;
};

// ---- pools --------------------------------------------------------------------

struct PoolBlock {
  EFI_MEMORY_TYPE type;
  size_t size;
};

// Addresses [begin, end).
struct AddressRange {
  uintptr_t begin = 0;
  uintptr_t end = 0;
  bool Contains(const void* p) const {
    const auto a = reinterpret_cast<uintptr_t>(p);
    return begin <= a && a < end;
  }
};

// The memory of the loaded driver image: its code and static data. On the
// host the drivers' code and globals are linked into the program itself, so
// this is the program's own image. Firmware frees an image's pages when its
// entry fails; an installed interface inside them then dangles.
AddressRange DriverImageRange();

struct InstalledInterface {
  EFI_HANDLE handle;
  EFI_GUID guid;
  void* iface;
};

// ---- failure injection -----------------------------------------------------------

struct FailRule {
  std::string call;   // "AllocatePool", "LocateProtocol", "StartupThisAP", ...
  uint32_t skip = 0;  // let this many calls through first
  int32_t times = 1;  // fail this many calls (-1: every later call)
  EFI_STATUS status = EFI_DEVICE_ERROR;
};

class Platform {
 public:
  static constexpr uint64_t kEcamBase = 0xE0000000ULL;
  static constexpr uint64_t kEcamSize = 0x10000000ULL;

  explicit Platform(unsigned cpuCount = 1);
  ~Platform();
  Platform(const Platform&) = delete;
  Platform& operator=(const Platform&) = delete;

  static Platform& Current();

  Trace trace;

  // ---- hardware ----
  void AttachPci(uint8_t bus, uint8_t device, uint8_t function, std::shared_ptr<PciFunction> f);
  PciFunction* Pci(uint8_t bus, uint8_t device, uint8_t function) const;
  void AttachMmio(uint64_t base, uint64_t size, std::shared_ptr<MmioDevice> d);
  void AttachIo(uint16_t first, uint16_t count, std::shared_ptr<IoDevice> d);

  std::vector<Cpu> cpus;
  uint32_t currentCpu = 0;
  Cpu& CurrentCpu() { return cpus.at(currentCpu); }

  // Time-stamp counter: advances by tscStep at every read.
  uint64_t tsc = 0;
  uint64_t tscStep = 1000000;

  // Answer to the fatal-stop request (SI after CPUID 0xBACCD00B). Non-zero:
  // the simulator claims the stop and FatalStop returns.
  uint16_t stopRequestAnswer = 1;
  // When a stop is not claimed: number of scroll writes to port 0x80 after the
  // plain code before the run is ended with FatalStopEnded.
  uint32_t fatalScrollWrites = 12;

  // ---- accesses made by the hw/ instance ----
  uint32_t IoRead(uint16_t port, uint8_t width);
  void IoWrite(uint16_t port, uint8_t width, uint32_t value);
  uint32_t MmioRead(uint64_t address, uint8_t width);
  void MmioWrite(uint64_t address, uint8_t width, uint32_t value);
  uint64_t ReadMsr(uint32_t index);
  void WriteMsr(uint32_t index, uint64_t value);
  hw::CpuidResult Cpuid(uint32_t leaf);
  uint16_t StopRequest();
  uint64_t ReadReg(RegId reg);
  void WriteReg(RegId reg, uint64_t value);
  uint64_t ReadTsc();
  void Handoff(uint32_t command, uint32_t value, uint32_t length);

  // ---- UEFI ----
  EFI_SYSTEM_TABLE* SystemTable() { return &systemTable_; }
  EFI_BOOT_SERVICES* BootServices() { return &bootServices_; }
  EFI_HANDLE ImageHandle() { return imageHandle_; }

  // Protocol database.
  EFI_HANDLE NewHandle();
  EFI_STATUS Install(EFI_HANDLE* handle, const EFI_GUID& guid, void* iface);
  EFI_STATUS Uninstall(EFI_HANDLE handle, const EFI_GUID& guid, void* iface);
  void* Find(const EFI_GUID& guid) const;  // first interface with that GUID
  size_t CountInstalled(const EFI_GUID& guid) const;
  std::vector<EFI_HANDLE> HandlesWith(const EFI_GUID& guid) const;
  // Installed interfaces that lie inside `range`.
  std::vector<InstalledInterface> InterfacesWithin(AddressRange range) const;

  // Pools: every block remembers its type; what is still allocated is counted.
  void* Allocate(EFI_MEMORY_TYPE type, size_t size);  // accounted pool block
  bool Free(void* p);
  const std::map<void*, PoolBlock>& Pools() const { return pools_; }
  size_t OutstandingBlocks(EFI_MEMORY_TYPE type) const;
  size_t OutstandingBytes(EFI_MEMORY_TYPE type) const;
  std::optional<PoolBlock> BlockOf(const void* p) const;

  // Configuration table (the HOB list lives here under kHobListGuid).
  void SetConfigurationTable(const EFI_GUID& guid, void* table);

  // Memory map served by GetMemoryMap, in this order: the regions that parts
  // of the simulator (SMRAM, the SMM shared memory) and tests describe. Each
  // descriptor is returned in a slot of kMemoryDescriptorSize bytes, larger
  // than the record as in real firmware, so callers must step by the size
  // they are given.
  static constexpr UINTN kMemoryDescriptorSize = 48;
  std::vector<EFI_MEMORY_DESCRIPTOR> memoryMap;
  UINTN memoryMapKey = 1;
  // Adds a descriptor for [start, start + bytes) rounded out to whole pages.
  void DescribeMemory(uint64_t start, uint64_t bytes, EFI_MEMORY_TYPE type);

  // MP services: processors are `cpus`; processor 0 is the boot processor.
  EFI_MP_SERVICES_PROTOCOL* MpServices() { return &mpServices_; }
  void InstallMpServices();

  // Failure injection, for every platform call the simulator serves.
  void Fail(const FailRule& rule) { failRules_.push_back(rule); }
  void Fail(const std::string& call, EFI_STATUS status, uint32_t skip = 0, int32_t times = 1) {
    Fail(FailRule{call, skip, times, status});
  }
  // Called at the top of each simulated service: the injected status, if any.
  std::optional<EFI_STATUS> Inject(const std::string& call);
  // Names of the platform calls made, in order ("LocateProtocol", ...).
  std::vector<std::string> calls;

  // Extension slots for subsystems that add their own services (ACPI, SMM...).
  template <typename T>
  T& Extension() {
    auto& slot = extensions_[typeid(T).name()];
    if (!slot) slot = std::make_shared<Holder<T>>();
    return static_cast<Holder<T>*>(slot.get())->value;
  }

 private:
  struct HolderBase {
    virtual ~HolderBase() = default;
  };
  template <typename T>
  struct Holder : HolderBase {
    T value{};
  };

  struct IoRange {
    uint16_t first, count;
    std::shared_ptr<IoDevice> dev;
  };
  struct MmioRange {
    uint64_t base, size;
    std::shared_ptr<MmioDevice> dev;
  };
  struct ProtocolEntry {
    EFI_HANDLE handle;
    EFI_GUID guid;
    void* iface;
  };

  void NotePostWrite(uint16_t port, uint8_t width, uint32_t value);

  std::unordered_map<uint32_t, std::shared_ptr<PciFunction>> pci_;  // key bus<<16|dev<<8|fn
  std::vector<IoRange> io_;
  std::vector<MmioRange> mmio_;

  EFI_SYSTEM_TABLE systemTable_{};
  EFI_BOOT_SERVICES bootServices_{};
  EFI_MP_SERVICES_PROTOCOL mpServices_{};
  std::vector<EFI_CONFIGURATION_TABLE> configTables_;
  EFI_HANDLE imageHandle_ = nullptr;
  std::vector<std::unique_ptr<uint64_t>> handles_;
  std::vector<ProtocolEntry> protocols_;
  std::map<void*, PoolBlock> pools_;
  std::vector<FailRule> failRules_;
  std::map<std::string, uint32_t> callCounts_;
  std::map<std::string, std::shared_ptr<HolderBase>> extensions_;

  // Fatal-stop detection on ports 0xE0/0x80.
  bool deadSeen_ = false;
  int postAfterDead_ = -1;
  uint32_t stopCode_ = 0;

  Platform* previous_ = nullptr;
};

}  // namespace sim
