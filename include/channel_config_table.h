// ChannelConfigTable: the per-channel memory-controller settings that the
// platform's topology component fills and publishes (its pointer sits at
// +0x20 of PlatformTopologyProtocol, platform_topology_protocol.h). The DRAM
// translation reads it and writes only the five bankHashBits bytes at the
// end; the table must stay in place while boot services last.
//
// Every per-channel array is indexed by the channel slot
// (socket + die) * 8 + channel, TIV_CHANNEL_SLOTS slots: a channel whose slot
// is 16 or more has no entry and no DRAM coordinates. Two-dimensional arrays
// are row-major: [slot][chip select] or [slot][pair]; chip selects 2p and
// 2p+1 form pair p. All words are 32-bit little-endian. The not-used areas
// are not read.
//
// The fields of addrCfg[slot][pair] (p: pair; bits not listed are 0):
//   bit 0 / 1      primary range of chip select 2p / 2p+1 enabled
//   bits 5:4       bank bits: 1 -> 4, 2 -> 5, 0 or 3 -> 3
//   bits 7:6       rank-multiplier bits
//   bits 11:8      low row bits - 10
//   bits 15:12     high row bits
//   bits 19:16     column bits - 5
//   bit 24 / 25    secondary range of chip select 2p / 2p+1 enabled
// rmAddrSel / rmAddrSelSec[slot][pair]: three 4-bit rank-multiplier
// positions in bits 11:0, row inversion of chip select 2p in bits 17:16 and
// of 2p+1 in bits 19:18.
#pragma once

#include "language_bridge.h"

#include <stddef.h>
#include <stdint.h>

// The table's dimensions: macros, because C array bounds need constant
// expressions.
#define TIV_CHANNEL_SLOTS 16
#define TIV_CHIP_SELECTS 4  // per channel
#define TIV_BANK_HASH_WORDS 5

typedef struct ChannelConfigTable {
  uint8_t notUsed0[0x10];
  uint8_t csPresent[TIV_CHANNEL_SLOTS];  // bit cs: chip select cs is populated
  uint32_t bankHashCtl[TIV_BANK_HASH_WORDS][TIV_CHANNEL_SLOTS];  // [k][slot]: hash of bank bit k
  uint8_t notUsed1[0x80];
  uint32_t csHashCtl[TIV_CHANNEL_SLOTS][2];     // hash of chip-select bit 0 / bit 1
  uint32_t rmHashCtl[TIV_CHANNEL_SLOTS][3];     // hash of rank-multiplier bit k
  uint32_t csBase[TIV_CHANNEL_SLOTS][4];        // primary base, compared with A[39:8]
  uint32_t csBaseSec[TIV_CHANNEL_SLOTS][4];     // secondary base
  uint32_t csMask[TIV_CHANNEL_SLOTS][2];        // per pair; set bits take no part in the match
  uint32_t csMaskSec[TIV_CHANNEL_SLOTS][2];     // per pair, secondary range
  uint32_t addrCfg[TIV_CHANNEL_SLOTS][4];       // per pair at [slot][pair]; [2] and [3] unused
  uint32_t bankAddrSel[TIV_CHANNEL_SLOTS][2];   // bank-bit positions
  uint32_t rowAddrSel[TIV_CHANNEL_SLOTS][2];    // low / high row start positions
  uint32_t colAddrSelLo[TIV_CHANNEL_SLOTS][2];  // positions of column bits 0..7
  uint32_t colAddrSelHi[TIV_CHANNEL_SLOTS][2];  // positions of column bits 8..15
  uint32_t rmAddrSel[TIV_CHANNEL_SLOTS][2];  // rank-multiplier positions, row inversion (primary)
  uint32_t rmAddrSelSec[TIV_CHANNEL_SLOTS][2];  // the same for the secondary range
  uint8_t notUsed2[0x3C0];
  uint8_t bankHashBits[TIV_BANK_HASH_WORDS];  // written back by the translation
  uint8_t tail[3];
} ChannelConfigTable;

TIV_LAYOUT_ASSERT(offsetof(ChannelConfigTable, notUsed0) == 0x000);
TIV_LAYOUT_ASSERT(offsetof(ChannelConfigTable, csPresent) == 0x010);
TIV_LAYOUT_ASSERT(offsetof(ChannelConfigTable, bankHashCtl) == 0x020);
TIV_LAYOUT_ASSERT(offsetof(ChannelConfigTable, bankHashCtl[1]) == 0x060);
TIV_LAYOUT_ASSERT(offsetof(ChannelConfigTable, bankHashCtl[2]) == 0x0A0);
TIV_LAYOUT_ASSERT(offsetof(ChannelConfigTable, bankHashCtl[3]) == 0x0E0);
TIV_LAYOUT_ASSERT(offsetof(ChannelConfigTable, bankHashCtl[4]) == 0x120);
TIV_LAYOUT_ASSERT(offsetof(ChannelConfigTable, notUsed1) == 0x160);
TIV_LAYOUT_ASSERT(offsetof(ChannelConfigTable, csHashCtl) == 0x1E0);
TIV_LAYOUT_ASSERT(offsetof(ChannelConfigTable, rmHashCtl) == 0x260);
TIV_LAYOUT_ASSERT(offsetof(ChannelConfigTable, csBase) == 0x320);
TIV_LAYOUT_ASSERT(offsetof(ChannelConfigTable, csBaseSec) == 0x420);
TIV_LAYOUT_ASSERT(offsetof(ChannelConfigTable, csMask) == 0x520);
TIV_LAYOUT_ASSERT(offsetof(ChannelConfigTable, csMaskSec) == 0x5A0);
TIV_LAYOUT_ASSERT(offsetof(ChannelConfigTable, addrCfg) == 0x620);
TIV_LAYOUT_ASSERT(offsetof(ChannelConfigTable, bankAddrSel) == 0x720);
TIV_LAYOUT_ASSERT(offsetof(ChannelConfigTable, rowAddrSel) == 0x7A0);
TIV_LAYOUT_ASSERT(offsetof(ChannelConfigTable, colAddrSelLo) == 0x820);
TIV_LAYOUT_ASSERT(offsetof(ChannelConfigTable, colAddrSelHi) == 0x8A0);
TIV_LAYOUT_ASSERT(offsetof(ChannelConfigTable, rmAddrSel) == 0x920);
TIV_LAYOUT_ASSERT(offsetof(ChannelConfigTable, rmAddrSelSec) == 0x9A0);
TIV_LAYOUT_ASSERT(offsetof(ChannelConfigTable, notUsed2) == 0xA20);
TIV_LAYOUT_ASSERT(offsetof(ChannelConfigTable, bankHashBits) == 0xDE0);
TIV_LAYOUT_ASSERT(offsetof(ChannelConfigTable, tail) == 0xDE5);
TIV_LAYOUT_ASSERT(sizeof(ChannelConfigTable) == 0xDE8);
