// Where the readout puts each register field, written out from the interface
// tables independently of the driver's own: the mailbox offset and width,
// the register (offset in the channel's register block) and the bit range,
// right-aligned. Freestanding (the OVMF probe uses it too).
#pragma once

#include <cstdint>

namespace expected {

struct ReadoutRegisterField {
  uint8_t offset, width;
  uint16_t reg;
  uint8_t hi, lo;
};

inline constexpr ReadoutRegisterField kReadoutRegisterFields[] = {
    {0x16, 1, 0x204, 5, 0},   {0x17, 1, 0x204, 21, 16}, {0x18, 1, 0x204, 29, 24},
    {0x19, 1, 0x204, 14, 8},  {0x1A, 1, 0x208, 21, 16}, {0x23, 2, 0x21C, 31, 20},
    {0x25, 1, 0x208, 7, 0},   {0x26, 2, 0x260, 10, 0},  {0x28, 2, 0x260, 21, 11},
    {0x2A, 2, 0x260, 31, 22}, {0x2C, 1, 0x210, 6, 0},   {0x2D, 1, 0x20C, 4, 0},
    {0x2E, 1, 0x20C, 12, 8},  {0x2F, 1, 0x218, 6, 0},   {0x30, 1, 0x214, 12, 8},
    {0x31, 1, 0x214, 22, 16}, {0x32, 1, 0x254, 28, 24}, {0x33, 1, 0x214, 5, 0},
    {0x34, 1, 0x20C, 28, 24}, {0x35, 1, 0x220, 19, 16}, {0x36, 1, 0x220, 27, 24},
    {0x37, 1, 0x220, 11, 8},  {0x38, 1, 0x220, 3, 0},   {0x39, 1, 0x224, 19, 16},
    {0x3A, 1, 0x224, 27, 24}, {0x3B, 1, 0x224, 11, 8},  {0x3C, 1, 0x224, 3, 0},
    {0x3D, 1, 0x228, 12, 8},  {0x3E, 1, 0x228, 3, 0},   {0x3F, 1, 0x200, 11, 11},
    {0x40, 1, 0x200, 10, 10}, {0x44, 1, 0x12C, 28, 28},
};

}  // namespace expected
