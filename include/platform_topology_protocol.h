// PlatformTopologyProtocol: published by another firmware component. Only the
// three 64-bit words below are read; the rest of the interface is not ours.
#pragma once

#include "efi/uefi.h"
#include "language_bridge.h"

#include <stddef.h>
#include <stdint.h>

// The EDK II build declares (AutoGen.h) and defines (AutoGen.c) it from the DEC.
#ifndef TIV_EDK2
TIV_CONSTANT EFI_GUID gPlatformTopologyProtocolGuid = {
    0x3C6ED57C, 0x4F6A, 0x8A58, {0x85, 0xDF, 0xDC, 0xA5, 0xAD, 0xF0, 0xF1, 0x6B}};
#endif

typedef struct ProcessorListEntry {
  uint64_t processorNumber;  // MP-services processor number
  uint8_t info[5];           // copied into McaBankSnapshot.processorInfo
  uint8_t notRead[3];
} ProcessorListEntry;
TIV_LAYOUT_ASSERT(sizeof(ProcessorListEntry) == 16);
TIV_LAYOUT_ASSERT(offsetof(ProcessorListEntry, info) == 8);

typedef struct PlatformTopologyProtocol {
  uint64_t notRead[2];
  uint64_t processorCount;               // +0x10
  const ProcessorListEntry* processors;  // +0x18
  void* channelConfigTable;              // +0x20, a ChannelConfigTable (channel_config_table.h)
} PlatformTopologyProtocol;
TIV_LAYOUT_ASSERT(offsetof(PlatformTopologyProtocol, processorCount) == 0x10);
TIV_LAYOUT_ASSERT(offsetof(PlatformTopologyProtocol, processors) == 0x18);
TIV_LAYOUT_ASSERT(offsetof(PlatformTopologyProtocol, channelConfigTable) == 0x20);
