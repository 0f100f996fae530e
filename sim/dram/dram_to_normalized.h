// DRAM coordinates -> normalized address: the inverse of the memory
// controller's address mapping, worked out from a channel slot of the
// ChannelConfigTable. The drivers have no such operation; tools use it to go
// from a failing DIMM location (chip select, bank, row, column) back to the
// addresses that reach it.
//
// Every bank, row, column and rank-multiplier bit is one address bit, or one
// address bit XOR a parity of others (the chip-select and rank-multiplier
// hashes fold in address bits, the bank hashes fold in the column and row,
// which are given). So for each chip select and range that could have
// matched, the wanted coordinates form a system of linear equations over
// GF(2) in the address bits; its solutions, less those that an earlier chip
// select would have caught, are the answer.
#pragma once

#include "registers/channel_config.h"
#include "dram_address.h"

#include <cstdint>
#include <string>
#include <vector>

namespace sim::dram {

struct DramToNormalized {
  // The normalized addresses that map to the coordinates, ascending, with the
  // offset bits (below) zero. At most the `limit` lowest are listed.
  std::vector<uint64_t> addresses;
  // How many there are in all (saturates at 2^63); more than
  // addresses.size() when the list was cut.
  uint64_t count = 0;
  // Address bits below the lowest bit the coordinates depend on: the bytes
  // of one access. Any value of them gives the same coordinates.
  unsigned offsetBits = 0;
  // Why nothing maps there, when count is 0.
  std::string reason;
};

// Solves for the normalized addresses below 2^64 whose bits the table reads.
// Address bits above the highest bit the table reads are taken as zero (the
// table cannot tell those addresses apart; the channel's size decides which
// exist). `slot` is (socket + die) * 8 + channel, below 16.
DramToNormalized NormalizedFromDram(const atd::ChannelConfigTable& table, unsigned slot,
                                    const DramAddress& dram, size_t limit = 16);

}  // namespace sim::dram
