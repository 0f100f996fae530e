// MemTuneSmiHandler: serves the shared mailbox on software SMI 0x9D.
#pragma once

#include "efi/uefi.h"
#include "mem_tune_mailbox.h"

#include <cstdint>

namespace mts {

// A set command that writes configuration tokens: the value field it takes,
// the item written with 1 first (0: none) and the item written with the value.
struct DispatchRow {
  uint32_t command;
  uint8_t valueOffset;
  uint8_t valueWidth;
  uint16_t enableItem;
  uint16_t item;
};

constexpr uint16_t kMemClockItem = 12;

constexpr DispatchRow kDispatchTable[] = {
    {0x2, 0x16, 1, 0, 13},       {0x4, 0x17, 1, 0, 14},       {0x8, 0x18, 1, 0, 15},
    {0x10, 0x1A, 1, 0, 16},      {0x20, 0x19, 1, 0, 17},      {0x3000, 0x21, 2, 0, 57},
    {0x4000, 0x23, 2, 44, 45},   {0x5000, 0x25, 1, 34, 35},   {0x6000, 0x26, 2, 50, 51},
    {0x7000, 0x28, 2, 52, 53},   {0x8000, 0x2A, 2, 54, 55},   {0x9000, 0x2C, 1, 38, 39},
    {0xA000, 0x2D, 1, 0, 36},    {0xB000, 0x2E, 1, 0, 37},    {0xC000, 0x2F, 1, 42, 43},
    {0xD000, 0x30, 1, 0, 40},    {0xE000, 0x31, 1, 0, 41},    {0xF000, 0x32, 1, 0, 72},
    {0x10000, 0x33, 1, 0, 67},   {0x20000, 0x34, 1, 0, 66},   {0x30000, 0x35, 1, 0, 58},
    {0x40000, 0x36, 1, 46, 47},  {0x50000, 0x37, 1, 0, 59},   {0x60000, 0x38, 1, 0, 60},
    {0x70000, 0x39, 1, 0, 61},   {0x80000, 0x3A, 1, 48, 49},  {0x90000, 0x3B, 1, 0, 62},
    {0xA0000, 0x3C, 1, 0, 63},   {0xB0000, 0x3D, 1, 0, 64},   {0xC0000, 0x3E, 1, 0, 65},
    {0xD0000, 0x3F, 1, 0, 77},   {0xE0000, 0x40, 1, 0, 76},   {0xF0000, 0x41, 1, 68, 69},
    {0x100000, 0x42, 1, 68, 70}, {0x200000, 0x43, 1, 68, 71}, {0x300000, 0x44, 1, 0, 80},
    {0x600000, 0x53, 1, 0, 90},  {0x700000, 0x5D, 2, 74, 75}, {0x800000, 0x56, 1, 81, 82},
    {0x900000, 0x57, 1, 81, 83}, {0xA00000, 0x58, 1, 81, 84}, {0xB00000, 0x59, 1, 85, 86},
    {0xC00000, 0x5A, 1, 85, 87}, {0xD00000, 0x5B, 1, 85, 88}, {0xE00000, 0x5C, 1, 85, 89},
    {0x100001, 0x64, 4, 0, 5},   {0x100002, 0x68, 4, 0, 6},   {0x100009, 0x7C, 1, 0, 18},
};
static_assert(sizeof(kDispatchTable) / sizeof(kDispatchTable[0]) == 48);

constexpr const DispatchRow* FindDispatchRow(uint32_t command) {
  for (const DispatchRow& r : kDispatchTable)
    if (r.command == command) return &r;
  return nullptr;
}

// Little-endian field of `width` bytes (1, 2 or 4) at `offset` of a mailbox.
uint32_t MailboxField(const MemTuneMailbox& mailbox, uint8_t offset, uint8_t width);

// The software-SMI handler. Its arguments are those of every SMI handler and
// are not used.
EFI_STATUS EFIAPI MemTuneSmiHandler(EFI_HANDLE dispatchHandle, const VOID* context,
                                    VOID* commBuffer, UINTN* commBufferSize);

}  // namespace mts
