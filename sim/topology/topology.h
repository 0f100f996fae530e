// Topology builder: consistent data-fabric register values for a described
// machine (sockets, dies, channels, interleave, hashing, hole, second map).
#pragma once

#include "registers/fabric_id_masks.h"
#include "sim/dram/channel_geometry.h"
#include "sim/fabric/data_fabric.h"
#include "sim/platform/platform.h"

#include <array>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

namespace sim::topology {

// A description the builder rejects; `field` names the offending key.
struct TopologyError : std::invalid_argument {
  TopologyError(const std::string& f, const std::string& what)
      : std::invalid_argument(f + ": " + what), field(f) {}
  std::string field;
};

struct Topology {
  atd::FabricIdLayout layout = atd::FabricIdLayout::Extended;
  unsigned sockets = 2;         // 1..2
  unsigned diesPerSocket = 2;   // 1..4
  unsigned channelsPerDie = 4;  // coherent slaves per die, 1..8
  // Channels interleaved in each map: 1, 2, 4, 8, or 6 (six-channel mode,
  // Extended layout, one die per socket).
  unsigned channels = 4;
  unsigned firstChannel = 0;                          // instance of each map's first channel
  bool hashed = true;                                 // 2, 4, 8 channels: hashed codes 12, 13, 14
  bool hash64K = true, hash2M = true, hash1G = true;  // Extended layout only
  bool dieInterleave = false;                         // interleave over all dies of a socket
  bool socketInterleave = false;                      // interleave over both sockets
  unsigned intLvAddrSel = 0;                          // interleave start bit 8 + sel, 0..4
  uint64_t channelSize = 4ULL << 30;                  // DRAM per channel in map 0, 256 MiB multiple
  uint64_t holeBase = 0xC0000000;                     // MMIO hole [holeBase, 4 GiB); 0: none
  uint64_t highChannelSize = 0;  // >0: a second map per channel above the first
  std::array<uint8_t, 6> logicalChannelMap{0, 1, 2, 3, 4, 5};  // six-channel mode
  bool ccm = true;  // false: no CCM block, the maps answer broadcast reads

  // The built-in default platform: two sockets of two dies with four channels
  // each, hashed four-way channel interleave from bit 8, 1 GiB hole below 4 GiB.
  static Topology Default() { return {}; }
};

// A region of the system address map served by one DRAM address map.
struct Region {
  uint64_t base;
  uint64_t limit;  // inclusive
  bool holeEn;
  unsigned mapIndex;  // 0, or 1 for the second map of each channel
  unsigned set;       // interleave set
  uint32_t baseReg, limitReg;
};

struct Channel {
  unsigned socket, die, channel;  // channel = coherent-slave instance id
  uint32_t fabricId;
  uint32_t node;
  bool populated;  // part of an interleave set (has DRAM)
};

struct Expanded {
  std::vector<fabric::FabricRegister> registers;
  std::vector<Region> regions;  // ascending addresses
  std::vector<Channel> channels;
  atd::FabricIdMasks masks;
  uint64_t holeBase;     // 0: none
  uint32_t ccmInstance;  // 0xFF: none
  uint32_t chanIntlvCode;
  uint32_t nonPow2SizeBits;
  uint64_t hiAddrOffset;

  // True when `a` is DRAM of some region (not in the hole).
  bool IsDram(uint64_t a) const;
};

// Checks the description and produces its register values; throws
// TopologyError.
Expanded Expand(const Topology& t);

// The DIMM geometry the builder gives the machine: one entry per populated
// channel, sized to the channel's normalized address space (its share of the
// first map, plus its share of the second map above it) rounded up to the
// next size a default geometry can have (a power of two or three times one).
//
// The ChannelConfigTable keys a channel by slot (socket + die) * 8 + channel,
// so two channels can meet in one slot (socket 1 die 0 and socket 0 die 1)
// and channels with socket + die >= 2 have no slot at all. All populated
// channels of a topology have the same capacity, so a shared slot holds the
// geometry of both; channels without a slot, and channels of more than 1 TiB,
// are left out (the translation then reports the slot and gives zeros).
std::vector<dram::ChannelCapacity> DramChannels(const Topology& t, const Expanded& x);

// Expands `t` into the platform's data fabric (registers added or replaced)
// and fills the platform's ChannelConfigTable (sim::dram::ChannelConfigOf)
// afresh with the geometry of DramChannels.
Expanded Apply(const Topology& t, Platform& p);

std::string LayoutName(atd::FabricIdLayout l);

}  // namespace sim::topology
