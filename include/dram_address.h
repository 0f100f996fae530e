// DramAddress: DRAM coordinates inside one channel. The translation writes its
// five fields one by one, so the gap bytes keep whatever the caller put there.
#pragma once

#include <cstddef>
#include <cstdint>

struct DramAddress {
  uint8_t chipSelect;  // 0..3 ("Rank" in the messages)
  uint8_t bank;
  uint8_t gap0[2];  // not written
  uint32_t row;
  uint16_t col;
  uint8_t rankMul;
  uint8_t gap1;  // not written
};
static_assert(sizeof(DramAddress) == 12);
static_assert(offsetof(DramAddress, chipSelect) == 0);
static_assert(offsetof(DramAddress, bank) == 1);
static_assert(offsetof(DramAddress, gap0) == 2);
static_assert(offsetof(DramAddress, row) == 4);
static_assert(offsetof(DramAddress, col) == 8);
static_assert(offsetof(DramAddress, rankMul) == 10);
static_assert(offsetof(DramAddress, gap1) == 11);
