#include "addr_translate/driver_globals.h"

#include "diag/boot_services_table.h"
#include "diag/heap_records.h"
#include "diag/hob_list.h"

namespace atd {

EFI_MP_SERVICES_PROTOCOL* gMpServices = nullptr;
const PlatformTopologyProtocol* gPlatformTopology = nullptr;
ChannelConfigTable* gChannelConfigTable = nullptr;

void ResetDriverGlobals() {
  gMpServices = nullptr;
  gPlatformTopology = nullptr;
  gChannelConfigTable = nullptr;
  diag::gST = nullptr;
  diag::gBS = nullptr;
  diag::ResetHobListCache();
  diag::ResetHeapRecordState();
}

}  // namespace atd
