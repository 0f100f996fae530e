#include "sim/smm/smm.h"

#include "registers/memory_controller.h"

#include <cstring>

namespace sim::smm {

using namespace mts::controller_reg;

namespace {

SmmState& Current() {
  return Smm(Platform::Current());
}

std::optional<EFI_STATUS> Called(const char* name) {
  auto& p = Platform::Current();
  p.calls.push_back(name);
  return p.Inject(name);
}

std::vector<EFI_SMRAM_DESCRIPTOR> ArenaRanges(const SmmState& s) {
  std::vector<EFI_SMRAM_DESCRIPTOR> out;
  uint64_t at = reinterpret_cast<uint64_t>(s.arena);
  for (uint64_t size : s.rangeSizes) {
    out.push_back({at, at, size, s.rangeState});
    at += size;
  }
  return out;
}

// ---- SMM system table ----

EFI_STATUS EFIAPI SmmAllocatePool(EFI_MEMORY_TYPE type, UINTN size, VOID** buffer) {
  if (auto f = Called("SmmAllocatePool")) return *f;
  if (buffer == nullptr) return EFI_INVALID_PARAMETER;
  SmmState& s = Current();
  const size_t need = (size + 15) & ~size_t(15);
  size_t at = 0;
  for (auto& [off, b] : s.blocks) {
    if (off >= at && off - at >= need + 16) break;
    at = (off + b.size + 15 + 16) & ~size_t(15);  // a gap between blocks
  }
  if (s.arena == nullptr || at + need > s.arenaSize) return EFI_OUT_OF_RESOURCES;
  s.blocks[at] = {type, size};
  std::memset(s.arena + at, 0xA5, size);  // never zeroed for the caller
  *buffer = s.arena + at;
  return EFI_SUCCESS;
}

EFI_STATUS EFIAPI SmmFreePool(VOID* buffer) {
  if (auto f = Called("SmmFreePool")) return *f;
  SmmState& s = Current();
  const auto* b = static_cast<const uint8_t*>(buffer);
  if (s.arena == nullptr || b < s.arena || b >= s.arena + s.arenaSize) return EFI_INVALID_PARAMETER;
  auto it = s.blocks.find(static_cast<size_t>(b - s.arena));
  if (it == s.blocks.end()) return EFI_INVALID_PARAMETER;
  s.blocks.erase(it);
  return EFI_SUCCESS;
}

EFI_STATUS EFIAPI SmmLocateProtocol(EFI_GUID* protocol, VOID*, VOID** iface) {
  if (auto f = Called("SmmLocateProtocol")) {
    if (iface) *iface = nullptr;
    return *f;
  }
  if (protocol == nullptr || iface == nullptr) return EFI_INVALID_PARAMETER;
  *iface = SmmFind(Platform::Current(), *protocol);
  return *iface ? EFI_SUCCESS : EFI_NOT_FOUND;
}

EFI_STATUS EFIAPI SmmInstallProtocolInterface(EFI_HANDLE* handle, EFI_GUID* protocol,
                                              EFI_INTERFACE_TYPE, VOID* iface) {
  if (auto f = Called("SmmInstallProtocolInterface")) return *f;
  if (handle == nullptr || protocol == nullptr) return EFI_INVALID_PARAMETER;
  if (*handle == nullptr) *handle = Platform::Current().NewHandle();
  SmmInstall(Platform::Current(), *protocol, iface);
  return EFI_SUCCESS;
}

// ---- SMM base 2 and access 2 ----

EFI_STATUS EFIAPI InSmm(EFI_SMM_BASE2_PROTOCOL*, BOOLEAN* inSmram) {
  if (auto f = Called("InSmm")) return *f;
  if (inSmram == nullptr) return EFI_INVALID_PARAMETER;
  *inSmram = TRUE;  // the driver's code runs from SMRAM
  return EFI_SUCCESS;
}

EFI_STATUS EFIAPI GetSmstLocation(EFI_SMM_BASE2_PROTOCOL*, EFI_SMM_SYSTEM_TABLE2** smst) {
  if (auto f = Called("GetSmstLocation")) return *f;
  if (smst == nullptr) return EFI_INVALID_PARAMETER;
  *smst = &Current().smst;
  return EFI_SUCCESS;
}

EFI_STATUS EFIAPI SmramOpen(EFI_SMM_ACCESS2_PROTOCOL* self) {
  if (auto f = Called("SmramOpen")) return *f;
  if (self->LockState) return EFI_DEVICE_ERROR;
  self->OpenState = TRUE;
  return EFI_SUCCESS;
}
EFI_STATUS EFIAPI SmramClose(EFI_SMM_ACCESS2_PROTOCOL* self) {
  if (auto f = Called("SmramClose")) return *f;
  self->OpenState = FALSE;
  return EFI_SUCCESS;
}
EFI_STATUS EFIAPI SmramLock(EFI_SMM_ACCESS2_PROTOCOL* self) {
  if (auto f = Called("SmramLock")) return *f;
  self->LockState = TRUE;
  return EFI_SUCCESS;
}

EFI_STATUS EFIAPI GetCapabilities(const EFI_SMM_ACCESS2_PROTOCOL*, UINTN* size,
                                  EFI_SMRAM_DESCRIPTOR* map) {
  if (auto f = Called("GetCapabilities")) return *f;
  if (size == nullptr) return EFI_INVALID_PARAMETER;
  SmmState& s = Current();
  const auto ranges = s.reportedRanges ? *s.reportedRanges : ArenaRanges(s);
  const UINTN need = ranges.size() * sizeof(EFI_SMRAM_DESCRIPTOR);
  if (*size < need || map == nullptr) {
    *size = need;
    return EFI_BUFFER_TOO_SMALL;
  }
  *size = need;
  if (need) std::memcpy(map, ranges.data(), need);
  return EFI_SUCCESS;
}

// ---- software-SMI dispatch ----

EFI_STATUS EFIAPI SwSmiRegister(SW_SMI_DISPATCH_PROTOCOL*, EFI_SMM_HANDLER_ENTRY_POINT2 handler,
                                SW_SMI_REGISTER_CONTEXT* context, EFI_HANDLE* handle) {
  if (auto f = Called("SwSmiRegister")) return *f;
  if (handler == nullptr || context == nullptr || handle == nullptr) return EFI_INVALID_PARAMETER;
  SmmState& s = Current();
  if (context->SwSmiInputValue > s.swDispatch.MaximumSwiValue) return EFI_INVALID_PARAMETER;
  for (auto& r : s.registrations)
    if (r.context.SwSmiInputValue == context->SwSmiInputValue) return EFI_INVALID_PARAMETER;
  *handle = Platform::Current().NewHandle();
  s.registrations.push_back({handler, *context, *handle});  // the context is copied
  return EFI_SUCCESS;
}

EFI_STATUS EFIAPI SwSmiUnRegister(SW_SMI_DISPATCH_PROTOCOL*, EFI_HANDLE handle) {
  if (auto f = Called("SwSmiUnRegister")) return *f;
  auto& regs = Current().registrations;
  for (auto it = regs.begin(); it != regs.end(); ++it) {
    if (it->handle == handle) {
      regs.erase(it);
      return EFI_SUCCESS;
    }
  }
  return EFI_INVALID_PARAMETER;
}

// The chipset's SMI command port: a write raises a software SMI whose input
// value is the byte written.
class SmiCommandPort : public IoDevice {
 public:
  uint32_t Read(uint16_t, uint8_t) override { return last_; }
  void Write(uint16_t, uint8_t, uint32_t value) override {
    last_ = value & 0xFF;
    SmmState& s = Current();
    struct {
      UINTN SwSmiCpuIndex;
      UINT8 CommandPort;
      UINT8 DataPort;
    } comm{Platform::Current().currentCpu, static_cast<UINT8>(last_), 0};
    const auto regs = s.registrations;  // a handler may register or unregister
    for (const auto& r : regs) {
      if (r.context.SwSmiInputValue != last_) continue;
      UINTN commSize = sizeof comm;
      s.smiResults.push_back(r.handler(r.handle, &r.context, &comm, &commSize));
    }
  }

