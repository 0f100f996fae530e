#include "addr_translate/driver_globals.h"

namespace atd {

EFI_MP_SERVICES_PROTOCOL* gMpServices = nullptr;
const PlatformTopologyProtocol* gPlatformTopology = nullptr;
ChannelConfigTable* gChannelConfigTable = nullptr;

}  // namespace atd
