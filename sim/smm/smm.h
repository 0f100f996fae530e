// The SMM side of the simulated platform: SMRAM with its own pools, the SMM
// system table, EFI_SMM_BASE2_PROTOCOL and EFI_SMM_ACCESS2_PROTOCOL, the
// software-SMI dispatch protocol behind the SMI command port 0xB2, the SMM
// variable protocol over a variable store, the configuration-token service,
// the mailbox provider, and the memory-controller index/data registers.
//
// State lives in the platform (Platform::Extension<SmmState>); the services'
// function pointers act on the current platform. Every service calls
// Platform::Inject with its name, so any of them can be made to fail:
// "GetSmstLocation", "GetCapabilities", "SmmAllocatePool", "SmmFreePool",
// "SmmLocateProtocol", "SwSmiRegister", "SmmGetVariable", "SmmSetVariable",
// "ConfigTokenWrite".
#pragma once

#include "config_token_service.h"
#include "mem_tune_provider.h"
#include "mem_tune_mailbox.h"
#include "pi/smm_access2.h"
#include "pi/smm_base2.h"
#include "pi/smm_sw_dispatch.h"
#include "pi/smm_system_table.h"
#include "pi/smm_variable.h"
#include "sim/platform/platform.h"

#include <cstdint>
#include <cstdlib>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace sim::smm {

inline constexpr uint16_t kSmiCommandPort = 0xB2;
inline constexpr size_t kMailboxBytes = 0x100;
inline constexpr size_t kSettingsBytes = 0x100;
inline constexpr size_t kPageBytes = 0x1000;
// Reserved memory right below SMRAM, part of the same host block.
inline constexpr size_t kSmramLeadInBytes = kPageBytes;
// The shared memory: two pages; the mailbox and the settings record sit in
// the first, which the memory map describes as reserved memory. The second
// is host memory the map does not describe until a test does.
inline constexpr size_t kSharedBytes = 2 * kPageBytes;

struct PageBlockFree {
  void operator()(uint8_t* p) const { std::free(p); }
};
using PageBlock = std::unique_ptr<uint8_t[], PageBlockFree>;
// A zero-filled, page-aligned host block.
PageBlock AllocatePages(size_t bytes);

struct TokenWrite {
  uint8_t width;  // bytes: 1, 2 or 4
  uint8_t selector;
  uint32_t token;
  uint32_t value;
  EFI_STATUS status;
  bool operator==(const TokenWrite& o) const {
    return width == o.width && selector == o.selector && token == o.token && value == o.value &&
           status == o.status;
  }
};

struct SwSmiRegistration {
  EFI_SMM_HANDLER_ENTRY_POINT2 handler;
  SW_SMI_REGISTER_CONTEXT context;
  EFI_HANDLE handle;
};

struct Variable {
  std::u16string name;
  EFI_GUID guid;
  uint32_t attributes;
  std::vector<uint8_t> data;
};

struct SmramBlock {
  EFI_MEMORY_TYPE type;
  size_t size;
};

struct SmmState {
  bool ready = false;
  EFI_SMM_SYSTEM_TABLE2 smst{};
  EFI_SMM_BASE2_PROTOCOL base2{};
  EFI_SMM_ACCESS2_PROTOCOL access2{};
  SW_SMI_DISPATCH_PROTOCOL swDispatch{};
  EFI_SMM_VARIABLE_PROTOCOL variables{};
  mts::ConfigTokenService tokens{};
  mts::MemTuneProvider provider{};

  // SMRAM: one host arena, described as consecutive ranges, after a lead-in
  // page of reserved memory in the same host block (records that start below
  // SMRAM and reach into it stay in host memory). Both are reserved memory
  // in the memory map.
  PageBlock smramBlock;
  uint8_t* arena = nullptr;  // the start of SMRAM
  size_t arenaSize = 0;
  std::vector<uint64_t> rangeSizes;
  uint64_t rangeState = kSmramClosed | kSmramLocked | kSmramCacheable;
  // When set, GetCapabilities reports these instead of the arena's ranges.
  std::optional<std::vector<EFI_SMRAM_DESCRIPTOR>> reportedRanges;
  std::map<size_t, SmramBlock> blocks;  // arena offset -> block