 private:
  uint32_t last_ = 0;
};

// ---- SMM variable protocol ----

std::u16string NameOf(const CHAR16* name) {
  std::u16string out;
  for (; *name; ++name) out.push_back(static_cast<char16_t>(*name));
  return out;
}

EFI_STATUS EFIAPI SmmGetVariable(CHAR16* name, EFI_GUID* guid, UINT32* attributes, UINTN* size,
                                 VOID* data) {
  if (auto f = Called("SmmGetVariable")) return *f;
  if (name == nullptr || guid == nullptr || size == nullptr) return EFI_INVALID_PARAMETER;
  Variable* v = FindVariable(Platform::Current(), NameOf(name), *guid);
  if (v == nullptr) return EFI_NOT_FOUND;
  if (*size < v->data.size()) {
    *size = v->data.size();
    return EFI_BUFFER_TOO_SMALL;
  }
  if (data == nullptr && !v->data.empty()) return EFI_INVALID_PARAMETER;
  *size = v->data.size();
  if (!v->data.empty()) std::memcpy(data, v->data.data(), v->data.size());
  if (attributes) *attributes = v->attributes;
  return EFI_SUCCESS;
}

EFI_STATUS EFIAPI SmmGetNextVariableName(UINTN*, CHAR16*, EFI_GUID*) {
  throw Unsupported("SmmGetNextVariableName is not simulated");
}

EFI_STATUS EFIAPI SmmSetVariable(CHAR16* name, EFI_GUID* guid, UINT32 attributes, UINTN size,
                                 VOID* data) {
  if (auto f = Called("SmmSetVariable")) return *f;
  if (name == nullptr || guid == nullptr || *name == 0) return EFI_INVALID_PARAMETER;
  if (size != 0 && data == nullptr) return EFI_INVALID_PARAMETER;
  auto& p = Platform::Current();
  SmmState& s = Current();
  const std::u16string n = NameOf(name);
  if (size == 0 || attributes == 0) {  // deletion
    for (auto it = s.store.begin(); it != s.store.end(); ++it) {
      if (it->name == n && uefi::SameGuid(it->guid, *guid)) {
        s.store.erase(it);
        return EFI_SUCCESS;
      }
    }
    return EFI_NOT_FOUND;
  }
  const auto* bytes = static_cast<const uint8_t*>(data);
  SetVariable(p, n, *guid, attributes, std::vector<uint8_t>(bytes, bytes + size));
  s.variableWrites.push_back(*FindVariable(p, n, *guid));
  return EFI_SUCCESS;
}

EFI_STATUS EFIAPI SmmQueryVariableInfo(UINT32, UINT64*, UINT64*, UINT64*) {
  throw Unsupported("SmmQueryVariableInfo is not simulated");
}

// ---- configuration-token service ----

EFI_STATUS RecordToken(uint8_t width, UINT8 selector, UINT32 token, uint32_t value) {
  auto& p = Platform::Current();
  p.calls.push_back("ConfigTokenWrite");
  SmmState& s = Current();
  EFI_STATUS status = EFI_SUCCESS;
  if (auto f = p.Inject("ConfigTokenWrite")) status = *f;
  if (status == EFI_SUCCESS) s.tokenValues[token] = value;
  s.tokenWrites.push_back({width, selector, token, value, status});
  if (s.onTokenWrite) s.onTokenWrite(s.tokenWrites.back());
  return status;
}

EFI_STATUS EFIAPI TokenWrite8(mts::ConfigTokenService*, UINT8 sel, UINT32 token, UINT8 v) {
  return RecordToken(1, sel, token, v);
}
EFI_STATUS EFIAPI TokenWrite16(mts::ConfigTokenService*, UINT8 sel, UINT32 token, UINT16 v) {
  return RecordToken(2, sel, token, v);
}
EFI_STATUS EFIAPI TokenWrite32(mts::ConfigTokenService*, UINT8 sel, UINT32 token, UINT32 v) {
  return RecordToken(4, sel, token, v);
}

}  // namespace

PageBlock AllocatePages(size_t bytes) {
  const size_t rounded = (bytes + kPageBytes - 1) / kPageBytes * kPageBytes;
  auto* block =
      static_cast<uint8_t*>(std::aligned_alloc(kPageBytes, rounded ? rounded : kPageBytes));
  if (block == nullptr) std::abort();
  std::memset(block, 0, rounded ? rounded : kPageBytes);
  return PageBlock(block);
}

SmmState& Smm(Platform& p) {
  SmmState& s = p.Extension<SmmState>();
  if (s.ready) return s;
  s.ready = true;
  s.smst.Hdr.Signature = kSmmSystemTableSignature;
  s.smst.Hdr.HeaderSize = sizeof(EFI_SMM_SYSTEM_TABLE2);
  s.smst.SmmAllocatePool = SmmAllocatePool;
  s.smst.SmmFreePool = SmmFreePool;
  s.smst.SmmLocateProtocol = SmmLocateProtocol;
  s.smst.SmmInstallProtocolInterface = SmmInstallProtocolInterface;
  s.smst.NumberOfCpus = p.cpus.size();
  s.base2.InSmm = InSmm;
  s.base2.GetSmstLocation = GetSmstLocation;
  s.access2.Open = SmramOpen;
  s.access2.Close = SmramClose;
  s.access2.Lock = SmramLock;
  s.access2.GetCapabilities = GetCapabilities;
  s.swDispatch.Register = SwSmiRegister;
  s.swDispatch.UnRegister = SwSmiUnRegister;
  s.swDispatch.MaximumSwiValue = 0xFF;
  s.variables.SmmGetVariable = SmmGetVariable;
  s.variables.SmmGetNextVariableName = SmmGetNextVariableName;
  s.variables.SmmSetVariable = SmmSetVariable;
  s.variables.SmmQueryVariableInfo = SmmQueryVariableInfo;
  std::memset(s.tokens.OtherOperations, 0, sizeof s.tokens.OtherOperations);
  s.tokens.Write8 = TokenWrite8;
  s.tokens.Write16 = TokenWrite16;
  s.tokens.Write32 = TokenWrite32;
  s.shared = AllocatePages(kSharedBytes);
  p.DescribeMemory(reinterpret_cast<uint64_t>(s.shared.get()), kPageBytes, EfiReservedMemoryType);
  return s;
}

void InstallSmm(Platform& p, const std::vector<uint64_t>& rangeSizes) {
  SmmState& s = Smm(p);
  const bool first = s.arena == nullptr;
  size_t total = 0;
  for (uint64_t r : rangeSizes) total += r;
  if (!first) {
    const uint64_t old = reinterpret_cast<uint64_t>(s.smramBlock.get());
    std::erase_if(p.memoryMap,
                  [old](const EFI_MEMORY_DESCRIPTOR& d) { return d.PhysicalStart == old; });
  }
  s.smramBlock = AllocatePages(kSmramLeadInBytes + total);
  s.arena = s.smramBlock.get() + kSmramLeadInBytes;
  s.arenaSize = total;
  p.DescribeMemory(reinterpret_cast<uint64_t>(s.smramBlock.get()), kSmramLeadInBytes + total,
                   EfiReservedMemoryType);
  s.rangeSizes = rangeSizes;
  s.blocks.clear();
  if (!first) return;
  EFI_HANDLE h = nullptr;
  p.Install(&h, kSmmBase2ProtocolGuid, &s.base2);
  h = nullptr;
  p.Install(&h, kSmmAccess2ProtocolGuid, &s.access2);
  p.AttachIo(kSmiCommandPort, 1, std::make_shared<SmiCommandPort>());
}

void InstallSwSmiDispatch(Platform& p) {
  SmmState& s = Smm(p);
  if (s.swDispatchInstalled) return;
  s.swDispatchInstalled = true;
  SmmInstall(p, kSwSmiDispatchProtocolGuid, &s.swDispatch);
}

void InstallVariableProtocol(Platform& p) {
  SmmState& s = Smm(p);
  if (s.variablesInstalled) return;
  s.variablesInstalled = true;
  SmmInstall(p, kSmmVariableProtocolGuid, &s.variables);
}

void InstallConfigTokenService(Platform& p) {
  SmmState& s = Smm(p);
  if (s.tokensInstalled) return;
  s.tokensInstalled = true;
  SmmInstall(p, mts::kConfigTokenServiceGuid, &s.tokens);
}

void InstallMemTuneProvider(Platform& p) {
  SmmState& s = Smm(p);
  if (s.providerInstalled) return;
  s.providerInstalled = true;
  s.provider.Revision = 1;
  s.provider.MailboxAddress = reinterpret_cast<uint64_t>(Mailbox(p));
  s.provider.SettingsRecordAddress = reinterpret_cast<uint64_t>(SettingsRecord(p));
  EFI_HANDLE h = nullptr;
  p.Install(&h, mts::kMemTuneProviderGuid, &s.provider);
}

void SmmInstall(Platform& p, const EFI_GUID& guid, void* iface) {
  Smm(p).protocols.push_back({guid, iface});
}

void* SmmFind(Platform& p, const EFI_GUID& guid) {
  for (auto& [g, iface] : Smm(p).protocols)
    if (uefi::SameGuid(g, guid)) return iface;
  return nullptr;
}

size_t SmramOutstandingBlocks(Platform& p) {
  return Smm(p).blocks.size();
}

std::optional<SmramBlock> SmramBlockOf(Platform& p, const void* ptr) {
  SmmState& s = Smm(p);
  const auto* b = static_cast<const uint8_t*>(ptr);
  if (s.arena == nullptr || b < s.arena || b >= s.arena + s.arenaSize) return std::nullopt;
  auto it = s.blocks.find(static_cast<size_t>(b - s.arena));
  if (it == s.blocks.end()) return std::nullopt;
  return it->second;
}

uint8_t* SmramBase(Platform& p) {
  return Smm(p).arena;
}

void RaiseSwSmi(Platform& p, uint8_t value) {
  p.IoWrite(kSmiCommandPort, 1, value);
}

MemTuneMailbox* Mailbox(Platform& p) {
  return reinterpret_cast<MemTuneMailbox*>(Smm(p).shared.get());
}
uint8_t* SettingsRecord(Platform& p) {
  return Smm(p).shared.get() + kMailboxBytes;
}
uint8_t* SharedMemory(Platform& p) {
  return Smm(p).shared.get();
}

Variable* FindVariable(Platform& p, const std::u16string& name, const EFI_GUID& guid) {
  for (auto& v : Smm(p).store)
    if (v.name == name && uefi::SameGuid(v.guid, guid)) return &v;
  return nullptr;
}

void SetVariable(Platform& p, const std::u16string& name, const EFI_GUID& guid, uint32_t attributes,
                 std::vector<uint8_t> data) {
  if (Variable* v = FindVariable(p, name, guid)) {
    v->attributes = attributes;
    v->data = std::move(data);
    return;
  }
  Smm(p).store.push_back({name, guid, attributes, std::move(data)});
}

// ---- memory controller ----

uint32_t IndexDataFunction::ConfigRead32(uint16_t offset) {
  offset &= ~3u;
  if (offset == kIndexRegister) return index;
  if (offset == kDataRegister) {
    auto it = indirect_.find(index);
    return it == indirect_.end() ? 0 : it->second;
  }
  auto it = config_.find(offset);
  return it == config_.end() ? 0xFFFFFFFF : it->second;
}

void IndexDataFunction::ConfigWrite32(uint16_t offset, uint32_t value) {
  offset &= ~3u;
  if (offset == kIndexRegister)
    index = value;
  else if (offset == kDataRegister)
    indirect_[index] = value;
  else
    config_[offset] = value;
}

IndexDataFunction& MemoryController(Platform& p, uint8_t bus) {
  if (auto* f = dynamic_cast<IndexDataFunction*>(p.Pci(bus, 0, 0))) return *f;
  auto f = std::make_shared<IndexDataFunction>();
  p.AttachPci(bus, 0, 0, f);
  return *f;
}

void SetChannelRegister(Platform& p, uint8_t bus, uint32_t channel, uint32_t reg, uint32_t value) {
  MemoryController(p, bus).SetIndirect(ChannelBlock(channel) + reg, value);
}

void SetNode(Platform& p, uint8_t device, uint16_t vendorId, uint8_t bus) {
  auto* regs = dynamic_cast<RegisterFile*>(p.Pci(0, device, 0));
  if (regs == nullptr) {
    auto f = std::make_shared<RegisterFile>(0xFFFFFFFF);
    regs = f.get();
    p.AttachPci(0, device, 0, f);
  }
  const auto& known = regs->Registers();
  const uint32_t old = known.count(0) ? regs->ConfigRead32(0) & 0xFFFF0000u : 0;
  regs->Set(0, old | vendorId);
  const uint32_t oldBus =
      known.count(kBusNumberRegister) ? regs->ConfigRead32(kBusNumberRegister) & ~0xFFu : 0;
  regs->Set(kBusNumberRegister, oldBus | bus);
}

void SetProcessorSignature(Platform& p, uint32_t eax) {
  for (auto& cpu : p.cpus) cpu.cpuid[0x80000001].eax = eax;
}

}  // namespace sim::smm
