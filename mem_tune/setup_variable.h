// Setup-variable update: every set command is also recorded in the firmware
// setup variable TivSetup, so the setup options agree with the tuned values.
#pragma once

#include "efi/uefi.h"
#include "mem_tune_mailbox.h"

#include <cstdint>

namespace mts {

constexpr EFI_GUID kTivSetupGuid = {
    0x3A997502, 0x647A, 0x4C82, {0x99, 0x8E, 0x52, 0xEF, 0x94, 0x86, 0xA2, 0x47}};
// "TivSetup" as UTF-16.
constexpr CHAR16 kTivSetupName[] = {'T', 'i', 'v', 'S', 'e', 't', 'u', 'p', 0};

constexpr UINTN kSetupReadBufferSize = 1712;
constexpr uint16_t kSetupMarkerOffset = 0xE6;
constexpr uint16_t kSetupMemClockOffset = 0xE7;
constexpr uint16_t kNoEnableByte = 0xFFFF;

// A command's option: the mailbox field it takes (valueWidth 0: none, the
// command changes nothing), the setup offset and width it is stored at, and
// the enable byte set to 1 before it.
struct SetupCommandRow {
  uint32_t command;
  uint8_t valueOffset;
  uint8_t valueWidth;
  uint16_t setupOffset;
  uint8_t setupWidth;
  uint16_t enableOffset;
};

constexpr SetupCommandRow kSetupCommandTable[] = {
    {0x1, 0x14, 2, 0x0E7, 1, kNoEnableByte},  // through MemClockTable
    {0x2, 0x16, 1, 0x0E8, 1, kNoEnableByte},
    {0x4, 0x17, 1, 0x0E9, 1, kNoEnableByte},
    {0x8, 0x18, 1, 0x0EA, 1, kNoEnableByte},
    {0x10, 0x1A, 1, 0x0EB, 1, kNoEnableByte},
    {0x20, 0x19, 1, 0x0EC, 1, kNoEnableByte},
    {0x3000, 0x21, 1, 0x112, 1, kNoEnableByte},  // low byte of the 2-byte field
    {0x4000, 0x23, 2, 0x0F8, 2, 0x0F7},
    {0x5000, 0x25, 1, 0x0EE, 1, 0x0ED},
    {0x6000, 0x26, 2, 0x0FF, 2, 0x0FE},
    {0x7000, 0x28, 2, 0x102, 2, 0x101},
    {0x8000, 0x2A, 2, 0x105, 2, 0x104},
    {0x9000, 0x2C, 1, 0x0F2, 1, 0x0F1},
    {0xA000, 0x2D, 1, 0x0EF, 1, kNoEnableByte},
    {0xB000, 0x2E, 1, 0x0F0, 1, kNoEnableByte},
    {0xC000, 0x2F, 1, 0x0F6, 1, 0x0F5},
    {0xD000, 0x30, 1, 0x0F3, 1, kNoEnableByte},
    {0xE000, 0x31, 1, 0x0F4, 1, kNoEnableByte},
    {0xF000, 0x32, 1, 0x109, 1, kNoEnableByte},
    {0x10000, 0x33, 1, 0x107, 1, kNoEnableByte},
    {0x20000, 0x34, 1, 0x108, 1, kNoEnableByte},
    {0x30000, 0x35, 1, 0x10F, 1, kNoEnableByte},
    {0x40000, 0x36, 1, 0x0FB, 1, 0x0FA},
    {0x50000, 0x37, 1, 0x110, 1, kNoEnableByte},
    {0x60000, 0x38, 1, 0x111, 1, kNoEnableByte},
    {0x70000, 0x39, 1, 0x10C, 1, kNoEnableByte},
    {0x80000, 0x3A, 1, 0x0FD, 1, 0x0FC},
    {0x90000, 0x3B, 1, 0x10D, 1, kNoEnableByte},
    {0xA0000, 0x3C, 1, 0x10E, 1, kNoEnableByte},
    {0xB0000, 0x3D, 1, 0x10A, 1, kNoEnableByte},
    {0xC0000, 0x3E, 1, 0x10B, 1, kNoEnableByte},
    {0xD0000, 0x3F, 1, 0x114, 1, kNoEnableByte},
    {0xE0000, 0x40, 1, 0x113, 1, kNoEnableByte},
    {0xF0000, 0x41, 1, 0x127, 1, 0x126},
    {0x100000, 0x42, 1, 0x128, 1, 0x126},
    {0x200000, 0x43, 1, 0x129, 1, 0x126},
    {0x300000, 0x44, 1, 0x115, 1, kNoEnableByte},
    {0x400000, 0x4E, 1, 0x042, 1, kNoEnableByte},
    {0x600000, 0, 0, 0, 0, kNoEnableByte},  // no option
    {0x700000, 0x5D, 2, 0x18C, 2, 0x18B},
    {0x800000, 0x56, 1, 0x11E, 1, 0x11D},
    {0x900000, 0x57, 1, 0x11F, 1, 0x11D},
    {0xA00000, 0x58, 1, 0x120, 1, 0x11D},
    {0xB00000, 0x59, 1, 0x122, 1, 0x121},
    {0xC00000, 0x5A, 1, 0x123, 1, 0x121},
    {0xD00000, 0x5B, 1, 0x124, 1, 0x121},
    {0xE00000, 0x5C, 1, 0x125, 1, 0x121},
    {0x100001, 0x64, 1, 0x0C9, 1, kNoEnableByte},  // low byte of the 4-byte field
    {0x100002, 0x68, 1, 0x0CA, 1, kNoEnableByte},  // low byte of the 4-byte field
    {0x100009, 0x7C, 1, 0x0CC, 1, kNoEnableByte},
    {0x10000A, 0x7D, 1, 0x1B7, 1, kNoEnableByte},
    {0x10000B, 0x7E, 1, 0x1B9, 1, kNoEnableByte},
    {0x10000C, 0x7F, 1, 0x022, 1, kNoEnableByte},
    {0x10000D, 0x80, 1, 0x032, 1, kNoEnableByte},
    {0x10000E, 0x81, 1, 0x135, 1, kNoEnableByte},
    {0x10000F, 0x82, 1, 0x132, 1, kNoEnableByte},
    {0x100010, 0x83, 1, 0x12D, 1, kNoEnableByte},
    {0x100011, 0x84, 1, 0x12F, 1, kNoEnableByte},
    {0x100012, 0x85, 1, 0x173, 1, kNoEnableByte},
    {0x100013, 0x86, 1, 0x178, 1, kNoEnableByte},
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
    if (r->valueWidth != 0 && UINTN(r->setupOffset) + r->setupWidth > need)
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
