// AddrTranslateDxe's driver-wide pointers bound to a simulated platform for
// calls made straight into an operation (not through the TranslationProtocol
// the image entry installs): what the driver entry would have kept, for the
// length of one scope. The earlier values come back at its end.
//
// Header-only, like addr_translate_driver.h: it is compiled into the program
// that links one of the driver's host libraries.
#pragma once

#include "addr_translate/driver_globals.h"
#include "diag/boot_services_table.h"
#include "platform_topology_protocol.h"
#include "sim/platform/platform.h"

namespace sim {

class AddrTranslateBindings {
 public:
  // Boot services always; MP services and the topology protocol when given
  // (the machine-check capture needs both).
  explicit AddrTranslateBindings(Platform& p, EFI_MP_SERVICES_PROTOCOL* mpServices = nullptr,
                                 const PlatformTopologyProtocol* topology = nullptr)
      : bs_(diag::gBS), mp_(atd::gMpServices), topology_(atd::gPlatformTopology) {
    diag::gBS = p.BootServices();
    atd::gMpServices = mpServices;
    atd::gPlatformTopology = topology;
  }
  ~AddrTranslateBindings() {
    diag::gBS = bs_;
    atd::gMpServices = mp_;
    atd::gPlatformTopology = topology_;
  }
  AddrTranslateBindings(const AddrTranslateBindings&) = delete;
  AddrTranslateBindings& operator=(const AddrTranslateBindings&) = delete;

 private:
  EFI_BOOT_SERVICES* bs_;
  EFI_MP_SERVICES_PROTOCOL* mp_;
  const PlatformTopologyProtocol* topology_;
};

}  // namespace sim
