// DramAddress: DRAM coordinates inside one channel. The translation writes its
// five fields one by one, so the gap bytes keep whatever the caller put there.
#pragma once

#include "language_bridge.h"

#include <stddef.h>
#include <stdint.h>

typedef struct DramAddress {
  uint8_t chipSelect;  // 0..3 ("Rank" in the messages)
  uint8_t bank;
  uint8_t gap0[2];  // not written
  uint32_t row;
  uint16_t col;
  uint8_t rankMul;
  uint8_t gap1;  // not written
} DramAddress;
TIV_LAYOUT_ASSERT(sizeof(DramAddress) == 12);
TIV_LAYOUT_ASSERT(offsetof(DramAddress, chipSelect) == 0);
TIV_LAYOUT_ASSERT(offsetof(DramAddress, bank) == 1);
TIV_LAYOUT_ASSERT(offsetof(DramAddress, gap0) == 2);
TIV_LAYOUT_ASSERT(offsetof(DramAddress, row) == 4);
TIV_LAYOUT_ASSERT(offsetof(DramAddress, col) == 8);
TIV_LAYOUT_ASSERT(offsetof(DramAddress, rankMul) == 10);
TIV_LAYOUT_ASSERT(offsetof(DramAddress, gap1) == 11);
