// Driver-wide pointers of AddrTranslateDxe, each written once during start-up
// and only read afterwards.
#pragma once

#include "channel_config_table.h"
#include "efi/uefi.h"
#include "pi/mp_services.h"
#include "platform_topology_protocol.h"

namespace atd {

extern EFI_MP_SERVICES_PROTOCOL* gMpServices;              // driver entry step 2
extern const PlatformTopologyProtocol* gPlatformTopology;  // driver entry step 3
extern ChannelConfigTable* gChannelConfigTable;            // driver entry step 4

// Back to the state of a freshly loaded image: the pointers above, gST/gBS,
// the cached HOB list and the heap list. A loaded image starts this way;
// host tests call it before each simulated boot.
void ResetDriverGlobals();

}  // namespace atd
