// PlatformTopologyProtocol: published by another firmware component. Only the
// three 64-bit words below are read; the rest of the interface is not ours.
#pragma once

#include "efi/uefi.h"

#include <cstddef>
#include <cstdint>

inline constexpr EFI_GUID gPlatformTopologyProtocolGuid = {
    0x3C6ED57C, 0x4F6A, 0x8A58, {0x85, 0xDF, 0xDC, 0xA5, 0xAD, 0xF0, 0xF1, 0x6B}};

struct ProcessorListEntry {
  uint64_t processorNumber;  // MP-services processor number
  uint8_t info[5];           // copied into McaBankSnapshot.processorInfo
  uint8_t notRead[3];
};
static_assert(sizeof(ProcessorListEntry) == 16);
static_assert(offsetof(ProcessorListEntry, info) == 8);

struct PlatformTopologyProtocol {
  uint64_t notRead[2];
  uint64_t processorCount;               // +0x10
  const ProcessorListEntry* processors;  // +0x18
  void* channelConfigTable;              // +0x20, a ChannelConfigTable
};
static_assert(offsetof(PlatformTopologyProtocol, processorCount) == 0x10);
static_assert(offsetof(PlatformTopologyProtocol, processors) == 0x18);
static_assert(offsetof(PlatformTopologyProtocol, channelConfigTable) == 0x20);
