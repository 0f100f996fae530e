// What MemTuneSmm must do, written from its interface description: the
// mailbox layout, the requests the probe sends with the tokens and setup
// bytes each must produce, and where the readout takes each field from.
// Deliberately independent of the driver's own tables.
#pragma once

#include <cstdint>

namespace smmprobe {

// Mailbox header.
constexpr unsigned kBusy = 0x00, kStatus = 0x02, kSequence = 0x06, kRequest = 0x0C, kCommand = 0x10;
constexpr unsigned kMailboxBytes = 0xCA;
constexpr unsigned kSettingsRecordBytes = 0x40;
constexpr uint32_t kRequestPending = 4;
constexpr uint32_t kReadCommand = 0x80000000;

// Processor signatures (CPUID 0x80000001 EAX & 0x0FFF0F00) the service runs on.
constexpr uint32_t kSignatureMask = 0x0FFF0F00;
constexpr uint32_t kServedSignatures[] = {0x00870F00, 0x00830F00, 0x00A00F00};

struct TokenWrite {
  uint8_t width;
  uint32_t token;
  uint32_t value;
};
struct SetupByte {
  uint16_t offset;
  uint8_t value;
};

struct RequestCase {
  const char* name;
  uint32_t request;  // 4: pending; anything else: no request
  uint32_t command;
  uint8_t valueOffset, valueWidth;  // width 0: no value field
  uint32_t value;
  uint32_t status;  // the low 32 bits expected in Status
  TokenWrite tokens[2];
  unsigned tokenCount;
  SetupByte setup[4];  // bytes of TivSetup that change (the marker 0xE6 included)
  unsigned setupCount;
  uint8_t post[7];  // POST codes on port 0x80
  unsigned postCount;
};

// Sent in this order; each starts from the state the previous one left.
constexpr RequestCase kRequests[] = {
    {"no-request", 3, 0x2, 0x16, 1, 0x77, 0, {}, 0, {}, 0, {0xD1}, 1},
    // tRFC1: enable item 50 with 1, then item 51 with the 16-bit value.
    {"set-0x6000",
     4,
     0x6000,
     0x26,
     2,
     600,
     0,
     {{1, 0x86ED48B5, 1}, {2, 0x49714C55, 600}},
     2,
     {{0xE6, 1}, {0xFE, 1}, {0xFF, 0x58}, {0x100, 0x02}},
     4,
     {0xD1, 0xD2, 0xE0, 0xF4, 0xF7, 0xF8},
     6},
    // Memory clock through MemClockTable: 1600 MHz is code 48, item 12.
    {"set-0x1-memclock",
     4,
     0x1,
     0x14,
     2,
     1600,
     0,
     {{1, 0xE0604CE9, 48}},
     1,
     {{0xE7, 48}},
     1,
     {0xD1, 0xD2, 0xD4, 0xE0, 0xF4, 0xF7, 0xF8},
     7},
    // A clock the table lacks: EFI_NOT_FOUND, no token, setup rewritten as is.
    {"set-0x1-unknown-clock",
     4,
     0x1,
     0x14,
     2,
     1234,
     0x0000000E,
     {},
     0,
     {},
     0,
     {0xD1, 0xD2, 0xE0, 0xF4, 0xF7, 0xF8},
     6},
    // The 32-bit token: enable item 74, then item 75 zero-extended.
    {"set-0x700000",
     4,
     0x700000,
     0x5D,
     2,
     0x0ABC,
     0,
     {{1, 0xE033C709, 1}, {4, 0x7915D708, 0x0ABC}},
     2,
     {{0x18B, 1}, {0x18C, 0xBC}, {0x18D, 0x0A}},
     3,
     {0xD1, 0xD2, 0xE0, 0xF4, 0xF7, 0xF8},
     6},
    // Setup-only option: mailbox 0x7D to TivSetup 0x1B7, no token.
    {"set-0x10000A-setup-only",
     4,
     0x10000A,
     0x7D,
     1,
     0x5A,
     0,
     {},
     0,
     {{0x1B7, 0x5A}},
     1,
     {0xD1, 0xD2, 0xE0, 0xF4, 0xF7, 0xF8},
     6},
    // A code nothing defines: success, no token, the variable written back.
    {"undefined-0x12340000",
     4,
     0x12340000,
     0,
     0,
     0,
     0,
     {},
     0,
     {},
     0,
     {0xD1, 0xD2, 0xE0, 0xF4, 0xF7, 0xF8},
     6},
    {"read-0x80000000", 4, kReadCommand, 0, 0, 0, 0, {}, 0, {}, 0, {0xD1, 0xD2, 0xD3}, 3},
};

// ---- the readout ----------------------------------------------------------------

// Every memory-controller register reads this value (the probe puts a memory
// window holding it where the driver's configuration window is). Bits 6:0 =
// 48: channel 0 is in use, at 1600 MHz.
constexpr uint32_t kRegisterValue = 0xB35A9CB0;
constexpr uint16_t kExpectedMemClock = 1600;

// Register fields: mailbox offset and width, register (offset in the
// channel's register block), bit range taken right-aligned.
struct RegisterField {
  uint8_t offset, width;
  uint16_t reg;
  uint8_t hi, lo;
};

constexpr RegisterField kRegisterFields[] = {
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

struct SettingsField {
  uint8_t mailbox, width, settings;
};
constexpr SettingsField kSettingsFields[] = {
    {0x45, 1, 0x08}, {0x46, 4, 0x09}, {0x4A, 4, 0x0D}, {0x4E, 1, 0x11}, {0x54, 2, 0x12},
    {0x4F, 4, 0x14}, {0x53, 1, 0x18}, {0x56, 1, 0x19}, {0x57, 1, 0x1A}, {0x58, 1, 0x1B},
    {0x59, 1, 0x1C}, {0x5A, 1, 0x1D}, {0x5B, 1, 0x1E}, {0x5C, 1, 0x1F}, {0x5D, 2, 0x20},
    {0x41, 1, 0x22}, {0x42, 1, 0x23}, {0x43, 1, 0x24}, {0x21, 2, 0x25}, {0x5F, 1, 0x27},
    {0x60, 4, 0x28}, {0x64, 4, 0x2C}, {0x68, 4, 0x30}, {0x6C, 4, 0x34}, {0x70, 4, 0x38},
    {0x74, 4, 0x3C},
};

// Bytes the caller leaves at 0xC8 and 0xC9; the readout copies them to 0x78
// and 0x79 and zeroes 0x7A-0x7C.
constexpr uint8_t kCallerC8 = 0xA7, kCallerC9 = 0x3E;

}  // namespace smmprobe
