// DRAM coordinates for people and for --json, as every command shows them:
// the coordinates the driver gave, or "none" with the reason where the
// channel has no DIMM geometry (the ChannelConfigTable has no slot for it and
// the translation writes zeros, which are no coordinates).
#pragma once

#include "dram_address.h"
#include "sim/profile/profile.h"

#include <string>
#include <string_view>

namespace platsim {

// Why the channel has no DRAM coordinates, or empty when it has them:
// "channel slot 18 is beyond the 16 slots of the channel configuration
// table: no DIMM geometry".
std::string NoDramReason(unsigned socket, unsigned die, unsigned channel);

// One answer's coordinates, or none with the reason.
struct ShownDram {
  DramAddress coordinates{};
  std::string none;  // the reason there are none; empty: the coordinates stand

  explicit ShownDram(const DramAddress& d) : coordinates(d) {}
  ShownDram(const DramAddress& d, unsigned socket, unsigned die, unsigned channel)
      : coordinates(d), none(NoDramReason(socket, die, channel)) {}
  bool Has() const { return none.empty(); }
};

// Text: "chip select 1, bank 9, row 0xABC, column 0x1A5, rank multiplier 1"
// or "none (REASON)". JSON: {"chipSelect":1,"bank":9,"row":2748,"col":421,
// "rankMul":1} or null. `Out` has operator<<(std::string_view), Dec and Hex
// (tools::LineWriter, or the string writer the functions below use).
template <class Out>
void WriteDramText(Out& out, const ShownDram& s) {
  if (!s.Has()) {
    out << "none (" << std::string_view(s.none) << ")";
    return;
  }
  const DramAddress& d = s.coordinates;
  out << "chip select ";
  out.Dec(d.chipSelect) << ", bank ";
  out.Dec(d.bank) << ", row ";
  out.Hex(d.row) << ", column ";
  out.Hex(d.col) << ", rank multiplier ";
  out.Dec(d.rankMul);
}

template <class Out>
void WriteDramJson(Out& out, const ShownDram& s) {
  if (!s.Has()) {
    out << "null";
    return;
  }
  const DramAddress& d = s.coordinates;
  out << "{\"chipSelect\":";
  out.Dec(d.chipSelect) << ",\"bank\":";
  out.Dec(d.bank) << ",\"row\":";
  out.Dec(d.row) << ",\"col\":";
  out.Dec(d.col) << ",\"rankMul\":";
  out.Dec(d.rankMul) << '}';
}

// The key beside a null "dram" (and "dramBack") that gives the reason.
inline constexpr const char* kDramNoteKey = "dramNote";

std::string DramText(const ShownDram& s);
sim::profile::Json DramJson(const ShownDram& s);
// `key` = the coordinates or null, and for null kDramNoteKey = the reason.
void AddDramJson(sim::profile::Json& j, const char* key, const ShownDram& s);

// Coordinates that are given (asked for, or read back): always shown.
inline std::string FormatDram(const DramAddress& d) {
  return DramText(ShownDram(d));
}
inline sim::profile::Json DramJson(const DramAddress& d) {
  return DramJson(ShownDram(d));
}

}  // namespace platsim
