// A platform driver written in C: it calls TranslationProtocol through the
// public headers compiled as C (c_caller.c). The integration tests run it
// against AddrTranslateDxe on the simulated platform and compare with the
// same calls made from C++.
#pragma once

#include "channel_config_table.h"
#include "mem_tune_mailbox.h"
#include "platform_topology_protocol.h"
#include "translation_protocol.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef struct CRoundTrip {
  EFI_STATUS toNormalized;  // slot 2
  NormalizedAddress normalized;
  DramAddress dram;
  EFI_STATUS toSystem;  // slot 1, from `normalized`
  UINT64 system;
  DramAddress dramBack;
} CRoundTrip;

// Slot 2 on `systemAddress`, then slot 1 on what it gave.
void CCallerRoundTrip(const TranslationProtocol* tp, UINT64 systemAddress, CRoundTrip* out);
// Slot 5 for `processor`.
EFI_STATUS CCallerCapture(const TranslationProtocol* tp, McaBankSnapshot* snapshot,
                          UINT64 processor);

// The records' sizes and field offsets, each with its documented value, as
// rows SIZE(type, bytes) and FIELD(type, field, offset): both languages
// report them from this one list.
#define C_CALLER_LAYOUT_ROWS(SIZE, FIELD)             \
  SIZE(NormalizedAddress, 16)                         \
  FIELD(NormalizedAddress, normalizedAddr, 0)         \
  FIELD(NormalizedAddress, socketId, 8)               \
  FIELD(NormalizedAddress, dieId, 9)                  \
  FIELD(NormalizedAddress, channelId, 10)             \
  FIELD(NormalizedAddress, reserved, 11)              \
  SIZE(DramAddress, 12)                               \
  FIELD(DramAddress, chipSelect, 0)                   \
  FIELD(DramAddress, bank, 1)                         \
  FIELD(DramAddress, row, 4)                          \
  FIELD(DramAddress, col, 8)                          \
  FIELD(DramAddress, rankMul, 10)                     \
  SIZE(McaBankEntry, 80)                              \
  FIELD(McaBankEntry, msr1, 0x08)                     \
  FIELD(McaBankEntry, msr6, 0x30)                     \
  FIELD(McaBankEntry, msr8, 0x38)                     \
  FIELD(McaBankEntry, msrA, 0x48)                     \
  FIELD(McaBankSnapshot, processorInfo, 0x08)         \
  FIELD(McaBankSnapshot, bankCount, 0x10)             \
  FIELD(McaBankSnapshot, banks, 0x18)                 \
  SIZE(TranslationProtocol, 48)                       \
  FIELD(TranslationProtocol, NormalizedToSystem, 0)   \
  FIELD(TranslationProtocol, SystemToNormalized, 8)   \
  FIELD(TranslationProtocol, AppendBertRecord, 16)    \
  FIELD(TranslationProtocol, AddHestErrorSource, 24)  \
  FIELD(TranslationProtocol, CaptureMcaBanks, 32)     \
  FIELD(TranslationProtocol, AddHestErrorSources, 40) \
  SIZE(MemTuneMailbox, 0xCA)                          \
  FIELD(MemTuneMailbox, Status, 0x02)                 \
  FIELD(MemTuneMailbox, Sequence, 0x06)               \
  FIELD(MemTuneMailbox, Request, 0x0C)                \
  FIELD(MemTuneMailbox, Command, 0x10)                \
  FIELD(MemTuneMailbox, MemClock, 0x14)               \
  FIELD(MemTuneMailbox, Setting25, 0x21)              \
  FIELD(MemTuneMailbox, tRFC1, 0x26)                  \
  FIELD(MemTuneMailbox, Setting09, 0x46)              \
  FIELD(MemTuneMailbox, Setting3C, 0x74)              \
  FIELD(MemTuneMailbox, SetupOnly, 0x7D)              \
  FIELD(MemTuneMailbox, CallerC9, 0xC9)               \
  SIZE(ChannelConfigTable, 0xDE8)                     \
  FIELD(ChannelConfigTable, csPresent, 0x010)         \
  FIELD(ChannelConfigTable, bankHashCtl, 0x020)       \
  FIELD(ChannelConfigTable, csHashCtl, 0x1E0)         \
  FIELD(ChannelConfigTable, rmHashCtl, 0x260)         \
  FIELD(ChannelConfigTable, csBase, 0x320)            \
  FIELD(ChannelConfigTable, csBaseSec, 0x420)         \
  FIELD(ChannelConfigTable, csMask, 0x520)            \
  FIELD(ChannelConfigTable, csMaskSec, 0x5A0)         \
  FIELD(ChannelConfigTable, addrCfg, 0x620)           \
  FIELD(ChannelConfigTable, bankAddrSel, 0x720)       \
  FIELD(ChannelConfigTable, rowAddrSel, 0x7A0)        \
  FIELD(ChannelConfigTable, colAddrSelLo, 0x820)      \
  FIELD(ChannelConfigTable, colAddrSelHi, 0x8A0)      \
  FIELD(ChannelConfigTable, rmAddrSel, 0x920)         \
  FIELD(ChannelConfigTable, rmAddrSelSec, 0x9A0)      \
  FIELD(ChannelConfigTable, bankHashBits, 0xDE0)

// A row as C sees it ("Record" for a size, "Record.field" for an offset):
// `value` is the size or offset, `width` the bytes of the record or field.
// The list ends with a null name.
typedef struct CLayoutFact {
  const char* name;
  size_t value;
  size_t width;
} CLayoutFact;
extern const CLayoutFact kCLayoutFacts[];

// The headers' named constants; the language bridge spells them differently
// for C (static const objects) and C++ (inline constexpr).
#define C_CALLER_CONSTANTS(X)   \
  X(kInvalidAddress)            \
  X(TIV_CHANNEL_SLOTS)          \
  X(TIV_CHIP_SELECTS)           \
  X(TIV_BANK_HASH_WORDS)        \
  X(kMaxMcaBanks)               \
  X(kMailboxRequestPending)     \
  X(kMailboxCommandReadCurrent) \
  X(kMailboxCommandSetMemClock) \
  X(kMailboxCommandHoldSetup)   \
  X(kMailboxCommandReleaseSetup)

// Fills `values` with C_CALLER_CONSTANTS in their order, as C sees them.
void CCallerConstants(uint64_t* values);
// The protocol GUIDs as C sees them.
void CCallerGuids(EFI_GUID* translation, EFI_GUID* topology);

#ifdef __cplusplus
}
#endif
