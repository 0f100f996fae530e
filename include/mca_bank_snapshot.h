// McaBankSnapshot: one processor's machine-check banks, in a record the caller
// supplies and owns. Room for 0x18 + 80 * bankCount bytes is the caller's
// duty; the type spans the largest possible count (255 banks).
#pragma once

#include "language_bridge.h"

#include <stddef.h>
#include <stdint.h>

typedef struct McaBankEntry {
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
} McaBankEntry;
TIV_LAYOUT_ASSERT(sizeof(McaBankEntry) == 80);
TIV_LAYOUT_ASSERT(offsetof(McaBankEntry, bankIndex) == 0x00);
TIV_LAYOUT_ASSERT(offsetof(McaBankEntry, msr1) == 0x08);
TIV_LAYOUT_ASSERT(offsetof(McaBankEntry, msr2) == 0x10);
TIV_LAYOUT_ASSERT(offsetof(McaBankEntry, msr3) == 0x18);
TIV_LAYOUT_ASSERT(offsetof(McaBankEntry, msr4) == 0x20);
TIV_LAYOUT_ASSERT(offsetof(McaBankEntry, msr5) == 0x28);
TIV_LAYOUT_ASSERT(offsetof(McaBankEntry, msr6) == 0x30);
TIV_LAYOUT_ASSERT(offsetof(McaBankEntry, msr8) == 0x38);
TIV_LAYOUT_ASSERT(offsetof(McaBankEntry, msr9) == 0x40);
TIV_LAYOUT_ASSERT(offsetof(McaBankEntry, msrA) == 0x48);

TIV_CONSTANT unsigned kMaxMcaBanks = 255;  // bankCount is an 8-bit MSR field

typedef struct McaBankSnapshot {
  uint64_t processorNumber;  // in
  uint8_t processorInfo[5];  // out: bytes 8..12 of the processor-list entry
  uint8_t untouched[3];
  uint64_t bankCount;       // out: bits 7:0 of MSR 0x179
  McaBankEntry banks[255];  // kMaxMcaBanks
} McaBankSnapshot;
TIV_LAYOUT_ASSERT(offsetof(McaBankSnapshot, processorNumber) == 0x00);
TIV_LAYOUT_ASSERT(offsetof(McaBankSnapshot, processorInfo) == 0x08);
TIV_LAYOUT_ASSERT(offsetof(McaBankSnapshot, untouched) == 0x0D);
TIV_LAYOUT_ASSERT(offsetof(McaBankSnapshot, bankCount) == 0x10);
TIV_LAYOUT_ASSERT(offsetof(McaBankSnapshot, banks) == 0x18);
TIV_LAYOUT_ASSERT(sizeof(McaBankSnapshot) == 20424);

static inline size_t McaBankSnapshotSize(uint64_t bankCount) {
  return offsetof(McaBankSnapshot, banks) + sizeof(McaBankEntry) * bankCount;
}
