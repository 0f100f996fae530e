#include "sim/platform/platform.h"

#include <cstdlib>
#include <cstring>

// The linker's bounds of the program image: text, read-only data, data and
// bss. Pools (malloc) and stacks lie outside.
extern "C" {
extern const char __executable_start[];
extern char _end[];
}

namespace sim {

namespace {
Platform* gCurrent = nullptr;

// ---- boot services served by the simulator (EFIAPI, through the table) ----

EFI_STATUS EFIAPI SimAllocatePool(EFI_MEMORY_TYPE type, UINTN size, VOID** buffer) {
  auto& p = Platform::Current();
  p.calls.push_back("AllocatePool");
  if (auto s = p.Inject("AllocatePool")) return *s;
  if (buffer == nullptr) return EFI_INVALID_PARAMETER;
  *buffer = p.Allocate(type, size);
  return EFI_SUCCESS;
}

EFI_STATUS EFIAPI SimFreePool(VOID* buffer) {
  auto& p = Platform::Current();
  p.calls.push_back("FreePool");
  if (auto s = p.Inject("FreePool")) return *s;
  return p.Free(buffer) ? EFI_SUCCESS : EFI_INVALID_PARAMETER;
}

EFI_STATUS EFIAPI SimLocateProtocol(EFI_GUID* protocol, VOID* /*registration*/, VOID** iface) {
  auto& p = Platform::Current();
  p.calls.push_back("LocateProtocol");
  if (auto s = p.Inject("LocateProtocol")) return *s;
  if (protocol == nullptr || iface == nullptr) return EFI_INVALID_PARAMETER;
  // An interface installed as null is found, with a null interface, as in
  // firmware.
  *iface = p.Find(*protocol);
  return p.CountInstalled(*protocol) != 0 ? EFI_SUCCESS : EFI_NOT_FOUND;
}

EFI_STATUS EFIAPI SimInstallProtocolInterface(EFI_HANDLE* handle, EFI_GUID* protocol,
                                              EFI_INTERFACE_TYPE type, VOID* iface) {
  auto& p = Platform::Current();
  p.calls.push_back("InstallProtocolInterface");
  if (auto s = p.Inject("InstallProtocolInterface")) return *s;
  if (handle == nullptr || protocol == nullptr || type != EFI_NATIVE_INTERFACE)
    return EFI_INVALID_PARAMETER;
  return p.Install(handle, *protocol, iface);
}

EFI_STATUS EFIAPI SimUninstallProtocolInterface(EFI_HANDLE handle, EFI_GUID* protocol,
                                                VOID* iface) {
  auto& p = Platform::Current();
  p.calls.push_back("UninstallProtocolInterface");
  if (auto s = p.Inject("UninstallProtocolInterface")) return *s;
  if (protocol == nullptr) return EFI_INVALID_PARAMETER;
  return p.Uninstall(handle, *protocol, iface);
}

EFI_STATUS EFIAPI SimGetMemoryMap(UINTN* mapSize, EFI_MEMORY_DESCRIPTOR* map, UINTN* mapKey,
                                  UINTN* descriptorSize, UINT32* descriptorVersion) {
  auto& p = Platform::Current();
  p.calls.push_back("GetMemoryMap");
  if (auto s = p.Inject("GetMemoryMap")) return *s;
  if (mapSize == nullptr) return EFI_INVALID_PARAMETER;
  const UINTN need = p.memoryMap.size() * Platform::kMemoryDescriptorSize;
  if (descriptorSize) *descriptorSize = Platform::kMemoryDescriptorSize;
  if (descriptorVersion) *descriptorVersion = EFI_MEMORY_DESCRIPTOR_VERSION;
  if (*mapSize < need) {
    *mapSize = need;
    return EFI_BUFFER_TOO_SMALL;
  }
  if (map == nullptr || mapKey == nullptr || descriptorSize == nullptr ||
      descriptorVersion == nullptr)
    return EFI_INVALID_PARAMETER;
  *mapSize = need;
  auto* out = reinterpret_cast<uint8_t*>(map);
  for (const EFI_MEMORY_DESCRIPTOR& d : p.memoryMap) {
    std::memset(out, 0xA5, Platform::kMemoryDescriptorSize);  // the padding is not zeroed
    std::memcpy(out, &d, sizeof d);
    out += Platform::kMemoryDescriptorSize;
  }
  *mapKey = p.memoryMapKey;
  return EFI_SUCCESS;
}

VOID EFIAPI SimCopyMem(VOID* dst, VOID* src, UINTN len) {
  Platform::Current().calls.push_back("CopyMem");
  if (len) std::memmove(dst, src, len);
}

VOID EFIAPI SimSetMem(VOID* buf, UINTN len, UINT8 value) {
  Platform::Current().calls.push_back("SetMem");
  if (len) std::memset(buf, value, len);
}

// ---- MP services ----

EFI_STATUS EFIAPI SimGetNumberOfProcessors(EFI_MP_SERVICES_PROTOCOL*, UINTN* count,
                                           UINTN* enabled) {
  auto& p = Platform::Current();
  p.calls.push_back("GetNumberOfProcessors");
  if (auto s = p.Inject("GetNumberOfProcessors")) return *s;
  if (count == nullptr || enabled == nullptr) return EFI_INVALID_PARAMETER;
  *count = p.cpus.size();
  *enabled = p.cpus.size();
  return EFI_SUCCESS;
}

EFI_STATUS EFIAPI SimStartupThisAP(EFI_MP_SERVICES_PROTOCOL*, EFI_AP_PROCEDURE procedure,
                                   UINTN processor, EFI_EVENT waitEvent, UINTN /*timeout*/,
                                   VOID* argument, BOOLEAN* finished) {
  auto& p = Platform::Current();
  p.calls.push_back("StartupThisAP");
  if (auto s = p.Inject("StartupThisAP")) return *s;
  if (procedure == nullptr) return EFI_INVALID_PARAMETER;
  if (processor >= p.cpus.size()) return EFI_NOT_FOUND;
  if (processor == p.currentCpu) return EFI_INVALID_PARAMETER;  // the caller itself
  if (waitEvent != nullptr || finished != nullptr) {
    throw Unsupported("StartupThisAP: only the blocking form is simulated");
  }
  const uint32_t saved = p.currentCpu;
  p.currentCpu = static_cast<uint32_t>(processor);
  try {
    procedure(argument);
  } catch (...) {
    p.currentCpu = saved;
    throw;
  }
  p.currentCpu = saved;
  return EFI_SUCCESS;
}

EFI_STATUS EFIAPI SimWhoAmI(EFI_MP_SERVICES_PROTOCOL*, UINTN* processor) {
  auto& p = Platform::Current();
  p.calls.push_back("WhoAmI");
  if (processor == nullptr) return EFI_INVALID_PARAMETER;
  *processor = p.currentCpu;
  return EFI_SUCCESS;
}

}  // namespace

uint32_t RegisterFile::ConfigRead32(uint16_t offset) {
  auto it = regs_.find(offset & ~3u);
  return it == regs_.end() ? fill_ : it->second;
}

Platform::Platform(unsigned cpuCount) : cpus(cpuCount ? cpuCount : 1) {
  previous_ = gCurrent;
  gCurrent = this;

  imageHandle_ = NewHandle();

  bootServices_.Hdr.Signature = EFI_BOOT_SERVICES_SIGNATURE;
  bootServices_.Hdr.Revision = EFI_BOOT_SERVICES_REVISION;
  bootServices_.Hdr.HeaderSize = sizeof(EFI_BOOT_SERVICES);
  bootServices_.AllocatePool = SimAllocatePool;
  bootServices_.FreePool = SimFreePool;
  bootServices_.LocateProtocol = SimLocateProtocol;
  bootServices_.InstallProtocolInterface = SimInstallProtocolInterface;
  bootServices_.UninstallProtocolInterface = SimUninstallProtocolInterface;
  bootServices_.GetMemoryMap = SimGetMemoryMap;
  bootServices_.CopyMem = SimCopyMem;
  bootServices_.SetMem = SimSetMem;

  systemTable_.Hdr.Signature = EFI_SYSTEM_TABLE_SIGNATURE;
  systemTable_.Hdr.HeaderSize = sizeof(EFI_SYSTEM_TABLE);
  // What a capture of the simulated platform names as its firmware.
  static const CHAR16 kVendor[] = {'t', 'i', 'v', 'f', 'w', ' ', 's', 'i',
                                   'm', 'u', 'l', 'a', 't', 'o', 'r', 0};
  systemTable_.FirmwareVendor = const_cast<CHAR16*>(kVendor);
  systemTable_.FirmwareRevision = 0x00010000;
  systemTable_.BootServices = &bootServices_;
  systemTable_.NumberOfTableEntries = 0;
  systemTable_.ConfigurationTable = nullptr;

  mpServices_.GetNumberOfProcessors = SimGetNumberOfProcessors;
  mpServices_.StartupThisAP = SimStartupThisAP;
  mpServices_.WhoAmI = SimWhoAmI;
}

Platform::~Platform() {
  for (auto& [ptr, block] : pools_) std::free(ptr);
  if (gCurrent == this) gCurrent = previous_;
}

Platform& Platform::Current() {
  if (gCurrent == nullptr) std::abort();  // driver code ran with no simulated platform
  return *gCurrent;
}

// ---- hardware ----

void Platform::AttachPci(uint8_t bus, uint8_t device, uint8_t function,
                         std::shared_ptr<PciFunction> f) {
  pci_[(uint32_t(bus) << 16) | (uint32_t(device & 0x1F) << 8) | (function & 7)] = std::move(f);
}

PciFunction* Platform::Pci(uint8_t bus, uint8_t device, uint8_t function) const {
  auto it = pci_.find((uint32_t(bus) << 16) | (uint32_t(device & 0x1F) << 8) | (function & 7));
  return it == pci_.end() ? nullptr : it->second.get();
}

void Platform::AttachMmio(uint64_t base, uint64_t size, std::shared_ptr<MmioDevice> d) {
  mmio_.push_back({base, size, std::move(d)});
}

void Platform::AttachIo(uint16_t first, uint16_t count, std::shared_ptr<IoDevice> d) {
  io_.push_back({first, count, std::move(d)});
}

uint32_t Platform::IoRead(uint16_t port, uint8_t width) {
  uint32_t v = width == 1 ? 0xFF : width == 2 ? 0xFFFF : 0xFFFFFFFF;
  for (auto& r : io_) {
    if (port >= r.first && port - r.first < r.count) {
      v = r.dev->Read(port, width);
      break;
    }
  }
  trace.Record({Access::IoRead, width, port, v, currentCpu});
  return v;
}

void Platform::IoWrite(uint16_t port, uint8_t width, uint32_t value) {
  trace.Record({Access::IoWrite, width, port, value, currentCpu});
  for (auto& r : io_) {
    if (port >= r.first && port - r.first < r.count) {
      r.dev->Write(port, width, value);
      break;
    }
  }
  NotePostWrite(port, width, value);
}

// A fatal stop writes 0xDEAD to port 0xE0, then its code to port 0x80, then
// scrolls through port 0x80 for ever. After `fatalScrollWrites` scroll writes
// the run is ended, so the writes can be checked.
void Platform::NotePostWrite(uint16_t port, uint8_t width, uint32_t value) {
  if (port == 0xE0 && width == 2 && value == 0xDEAD) {
    deadSeen_ = true;
    postAfterDead_ = 0;
    return;
  }
  if (port == 0x80 && width == 4 && deadSeen_) {
    if (postAfterDead_ == 0) stopCode_ = value;
    ++postAfterDead_;
    if (postAfterDead_ > static_cast<int>(fatalScrollWrites)) {
      deadSeen_ = false;
      postAfterDead_ = -1;
      throw FatalStopEnded(stopCode_);
    }
  }
}

uint32_t Platform::MmioRead(uint64_t address, uint8_t width) {
  uint32_t v = width == 1 ? 0xFF : width == 2 ? 0xFFFF : 0xFFFFFFFF;
  if (address >= kEcamBase && address - kEcamBase < kEcamSize) {
    const uint64_t off = address - kEcamBase;
    const uint8_t bus = (off >> 20) & 0xFF, dev = (off >> 15) & 0x1F, fn = (off >> 12) & 7;
    const uint16_t reg = off & 0xFFF;
    if (PciFunction* f = Pci(bus, dev, fn)) {
      const uint32_t dword = f->ConfigRead32(reg & ~3u);
      const unsigned shift = (reg & 3) * 8;
      v = width == 4 ? dword : (dword >> shift) & (width == 1 ? 0xFFu : 0xFFFFu);
    }
  } else {
    for (auto& r : mmio_) {
      if (address >= r.base && address - r.base < r.size) {
        v = r.dev->Read(address - r.base, width);
        break;
      }
    }
  }
  trace.Record({Access::MmioRead, width, address, v, currentCpu});
  return v;
}

void Platform::MmioWrite(uint64_t address, uint8_t width, uint32_t value) {
  trace.Record({Access::MmioWrite, width, address, value, currentCpu});
  if (address >= kEcamBase && address - kEcamBase < kEcamSize) {
    const uint64_t off = address - kEcamBase;
    const uint8_t bus = (off >> 20) & 0xFF, dev = (off >> 15) & 0x1F, fn = (off >> 12) & 7;
    const uint16_t reg = off & 0xFFF;
    if (PciFunction* f = Pci(bus, dev, fn)) {
      if (width == 4) {
        f->ConfigWrite32(reg & ~3u, value);
      } else {  // read-modify-write of the dword the narrow store falls in
        const unsigned shift = (reg & 3) * 8;
        const uint32_t mask = (width == 1 ? 0xFFu : 0xFFFFu) << shift;
        const uint32_t old = f->ConfigRead32(reg & ~3u);
        f->ConfigWrite32(reg & ~3u, (old & ~mask) | ((value << shift) & mask));
      }
    }
    return;
  }
  for (auto& r : mmio_) {
    if (address >= r.base && address - r.base < r.size) {
      r.dev->Write(address - r.base, width, value);
      return;
    }
  }
}

uint64_t Platform::ReadMsr(uint32_t index) {
  auto& m = CurrentCpu().msrs;
  auto it = m.find(index);
  const uint64_t v = it == m.end() ? 0 : it->second;
  trace.Record({Access::MsrRead, 8, index, v, currentCpu});
  return v;
}

void Platform::WriteMsr(uint32_t index, uint64_t value) {
  trace.Record({Access::MsrWrite, 8, index, value, currentCpu});
  CurrentCpu().msrs[index] = value;
}

hw::CpuidResult Platform::Cpuid(uint32_t leaf) {
  auto& c = CurrentCpu().cpuid;
  auto it = c.find(leaf);
  const hw::CpuidResult r = it == c.end() ? hw::CpuidResult{0, 0, 0, 0} : it->second;
  trace.Record({Access::Cpuid, 4, leaf, r.eax, currentCpu});
  return r;
}

uint16_t Platform::StopRequest() {
  trace.Record({Access::Cpuid, 4, 0xBACCD00B, stopRequestAnswer, currentCpu, 2});
  // A claimed stop does not scroll: later 32-bit POST writes (message frames,
  // another stop's code) are not part of it.
  if (stopRequestAnswer != 0) {
    deadSeen_ = false;
    postAfterDead_ = -1;
  }
  return stopRequestAnswer;
}

uint64_t Platform::ReadReg(RegId reg) {
  Cpu& c = CurrentCpu();
  uint64_t v = 0;
  switch (reg) {
    case kDr2:
      v = c.dr2;
      break;
    case kDr3:
      v = c.dr3;
      break;
    case kDr7:
      v = c.dr7;
      break;
    case kCr4:
      v = c.cr4;
      break;
  }
  trace.Record({Access::RegRead, 8, reg, v, currentCpu});
  return v;
}

void Platform::WriteReg(RegId reg, uint64_t value) {
  trace.Record({Access::RegWrite, 8, reg, value, currentCpu});
  Cpu& c = CurrentCpu();
  switch (reg) {
    case kDr2:
      c.dr2 = value;
      break;
    case kDr3:
      c.dr3 = value;
      break;
    case kDr7:
      c.dr7 = value;
      break;
    case kCr4:
      c.cr4 = value;
      break;
  }
}

uint64_t Platform::ReadTsc() {
  tsc += tscStep;
  return tsc;
}

void Platform::Handoff(uint32_t command, uint32_t value, uint32_t length) {
  trace.Record({Access::Handoff, 4, command, value, currentCpu, length});
  // The OUT itself reaches the port like any other.
  IoWrite(static_cast<uint16_t>(command & 0xFFFF), 4, value);
}

// ---- UEFI ----

EFI_HANDLE Platform::NewHandle() {
  handles_.push_back(std::make_unique<uint64_t>(handles_.size() + 1));
  return handles_.back().get();
}

EFI_STATUS Platform::Install(EFI_HANDLE* handle, const EFI_GUID& guid, void* iface) {
  if (*handle == nullptr) {
    *handle = NewHandle();
  } else {
    for (auto& e : protocols_)
      if (e.handle == *handle && uefi::SameGuid(e.guid, guid)) return EFI_INVALID_PARAMETER;
  }
  protocols_.push_back({*handle, guid, iface});
  return EFI_SUCCESS;
}

EFI_STATUS Platform::Uninstall(EFI_HANDLE handle, const EFI_GUID& guid, void* iface) {
  for (auto it = protocols_.begin(); it != protocols_.end(); ++it) {
    if (it->handle == handle && uefi::SameGuid(it->guid, guid) && it->iface == iface) {
      protocols_.erase(it);
      return EFI_SUCCESS;
    }
  }
  return EFI_NOT_FOUND;
}

void* Platform::Find(const EFI_GUID& guid) const {
  for (auto& e : protocols_)
    if (uefi::SameGuid(e.guid, guid)) return e.iface;
  return nullptr;
}

size_t Platform::CountInstalled(const EFI_GUID& guid) const {
  size_t n = 0;
  for (auto& e : protocols_) n += uefi::SameGuid(e.guid, guid);
  return n;
}

std::vector<EFI_HANDLE> Platform::HandlesWith(const EFI_GUID& guid) const {
  std::vector<EFI_HANDLE> out;
  for (auto& e : protocols_)
    if (uefi::SameGuid(e.guid, guid)) out.push_back(e.handle);
  return out;
}

std::vector<InstalledInterface> Platform::InterfacesWithin(AddressRange range) const {
  std::vector<InstalledInterface> out;
  for (auto& e : protocols_)
    if (range.Contains(e.iface)) out.push_back({e.handle, e.guid, e.iface});
  return out;
}

AddressRange DriverImageRange() {
  return {reinterpret_cast<uintptr_t>(__executable_start), reinterpret_cast<uintptr_t>(_end)};
}

void* Platform::Allocate(EFI_MEMORY_TYPE type, size_t size) {
  // Never hand out zeroed memory: drivers must not rely on it.
  void* p = std::malloc(size ? size : 1);
  if (p == nullptr) std::abort();
  std::memset(p, 0xA5, size ? size : 1);
  pools_[p] = {type, size};
  return p;
}

bool Platform::Free(void* p) {
  auto it = pools_.find(p);
  if (it == pools_.end()) return false;
  std::free(p);
  pools_.erase(it);
  return true;
}

size_t Platform::OutstandingBlocks(EFI_MEMORY_TYPE type) const {
  size_t n = 0;
  for (auto& [p, b] : pools_) n += b.type == type;
  return n;
}

size_t Platform::OutstandingBytes(EFI_MEMORY_TYPE type) const {
  size_t n = 0;
  for (auto& [p, b] : pools_)
    if (b.type == type) n += b.size;
  return n;
}

std::optional<PoolBlock> Platform::BlockOf(const void* p) const {
  auto it = pools_.find(const_cast<void*>(p));
  if (it == pools_.end()) return std::nullopt;
  return it->second;
}

void Platform::SetConfigurationTable(const EFI_GUID& guid, void* table) {
  for (auto& t : configTables_) {
    if (uefi::SameGuid(t.VendorGuid, guid)) {
      t.VendorTable = table;
      return;
    }
  }
  EFI_CONFIGURATION_TABLE t{};
  t.VendorGuid = guid;
  t.VendorTable = table;
  configTables_.push_back(t);
  systemTable_.NumberOfTableEntries = configTables_.size();
  systemTable_.ConfigurationTable = configTables_.data();
}

void Platform::DescribeMemory(uint64_t start, uint64_t bytes, EFI_MEMORY_TYPE type) {
  constexpr uint64_t kPage = 0x1000;
  const uint64_t first = start & ~(kPage - 1);
  const uint64_t end = (start + bytes + kPage - 1) & ~(kPage - 1);
  EFI_MEMORY_DESCRIPTOR d{};
  d.Type = type;
  d.PhysicalStart = first;
  d.VirtualStart = 0;
  d.NumberOfPages = (end - first) / kPage;
  d.Attribute = EFI_MEMORY_WB;
  memoryMap.push_back(d);
}

void Platform::InstallMpServices() {
  EFI_HANDLE h = nullptr;
  Install(&h, kMpServicesProtocolGuid, &mpServices_);
}

std::optional<EFI_STATUS> Platform::Inject(const std::string& call) {
  const uint32_t n = callCounts_[call]++;
  for (auto& r : failRules_) {
    if (r.call != call || n < r.skip) continue;
    if (r.times < 0 || n < r.skip + static_cast<uint32_t>(r.times)) return r.status;
  }
  return std::nullopt;
}

}  // namespace sim
