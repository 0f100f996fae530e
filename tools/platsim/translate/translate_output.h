// Pieces of `platsim translate` output shared by the one-address commands and
// the batch: what an error is about, and the fabric reads of --trace.
#pragma once

#include "sim/fabric/data_fabric.h"
#include "sim/profile/profile.h"

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

namespace platsim {

// "system address 0x0000000723456789"
std::string SystemSubject(uint64_t address);
// "normalized address 0x00000000B8D15B89 of socket 0 die 1 channel 2"
std::string NormalizedSubject(uint64_t normalized, uint64_t socket, uint64_t die, uint64_t channel);

// The "note" of a system address whose round trip through slot 1 comes back
// elsewhere.
inline constexpr const char* kLossyMapNote = "the map loses its die and socket interleave bits";

void PrintFabricReads(std::ostream& out, const std::vector<sim::fabric::FabricRead>& reads);
sim::profile::Json FabricReadsJson(const std::vector<sim::fabric::FabricRead>& reads);

}  // namespace platsim
