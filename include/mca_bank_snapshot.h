// McaBankSnapshot: one processor's machine-check banks, in a record the caller
// supplies and owns. Room for 0x18 + 80 * bankCount bytes is the caller's
// duty; the type spans the largest possible count (255 banks).
#pragma once

#include <cstddef>
#include <cstdint>

struct McaBankEntry {
  uint64_t bankIndex;
  uint64_t msr1;  // status; bit 63 set: the bank's registers are recorded
  uint64_t msr2;
  uint64_t msr3;
  uint64_t msr4;
  uint64_t msr5;  // bits 43:32 all zero: the bank is absent
  uint64_t msr6;
  uint64_t msr8;
  uint64_t msr9;
  uint64_t msrA;
};
static_assert(sizeof(McaBankEntry) == 80);
static_assert(offsetof(McaBankEntry, bankIndex) == 0x00);
static_assert(offsetof(McaBankEntry, msr1) == 0x08);
static_assert(offsetof(McaBankEntry, msr2) == 0x10);
static_assert(offsetof(McaBankEntry, msr3) == 0x18);
static_assert(offsetof(McaBankEntry, msr4) == 0x20);
static_assert(offsetof(McaBankEntry, msr5) == 0x28);
static_assert(offsetof(McaBankEntry, msr6) == 0x30);
static_assert(offsetof(McaBankEntry, msr8) == 0x38);
static_assert(offsetof(McaBankEntry, msr9) == 0x40);
static_assert(offsetof(McaBankEntry, msrA) == 0x48);

inline constexpr unsigned kMaxMcaBanks = 255;  // bankCount is an 8-bit MSR field

struct McaBankSnapshot {
  uint64_t processorNumber;  // in
  uint8_t processorInfo[5];  // out: bytes 8..12 of the processor-list entry
  uint8_t untouched[3];
  uint64_t bankCount;  // out: bits 7:0 of MSR 0x179
  McaBankEntry banks[kMaxMcaBanks];
};
static_assert(offsetof(McaBankSnapshot, processorNumber) == 0x00);
static_assert(offsetof(McaBankSnapshot, processorInfo) == 0x08);
static_assert(offsetof(McaBankSnapshot, untouched) == 0x0D);
static_assert(offsetof(McaBankSnapshot, bankCount) == 0x10);
static_assert(offsetof(McaBankSnapshot, banks) == 0x18);
static_assert(sizeof(McaBankSnapshot) == 20424);

inline constexpr size_t McaBankSnapshotSize(uint64_t bankCount) {
  return offsetof(McaBankSnapshot, banks) + sizeof(McaBankEntry) * bankCount;
}
