// NormalizedAddress: an address inside one memory channel and the channel's
// socket, die and channel (coherent-slave instance) ids. Crosses
// TranslationProtocol, so its layout is fixed to the byte.
#pragma once

#include <cstddef>
#include <cstdint>

struct NormalizedAddress {
  uint64_t normalizedAddr;  // all ones: the system address is not DRAM
  uint8_t socketId;
  uint8_t dieId;
  uint8_t channelId;     // coherent-slave instance id, csInstanceId for calcSysAddr
  uint8_t reserved;      // written 0 by calcNormAddr
  uint8_t untouched[4];  // never written by calcNormAddr
};
static_assert(sizeof(NormalizedAddress) == 16);
static_assert(offsetof(NormalizedAddress, normalizedAddr) == 0);
static_assert(offsetof(NormalizedAddress, socketId) == 8);
static_assert(offsetof(NormalizedAddress, dieId) == 9);
static_assert(offsetof(NormalizedAddress, channelId) == 10);
static_assert(offsetof(NormalizedAddress, reserved) == 11);
static_assert(offsetof(NormalizedAddress, untouched) == 12);

inline constexpr uint64_t kInvalidAddress = 0xFFFFFFFFFFFFFFFFULL;
