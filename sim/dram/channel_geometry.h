// DIMM geometry of the simulated memory channels, expanded into the words of a
// ChannelConfigTable slot: which chip selects are populated, their base/mask
// ranges, the bank/row/column/rank-multiplier widths, the address bit each of
// those bits comes from, and the optional XOR hashes.
//
// The layout the builder chooses, from address bit 3 upwards (bits 2:0 are the
// byte within a 64-bit beat): column bits 0..2, the bank bits, the remaining
// column bits, the rank-multiplier bits, the row bits (low run, then high run)
// and the chip-select bits on top. Chip-select bits may instead be placed
// lower (interleaving), anywhere from bit 8 up to below the row bits; the other
// bits then move up around them.
//
// Every geometry the builder accepts decodes each normalized address below its
// capacity to a distinct (chip select, bank, row, column, rank multiplier)
// inside the geometry's bounds; anything else is refused with
// std::invalid_argument.
#pragma once

#include "registers/channel_config.h"

#include <cstdint>
#include <string>
#include <vector>

namespace sim::dram {

enum class CsRange {
  Primary,    // primary ranges only
  Secondary,  // secondary ranges only (primary disabled)
  Both,       // both enabled with the same base and mask (the primary wins)
};

struct ChannelGeometry {
  uint8_t socket = 0;
  uint8_t die = 0;
  uint8_t channel = 0;
  unsigned chipSelects = 2;  // populated chip selects, 1..4
  unsigned bankBits = 4;     // 3..5
  unsigned rowBits = 16;     // row bits per chip select
  unsigned rowHiBits = 0;    // of which in the high run (0..15)
  unsigned colBits = 10;     // 5..16
  unsigned rmBits = 0;       // rank-multiplier bits, 0..3
  // Address bits that select the chip select, lowest first (one per
  // chip-select bit); empty: the chip selects follow each other on top.
  std::vector<unsigned> csSelectBits;
  CsRange range = CsRange::Primary;
  uint8_t rowInvEven = 0;  // row-inversion pair of the even chip selects (bit 1: top row bit)
  uint8_t rowInvOdd = 0;   // and of the odd ones
  bool csHash = false;
  bool bankHash = false;
  bool rmHash = false;
  uint64_t hashSeed = 1;  // picks the address bits the hashes fold in
};

// Channel slot of the table: (socket + die) * 8 + channel.
unsigned SlotOf(unsigned socket, unsigned die, unsigned channel);

// Bytes of normalized address space the geometry covers.
uint64_t CapacityOf(const ChannelGeometry& g);

// Throws std::invalid_argument when the geometry cannot be expressed by the
// table or would not decode every address uniquely.
void Validate(const ChannelGeometry& g);

// Clears the slot of g and fills it from g.
void BuildChannelGeometry(atd::ChannelConfigTable& table, const ChannelGeometry& g);

// A plain geometry for a channel of `capacity` bytes: 10 column bits, 4 bank
// bits, 2 chip selects (1 below 512 MiB, 3 for three times a power of two),
// the rest row bits (fewer column bits below 32 MiB per chip select).
// Capacity must be a power of two, or three times one, from 4 MiB to 1 TiB.
ChannelGeometry DefaultGeometry(uint8_t socket, uint8_t die, uint8_t channel, uint64_t capacity);

struct ChannelCapacity {
  uint8_t socket;
  uint8_t die;
  uint8_t channel;
  uint64_t capacity;  // bytes of normalized address space
};

// Entry point for the topology builder: a default geometry for every listed
// channel. Two channels that share a slot must have the same capacity.
void BuildChannelConfig(atd::ChannelConfigTable& table,
                        const std::vector<ChannelCapacity>& channels);

// "Channel slot 3 (socket 0, die 0, channel 3)" for messages.
std::string Describe(const ChannelGeometry& g);

}  // namespace sim::dram
