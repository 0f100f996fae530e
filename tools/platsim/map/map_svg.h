// The address map as a picture (SVG): the system address space drawn to scale
// (long ranges shortened behind a break), maps coloured by socket and die, the
// MMIO hole, gaps and overlaps marked, each map labelled with its interleave,
// and a strip that shows which channel serves each interleave granule at the
// start of one map.
//
// Elements carry what a reader of the file needs to find them again: the bar
// is <g id="address-bar"> with its pieces as rects with data-from/data-to
// (system addresses, the piece's last byte + 1); the strip is <g id="strip">
// with its grid origin, cell size and column count; legend swatches have ids
// "legend-s<socket>d<die>", "legend-hole", "legend-gap", "legend-overlap" and,
// for the strip, "legend-channel-<csFabricId in hex>".
#pragma once

#include "tools/platsim/map/address_map.h"

#include <cstdint>
#include <string>
#include <vector>

namespace platsim::addrmap {

struct StripCell {
  enum class Kind { Channel, Hole, None };
  uint64_t address;
  Kind kind;
  // Kind::Channel: the owner's csFabricId, if the fabric lists a channel with
  // the socket, die and channel the driver named (`listed`); otherwise a key
  // of its own above 16 bits.
  uint32_t fabricId;
  unsigned socket, die, channel;
  bool listed;
};

struct Strip {
  unsigned map;  // CCM map index
  uint64_t base;
  uint64_t granule;
  std::vector<StripCell> cells;  // consecutive granules from base
};

// Enough granules to show the hash of bit 14 (and with it the 64 KiB term)
// at the usual start bit 8.
inline constexpr unsigned kStripGranules = 256;

// The whole picture. `strip` may be null (no map to show). `platform`, the
// line that names the platform, stands under the caption as
// <text id="platform"> (at most two lines, broken at blanks) and whole as the
// document's <desc>.
std::string RenderSvg(const AddressMap& am, const Strip* strip, const std::string& title,
                      const std::string& platform);

}  // namespace platsim::addrmap
