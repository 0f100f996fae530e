// Setup-variable update: every set command is also recorded in the firmware
// setup variable TivSetup, so the setup options agree with the tuned values.
#pragma once

#include "efi/uefi.h"
#include "mem_tune/mailbox_field.h"
#include "mem_tune_mailbox.h"
#include "tiv_setup.h"

#include <cstdint>

namespace mts {

constexpr UINTN kSetupReadBufferSize = 1712;
constexpr uint16_t kSetupMarkerOffset = 0xE6;
constexpr uint16_t kSetupMemClockOffset = 0xE7;
constexpr uint16_t kNoEnableByte = 0xFFFF;

// A command's option: the mailbox field it takes (none: the command changes
// nothing), the setup offset and width it is stored at (a narrower option
// takes the field's low bytes), and the enable byte set to 1 before it.
struct SetupCommandRow {
  uint32_t command;
  MailboxField value;
  uint16_t setupOffset;
  uint8_t setupWidth;
  uint16_t enableOffset;
};

constexpr SetupCommandRow kSetupCommandTable[] = {
    {0x1, MTS_MAILBOX_FIELD(MemClock), kSetupMemClockOffset, 1, kNoEnableByte},  // MemClockTable
    {0x2, MTS_MAILBOX_FIELD(tCL), 0x0E8, 1, kNoEnableByte},
    {0x4, MTS_MAILBOX_FIELD(tRCDRD), 0x0E9, 1, kNoEnableByte},
    {0x8, MTS_MAILBOX_FIELD(tRCDWR), 0x0EA, 1, kNoEnableByte},
    {0x10, MTS_MAILBOX_FIELD(tRP), 0x0EB, 1, kNoEnableByte},
    {0x20, MTS_MAILBOX_FIELD(tRAS), 0x0EC, 1, kNoEnableByte},
    {0x3000, MTS_MAILBOX_FIELD(Setting25), 0x112, 1, kNoEnableByte},  // its low byte
    {0x4000, MTS_MAILBOX_FIELD(tREFI), 0x0F8, 2, 0x0F7},
    {0x5000, MTS_MAILBOX_FIELD(tRC), 0x0EE, 1, 0x0ED},
    {0x6000, MTS_MAILBOX_FIELD(tRFC1), 0x0FF, 2, 0x0FE},
    {0x7000, MTS_MAILBOX_FIELD(tRFC2), 0x102, 2, 0x101},
    {0x8000, MTS_MAILBOX_FIELD(tRFC4), 0x105, 2, 0x104},
    {0x9000, MTS_MAILBOX_FIELD(tFAW), 0x0F2, 1, 0x0F1},
    {0xA000, MTS_MAILBOX_FIELD(tRRDS), 0x0EF, 1, kNoEnableByte},
    {0xB000, MTS_MAILBOX_FIELD(tRRDL), 0x0F0, 1, kNoEnableByte},
    {0xC000, MTS_MAILBOX_FIELD(tWR), 0x0F6, 1, 0x0F5},
    {0xD000, MTS_MAILBOX_FIELD(tWTRS), 0x0F3, 1, kNoEnableByte},
    {0xE000, MTS_MAILBOX_FIELD(tWTRL), 0x0F4, 1, kNoEnableByte},
    {0xF000, MTS_MAILBOX_FIELD(tCKE), 0x109, 1, kNoEnableByte},
    {0x10000, MTS_MAILBOX_FIELD(tCWL), 0x107, 1, kNoEnableByte},
    {0x20000, MTS_MAILBOX_FIELD(tRTP), 0x108, 1, kNoEnableByte},
    {0x30000, MTS_MAILBOX_FIELD(tRDRDSD), 0x10F, 1, kNoEnableByte},
    {0x40000, MTS_MAILBOX_FIELD(tRDRDDD), 0x0FB, 1, 0x0FA},
    {0x50000, MTS_MAILBOX_FIELD(tRDRDSC), 0x110, 1, kNoEnableByte},
    {0x60000, MTS_MAILBOX_FIELD(tRDRDSCL), 0x111, 1, kNoEnableByte},
    {0x70000, MTS_MAILBOX_FIELD(tWRWRSD), 0x10C, 1, kNoEnableByte},
    {0x80000, MTS_MAILBOX_FIELD(tWRWRDD), 0x0FD, 1, 0x0FC},
    {0x90000, MTS_MAILBOX_FIELD(tWRWRSC), 0x10D, 1, kNoEnableByte},
    {0xA0000, MTS_MAILBOX_FIELD(tWRWRSCL), 0x10E, 1, kNoEnableByte},
    {0xB0000, MTS_MAILBOX_FIELD(tRDWR), 0x10A, 1, kNoEnableByte},
    {0xC0000, MTS_MAILBOX_FIELD(tWRRD), 0x10B, 1, kNoEnableByte},
    {0xD0000, MTS_MAILBOX_FIELD(GearDownMode), 0x114, 1, kNoEnableByte},
    {0xE0000, MTS_MAILBOX_FIELD(Cmd2T), 0x113, 1, kNoEnableByte},
    {0xF0000, MTS_MAILBOX_FIELD(Setting22), 0x127, 1, 0x126},
    {0x100000, MTS_MAILBOX_FIELD(Setting23), 0x128, 1, 0x126},
    {0x200000, MTS_MAILBOX_FIELD(Setting24), 0x129, 1, 0x126},
    {0x300000, MTS_MAILBOX_FIELD(PowerDown), 0x115, 1, kNoEnableByte},
    {0x400000, MTS_MAILBOX_FIELD(Setting11), 0x042, 1, kNoEnableByte},
    {0x600000, kNoMailboxField, 0, 0, kNoEnableByte},  // no option
    {0x700000, MTS_MAILBOX_FIELD(Setting20), 0x18C, 2, 0x18B},
    {0x800000, MTS_MAILBOX_FIELD(Setting19[0]), 0x11E, 1, 0x11D},
    {0x900000, MTS_MAILBOX_FIELD(Setting19[1]), 0x11F, 1, 0x11D},
    {0xA00000, MTS_MAILBOX_FIELD(Setting19[2]), 0x120, 1, 0x11D},
    {0xB00000, MTS_MAILBOX_FIELD(Setting19[3]), 0x122, 1, 0x121},
    {0xC00000, MTS_MAILBOX_FIELD(Setting19[4]), 0x123, 1, 0x121},
    {0xD00000, MTS_MAILBOX_FIELD(Setting19[5]), 0x124, 1, 0x121},
    {0xE00000, MTS_MAILBOX_FIELD(Setting19[6]), 0x125, 1, 0x121},
    {0x100001, MTS_MAILBOX_FIELD(Setting2C), 0x0C9, 1, kNoEnableByte},  // its low byte
    {0x100002, MTS_MAILBOX_FIELD(Setting30), 0x0CA, 1, kNoEnableByte},  // its low byte
    {0x100009, MTS_MAILBOX_FIELD(Option7C), 0x0CC, 1, kNoEnableByte},
    {0x10000A, MTS_MAILBOX_FIELD(SetupOnly[0]), 0x1B7, 1, kNoEnableByte},
    {0x10000B, MTS_MAILBOX_FIELD(SetupOnly[1]), 0x1B9, 1, kNoEnableByte},
    {0x10000C, MTS_MAILBOX_FIELD(SetupOnly[2]), 0x022, 1, kNoEnableByte},
    {0x10000D, MTS_MAILBOX_FIELD(SetupOnly[3]), 0x032, 1, kNoEnableByte},
    {0x10000E, MTS_MAILBOX_FIELD(SetupOnly[4]), 0x135, 1, kNoEnableByte},
    {0x10000F, MTS_MAILBOX_FIELD(SetupOnly[5]), 0x132, 1, kNoEnableByte},
    {0x100010, MTS_MAILBOX_FIELD(SetupOnly[6]), 0x12D, 1, kNoEnableByte},
    {0x100011, MTS_MAILBOX_FIELD(SetupOnly[7]), 0x12F, 1, kNoEnableByte},
    {0x100012, MTS_MAILBOX_FIELD(SetupOnly[8]), 0x173, 1, kNoEnableByte},
    {0x100013, MTS_MAILBOX_FIELD(SetupOnly[9]), 0x178, 1, kNoEnableByte},
};
static_assert(sizeof(kSetupCommandTable) / sizeof(kSetupCommandTable[0]) == 60);

constexpr const SetupCommandRow* FindSetupCommand(uint32_t command) {
  for (const SetupCommandRow& r : kSetupCommandTable)
    if (r.command == command) return &r;
  return nullptr;
}

// The smallest variable size that holds every byte the command writes,
// the marker byte included.
constexpr UINTN SetupBytesNeeded(uint32_t command) {
  UINTN need = kSetupMarkerOffset + 1;
  if (const SetupCommandRow* r = FindSetupCommand(command)) {
    if (r->value.width != 0 && UINTN(r->setupOffset) + r->setupWidth > need)
      need = UINTN(r->setupOffset) + r->setupWidth;
    if (r->enableOffset != kNoEnableByte && UINTN(r->enableOffset) + 1 > need)
      need = UINTN(r->enableOffset) + 1;
  }
  return need;
}

// Reads TivSetup, applies the command of `request` (the SMRAM copy of the
// mailbox) to the working copy, sets the marker byte and writes the variable
// back. Reports by POST codes; the status is for the caller's information.
// A variable too small for the command's bytes or the marker is refused
// (POST 0xF5, EFI_BAD_BUFFER_SIZE, variable untouched).
EFI_STATUS UpdateSetupVariable(const MemTuneMailbox& request);

}  // namespace mts
