// Test double of PlatformTopologyProtocol: a processor list and a
// ChannelConfigTable pointer, installed on a handle of the simulated platform.
#pragma once

#include "platform_topology_protocol.h"
#include "sim/platform/platform.h"

#include <vector>

namespace sim {

struct TopologyDouble {
  PlatformTopologyProtocol iface{};
  std::vector<ProcessorListEntry> processors;
  EFI_HANDLE handle = nullptr;

  // Points the interface at `processors` and `table`, then installs it.
  void Install(Platform& p, void* channelConfigTable) {
    Sync(channelConfigTable);
    p.Install(&handle, gPlatformTopologyProtocolGuid, &iface);
  }
  void Sync(void* channelConfigTable) {
    iface.processorCount = processors.size();
    iface.processors = processors.empty() ? nullptr : processors.data();
    iface.channelConfigTable = channelConfigTable;
  }
};

}  // namespace sim
