// Profile section "topology": a machine description that the topology
// builder expands into data-fabric registers. Keys left out take the values
// of the built-in default platform.
#pragma once

#include "sim/profile/profile.h"
#include "sim/topology/topology.h"

#include <optional>

namespace sim::topology {

// What the platform was built from (Platform::Extension<TopologyState>()).
struct TopologyState {
  std::optional<Topology> topology;
  std::optional<Expanded> expanded;
};

Topology TopologyFromJson(const profile::Json& j, const std::string& path);
profile::Json TopologyToJson(const Topology& t);

void LoadTopologySection(const profile::Json& section, const std::string& path, Platform& p);
profile::Json DumpTopologySection(Platform& p);
profile::Json DefaultTopologySection();

}  // namespace sim::topology
