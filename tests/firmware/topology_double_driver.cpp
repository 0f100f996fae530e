// A boot-service driver standing in for the platform component that publishes
// PlatformTopologyProtocol: a processor list of the machine's processors and a
// zeroed ChannelConfigTable. Loaded before AddrTranslateDxe in the boot test.
#include "efi/uefi.h"
#include "pi/mp_services.h"
#include "platform_topology_protocol.h"

namespace {

constexpr UINTN kChannelConfigTableBytes = 0xE00;  // up to bankHashBits (0xDE0..0xDE4)
constexpr UINTN kMaxProcessors = 8;

struct Block {
  PlatformTopologyProtocol iface;
  ProcessorListEntry processors[kMaxProcessors];
  alignas(16) uint8_t channelConfigTable[kChannelConfigTableBytes];
};

void Say(EFI_SYSTEM_TABLE* st, const char* text) {
  CHAR16 wide[96];
  unsigned n = 0;
  for (const char* p = text; *p != '\0' && n < 94; ++p) {
    if (*p == '\n') wide[n++] = u'\r';
    wide[n++] = static_cast<CHAR16>(*p);
  }
  wide[n] = 0;
  st->ConOut->OutputString(st->ConOut, wide);
}

}  // namespace

extern "C" EFI_STATUS efi_main(EFI_HANDLE, EFI_SYSTEM_TABLE* st) {
  EFI_BOOT_SERVICES* bs = st->BootServices;
  void* memory = nullptr;
  EFI_STATUS s = bs->AllocatePool(EfiBootServicesData, sizeof(Block), &memory);
  if (s != EFI_SUCCESS) return s;
  bs->SetMem(memory, sizeof(Block), 0);
  auto* block = static_cast<Block*>(memory);

  // One entry per processor MP services know of (the boot processor alone
  // when they are missing).
  UINTN count = 1;
  void* mpIface = nullptr;
  if (bs->LocateProtocol(uefi::GuidArg(kMpServicesProtocolGuid), nullptr, &mpIface) ==
      EFI_SUCCESS) {
    auto* mp = static_cast<EFI_MP_SERVICES_PROTOCOL*>(mpIface);
    UINTN enabled = 0;
    if (mp->GetNumberOfProcessors(mp, &count, &enabled) != EFI_SUCCESS) count = 1;
  }
  if (count > kMaxProcessors) count = kMaxProcessors;
  for (UINTN i = 0; i < count; ++i) {
    block->processors[i].processorNumber = i;
    block->processors[i].info[0] = static_cast<uint8_t>(i);  // socket-style tag bytes
    block->processors[i].info[4] = 0x5A;
  }
  block->iface.processorCount = count;
  block->iface.processors = block->processors;
  block->iface.channelConfigTable = block->channelConfigTable;

  EFI_HANDLE handle = nullptr;
  s = bs->InstallProtocolInterface(&handle, uefi::GuidArg(gPlatformTopologyProtocolGuid),
                                   EFI_NATIVE_INTERFACE, &block->iface);
  Say(st, s == EFI_SUCCESS ? "TopologyDouble: PlatformTopologyProtocol installed\n"
                           : "TopologyDouble: install failed\n");
  return s;
}
