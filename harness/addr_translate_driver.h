// Starts AddrTranslateDxe on a simulated platform the way firmware would:
// MP services and the platform's topology protocol are installed first, the
// HOB list is in the configuration table, the image entry runs on a freshly
// loaded driver, and callers then go through the TranslationProtocol record
// it installed.
//
// Header-only on purpose: the host libraries of the driver (tiv_atd,
// tiv_atd_diag) link the simulator, not the other way round, so the start-up
// code is compiled into the program that links one of them. It lives above
// both: the simulator includes nothing of the drivers.
#pragma once

#include "addr_translate/driver_entry.h"
#include "addr_translate/driver_globals.h"
#include "pi/hob.h"
#include "sim/dram/channel_config_store.h"
#include "sim/platform/hob_builder.h"
#include "sim/mca/mca_banks.h"
#include "sim/platform/platform.h"
#include "sim/topology/topology_double.h"
#include "translation_protocol.h"

#include <cstdint>
#include <vector>

namespace sim {

class AddrTranslateDriver {
 public:
  // Boots the driver on `p` (which must outlive this object). The topology
  // protocol points at the platform's ChannelConfigTable and at the processor
  // list of the machine-check banks, if the platform has one. `hobs` is the
  // HOB list to publish; the default holds only the end HOB.
  explicit AddrTranslateDriver(Platform& p, const HobListBuilder& hobs = HobListBuilder())
      : hobList_(hobs.Build()) {
    atd::ResetDriverGlobals();
    p.SetConfigurationTable(kHobListGuid, hobList_.data());
    if (p.Find(kMpServicesProtocolGuid) == nullptr) p.InstallMpServices();
    topology_.Install(p, &dram::ChannelConfigOf(p));
    // The processor list the machine-check banks were described with (the
    // platform keeps it; add processors before starting the driver).
    auto& processors = mca::Processors(p).entries;
    topology_.iface.processorCount = processors.size();
    topology_.iface.processors = processors.empty() ? nullptr : processors.data();
    status_ = atd::ImageEntry(p.ImageHandle(), p.SystemTable());
    if (status_ == EFI_SUCCESS)
      protocol_ = static_cast<TranslationProtocol*>(p.Find(gTranslationProtocolGuid));
  }
  // The driver's globals point into this platform: forget them.
  ~AddrTranslateDriver() { atd::ResetDriverGlobals(); }
  AddrTranslateDriver(const AddrTranslateDriver&) = delete;
  AddrTranslateDriver& operator=(const AddrTranslateDriver&) = delete;

  // What the image entry returned.
  EFI_STATUS Status() const { return status_; }
  // The installed record; null when the entry failed.
  TranslationProtocol* Protocol() const { return protocol_; }
  PlatformTopologyProtocol& Topology() { return topology_.iface; }

 private:
  std::vector<uint64_t> hobList_;
  TopologyDouble topology_;
  EFI_STATUS status_ = EFI_NOT_STARTED;
  TranslationProtocol* protocol_ = nullptr;
};

}  // namespace sim
