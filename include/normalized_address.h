// NormalizedAddress: an address inside one memory channel and the channel's
// socket, die and channel (coherent-slave instance) ids. Crosses
// TranslationProtocol, so its layout is fixed to the byte.
#pragma once

#include "language_bridge.h"

#include <stddef.h>
#include <stdint.h>

typedef struct NormalizedAddress {
  uint64_t normalizedAddr;  // all ones: the system address is not DRAM
  uint8_t socketId;
  uint8_t dieId;
  uint8_t channelId;     // coherent-slave instance id, csInstanceId for calcSysAddr
  uint8_t reserved;      // written 0 by calcNormAddr
  uint8_t untouched[4];  // never written by calcNormAddr
} NormalizedAddress;
TIV_LAYOUT_ASSERT(sizeof(NormalizedAddress) == 16);
TIV_LAYOUT_ASSERT(offsetof(NormalizedAddress, normalizedAddr) == 0);
TIV_LAYOUT_ASSERT(offsetof(NormalizedAddress, socketId) == 8);
TIV_LAYOUT_ASSERT(offsetof(NormalizedAddress, dieId) == 9);
TIV_LAYOUT_ASSERT(offsetof(NormalizedAddress, channelId) == 10);
TIV_LAYOUT_ASSERT(offsetof(NormalizedAddress, reserved) == 11);
TIV_LAYOUT_ASSERT(offsetof(NormalizedAddress, untouched) == 12);

TIV_CONSTANT uint64_t kInvalidAddress = 0xFFFFFFFFFFFFFFFFULL;
