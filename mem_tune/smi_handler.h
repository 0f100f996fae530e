// MemTuneSmiHandler: serves the shared mailbox on software SMI 0x9D.
#pragma once

#include "efi/uefi.h"
#include "mem_tune/mailbox_field.h"
#include "mem_tune_mailbox.h"

#include <cstdint>

namespace mts {

// A set command that writes configuration tokens: the value field it takes,
// the item written with 1 first (0: none) and the item written with the value.
struct DispatchRow {
  uint32_t command;
  MailboxField value;
  uint16_t enableItem;
  uint16_t item;
};

constexpr uint16_t kMemClockItem = 12;

// Commands, items and fields do not run in one order (0x10 takes tRP, 0x20
// tRAS); commands compare as whole values.
constexpr DispatchRow kDispatchTable[] = {
    {0x2, MTS_MAILBOX_FIELD(tCL), 0, 13},
    {0x4, MTS_MAILBOX_FIELD(tRCDRD), 0, 14},
    {0x8, MTS_MAILBOX_FIELD(tRCDWR), 0, 15},
    {0x10, MTS_MAILBOX_FIELD(tRP), 0, 16},
    {0x20, MTS_MAILBOX_FIELD(tRAS), 0, 17},
    {0x3000, MTS_MAILBOX_FIELD(Setting25), 0, 57},
    {0x4000, MTS_MAILBOX_FIELD(tREFI), 44, 45},
    {0x5000, MTS_MAILBOX_FIELD(tRC), 34, 35},
    {0x6000, MTS_MAILBOX_FIELD(tRFC1), 50, 51},
    {0x7000, MTS_MAILBOX_FIELD(tRFC2), 52, 53},
    {0x8000, MTS_MAILBOX_FIELD(tRFC4), 54, 55},
    {0x9000, MTS_MAILBOX_FIELD(tFAW), 38, 39},
    {0xA000, MTS_MAILBOX_FIELD(tRRDS), 0, 36},
    {0xB000, MTS_MAILBOX_FIELD(tRRDL), 0, 37},
    {0xC000, MTS_MAILBOX_FIELD(tWR), 42, 43},
    {0xD000, MTS_MAILBOX_FIELD(tWTRS), 0, 40},
    {0xE000, MTS_MAILBOX_FIELD(tWTRL), 0, 41},
    {0xF000, MTS_MAILBOX_FIELD(tCKE), 0, 72},
    {0x10000, MTS_MAILBOX_FIELD(tCWL), 0, 67},
    {0x20000, MTS_MAILBOX_FIELD(tRTP), 0, 66},
    {0x30000, MTS_MAILBOX_FIELD(tRDRDSD), 0, 58},
    {0x40000, MTS_MAILBOX_FIELD(tRDRDDD), 46, 47},
    {0x50000, MTS_MAILBOX_FIELD(tRDRDSC), 0, 59},
    {0x60000, MTS_MAILBOX_FIELD(tRDRDSCL), 0, 60},
    {0x70000, MTS_MAILBOX_FIELD(tWRWRSD), 0, 61},
    {0x80000, MTS_MAILBOX_FIELD(tWRWRDD), 48, 49},
    {0x90000, MTS_MAILBOX_FIELD(tWRWRSC), 0, 62},
    {0xA0000, MTS_MAILBOX_FIELD(tWRWRSCL), 0, 63},
    {0xB0000, MTS_MAILBOX_FIELD(tRDWR), 0, 64},
    {0xC0000, MTS_MAILBOX_FIELD(tWRRD), 0, 65},
    {0xD0000, MTS_MAILBOX_FIELD(GearDownMode), 0, 77},
    {0xE0000, MTS_MAILBOX_FIELD(Cmd2T), 0, 76},
    {0xF0000, MTS_MAILBOX_FIELD(Setting22), 68, 69},
    {0x100000, MTS_MAILBOX_FIELD(Setting23), 68, 70},
    {0x200000, MTS_MAILBOX_FIELD(Setting24), 68, 71},
    {0x300000, MTS_MAILBOX_FIELD(PowerDown), 0, 80},
    {0x600000, MTS_MAILBOX_FIELD(Setting18), 0, 90},
    {0x700000, MTS_MAILBOX_FIELD(Setting20), 74, 75},
    {0x800000, MTS_MAILBOX_FIELD(Setting19[0]), 81, 82},
    {0x900000, MTS_MAILBOX_FIELD(Setting19[1]), 81, 83},
    {0xA00000, MTS_MAILBOX_FIELD(Setting19[2]), 81, 84},
    {0xB00000, MTS_MAILBOX_FIELD(Setting19[3]), 85, 86},
    {0xC00000, MTS_MAILBOX_FIELD(Setting19[4]), 85, 87},
    {0xD00000, MTS_MAILBOX_FIELD(Setting19[5]), 85, 88},
    {0xE00000, MTS_MAILBOX_FIELD(Setting19[6]), 85, 89},
    {0x100001, MTS_MAILBOX_FIELD(Setting2C), 0, 5},
    {0x100002, MTS_MAILBOX_FIELD(Setting30), 0, 6},
    {0x100009, MTS_MAILBOX_FIELD(Option7C), 0, 18},
};
static_assert(sizeof(kDispatchTable) / sizeof(kDispatchTable[0]) == 48);

constexpr const DispatchRow* FindDispatchRow(uint32_t command) {
  for (const DispatchRow& r : kDispatchTable)
    if (r.command == command) return &r;
  return nullptr;
}

// The software-SMI handler. Its arguments are those of every SMI handler and
// are not used.
EFI_STATUS EFIAPI MemTuneSmiHandler(EFI_HANDLE dispatchHandle, const VOID* context,
                                    VOID* commBuffer, UINTN* commBufferSize);

}  // namespace mts