  // Protocols installed in the SMM protocol database, in order.
  std::vector<std::pair<EFI_GUID, void*>> protocols;
  // Which of the services are installed (for profile dumps).
  bool swDispatchInstalled = false, variablesInstalled = false, tokensInstalled = false,
       providerInstalled = false;

  std::vector<SwSmiRegistration> registrations;
  std::vector<EFI_STATUS> smiResults;  // handler results, one per call

  std::vector<Variable> store;
  std::vector<Variable> variableWrites;  // every successful SmmSetVariable

  std::vector<TokenWrite> tokenWrites;       // every write call, failed ones included
  std::map<uint32_t, uint32_t> tokenValues;  // stored tokens
  // Called after each recorded token write (tests use it to act "during" an
  // SMI, as another processor or a device would).
  std::function<void(const TokenWrite&)> onTokenWrite;

  // Shared memory outside SMRAM: the mailbox and the settings record.
  PageBlock shared;
};

// The platform's SMM state, its tables set up on first use.
SmmState& Smm(Platform& p);

// SMRAM of the given range sizes (replaces any earlier arena, and its
// reserved-memory descriptor in the memory map); installs
// EFI_SMM_BASE2_PROTOCOL and EFI_SMM_ACCESS2_PROTOCOL in the boot-services
// protocol database and attaches the SMI command port.
void InstallSmm(Platform& p, const std::vector<uint64_t>& rangeSizes = {0x100000});
void InstallSwSmiDispatch(Platform& p);
void InstallVariableProtocol(Platform& p);
void InstallConfigTokenService(Platform& p);
// Publishes MemTuneProvider with the simulator's mailbox and settings record
// (both zero-filled, outside SMRAM, in the first shared page, which the
// memory map describes as reserved memory).
void InstallMemTuneProvider(Platform& p);

// Protocols in the SMM database.
void SmmInstall(Platform& p, const EFI_GUID& guid, void* iface);
void* SmmFind(Platform& p, const EFI_GUID& guid);

// SMRAM pools, accounted apart from the boot-services pools.
size_t SmramOutstandingBlocks(Platform& p);
std::optional<SmramBlock> SmramBlockOf(Platform& p, const void* ptr);
// The start of the SMRAM arena (tests point addresses into it).
uint8_t* SmramBase(Platform& p);

// Writes `value` to the SMI command port: each handler registered for it runs.
void RaiseSwSmi(Platform& p, uint8_t value);

MemTuneMailbox* Mailbox(Platform& p);
uint8_t* SettingsRecord(Platform& p);
// The two shared pages (the first holds the mailbox and the settings record).
uint8_t* SharedMemory(Platform& p);

// Variable store.
Variable* FindVariable(Platform& p, const std::u16string& name, const EFI_GUID& guid);
void SetVariable(Platform& p, const std::u16string& name, const EFI_GUID& guid, uint32_t attributes,
                 std::vector<uint8_t> data);

// ---- memory controller ------------------------------------------------------

// Device 0 function 0 of a bus: the index register 0xB8 selects a register of
// the indirect space, the data register 0xBC reads (or writes) it. Other
// configuration registers act as a plain register file.
class IndexDataFunction : public PciFunction {
 public:
  uint32_t ConfigRead32(uint16_t offset) override;
  void ConfigWrite32(uint16_t offset, uint32_t value) override;
  void SetIndirect(uint32_t address, uint32_t value) { indirect_[address] = value; }
  const std::map<uint32_t, uint32_t>& Indirect() const { return indirect_; }
  uint32_t index = 0;

 private:
  std::map<uint32_t, uint32_t> indirect_;  // absent registers read 0
  std::map<uint16_t, uint32_t> config_;
};

// The index/data function of `bus`, attached on first use.
IndexDataFunction& MemoryController(Platform& p, uint8_t bus);
// Register R of memory channel n on `bus` (indirect 0x50000 + n * 0x100000 + R).
void SetChannelRegister(Platform& p, uint8_t bus, uint32_t channel, uint32_t reg, uint32_t value);
// Vendor id and bus-number register (0x84) of device 0x18-0x1F, bus 0, fn 0.
void SetNode(Platform& p, uint8_t device, uint16_t vendorId, uint8_t bus);
// CPUID 0x80000001 EAX on every processor.
void SetProcessorSignature(Platform& p, uint32_t eax);

}  // namespace sim::smm
