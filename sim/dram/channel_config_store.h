// The simulated platform's ChannelConfigTable: one per Platform, zeroed when
// first asked for, 8-byte aligned, alive as long as the platform. Hand its
// address to the PlatformTopologyProtocol double (sim/topology/topology_double.h).
#pragma once

#include "registers/channel_config.h"
#include "sim/platform/platform.h"

namespace sim::dram {

atd::ChannelConfigTable& ChannelConfigOf(Platform& platform);

}  // namespace sim::dram
