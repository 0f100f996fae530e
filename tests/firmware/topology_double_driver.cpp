// A boot-service driver standing in for the platform component that publishes
// PlatformTopologyProtocol: a processor list of the machine's processors and a
// ChannelConfigTable whose slot 0 (socket 0, die 0, channel 0) describes one
// pair of chip selects, and the BERT and HEST the error slots work on. The DXE
// core dispatches it from the firmware volume (its dependency expression: MP
// services AND the ACPI table protocol, the two services it uses), and
// AddrTranslateDxe, which waits for PlatformTopologyProtocol, after it; the
// failed-start boot loads it from the shell instead.
#include "efi/uefi.h"
#include "pi/acpi_table_protocol.h"
#include "pi/acpi_tables.h"
#include "pi/mp_services.h"
#include "platform_topology_protocol.h"
#include "tests/firmware/smm/debug_console.h"

namespace {

constexpr UINTN kChannelConfigTableBytes = 0xE00;  // up to bankHashBits (0xDE0..0xDE4)
constexpr UINTN kMaxProcessors = 8;

struct Block {
  PlatformTopologyProtocol iface;
  ProcessorListEntry processors[kMaxProcessors];
  alignas(16) uint8_t channelConfigTable[kChannelConfigTableBytes];
};

void Put32(uint8_t* table, UINTN offset, uint32_t value) {
  for (unsigned i = 0; i < 4; ++i) table[offset + i] = static_cast<uint8_t>(value >> (8 * i));
}

// Slot 0, one pair of chip selects:
//   chip select 0, primary range: the addresses with A[31] = 0 (base 0, only
//     bit 23 of A[39:8] compared);
//   chip select 1, secondary range only: A[31] = 1 and A[32] = 0 (A[34:33]
//     not compared), with a secondary mask of 25 set bits, which makes its
//     rows 16 bits wide;
//   4 bank bits at A[13..16], bank bit 0 hashed by column bit 0 and row bit 0;
//   14 row bits from A[18]; 10 column bits from A[3..10], A[11] and A[12]; no
//   rank multiplier. The probe checks slot 1 against it.
void DescribeSlot0(uint8_t* table) {
  table[0x010] = 0x03;              // csPresent[0]: chip selects 0 and 1
  Put32(table, 0x020, 0x00004003);  // bankHashCtl[0][0]: enable, col bit 0, row bit 0
  Put32(table, 0x320, 0x00000000);  // csBase[0][0]
  Put32(table, 0x424, 0x00800000);  // csBaseSec[0][1]: A[31] = 1
  Put32(table, 0x520, 0xFF7FFFFF);  // csMask[0][0]: only bit 23 (A[31]) compared
  Put32(table, 0x5A0, 0x067FFFFF);  // csMaskSec[0][0]: 25 bits set
  Put32(table, 0x620, 0x02050411);  // addrCfg[0][0]: cs 0 primary, cs 1 secondary, 4 banks
                                    // bits, 14 + 0 rows, 10 columns
  Put32(table, 0x720, 0x0000BA98);  // bankAddrSel[0][0]: A[13], A[14], A[15], A[16]
  Put32(table, 0x7A0, 0x00000006);  // rowAddrSel[0][0]: low row bits from A[18]
  Put32(table, 0x820, 0x87654321);  // colAddrSelLo[0][0]: column bit j from A[j + 3]
  Put32(table, 0x8A0, 0x00000043);  // colAddrSelHi[0][0]: column bits 8, 9 from A[11], A[12]
}

// Reports go to the debug console port, which exists from reset on: a driver
// dispatched from the volume may run before the console does, and ConOut is
// null then. When loaded from the shell the console exists and gets the line
// too.
void Say(EFI_SYSTEM_TABLE* st, const char* text) {
  fwtest::DebugText(text);
  if (st->ConOut == nullptr) return;
  CHAR16 wide[96];
  unsigned n = 0;
  for (const char* p = text; *p != '\0' && n < 94; ++p) {
    if (*p == '\n') wide[n++] = u'\r';
    wide[n++] = static_cast<CHAR16>(*p);
  }
  wide[n] = 0;
  st->ConOut->OutputString(st->ConOut, wide);
}

void FillHeader(EFI_ACPI_SDT_HEADER& h, uint32_t signature, uint32_t length) {
  h.Signature = signature;
  h.Length = length;
  h.Revision = 1;
  const char oem[6] = {'T', 'I', 'V', 'F', 'W', ' '};
  const char table[8] = {'T', 'O', 'P', 'O', 'D', 'B', 'L', ' '};
  for (unsigned i = 0; i < 6; ++i) h.OemId[i] = oem[i];
  for (unsigned i = 0; i < 8; ++i) h.OemTableId[i] = table[i];
  h.OemRevision = 1;
  h.CreatorId = 0x4D495354;  // "TSIM"
  h.CreatorRevision = 1;
  h.Checksum = 0;
  const auto* bytes = reinterpret_cast<const uint8_t*>(&h);
  uint8_t sum = 0;
  for (uint32_t i = 0; i < length; ++i) sum = static_cast<uint8_t>(sum + bytes[i]);
  h.Checksum = static_cast<uint8_t>(0 - sum);
}

// The platform's error tables as AddrTranslateDxe finds them at boot: a BERT
// whose boot error region (ACPI NVS pool, which the driver may free when it
// replaces the region) holds an empty generic error status block, and a HEST
// without error sources.
EFI_STATUS InstallErrorTables(EFI_BOOT_SERVICES* bs) {
  void* iface = nullptr;
  EFI_STATUS s = bs->LocateProtocol(uefi::GuidArg(kAcpiTableProtocolGuid), nullptr, &iface);
  if (s != EFI_SUCCESS) return s;
  auto* acpi = static_cast<EFI_ACPI_TABLE_PROTOCOL*>(iface);

  void* region = nullptr;
  s = bs->AllocatePool(EfiACPIMemoryNVS, sizeof(GenericErrorStatusBlock), &region);
  if (s != EFI_SUCCESS) return s;
  auto* block = static_cast<GenericErrorStatusBlock*>(region);
  block->BlockStatus = 0;
  block->RawDataOffset = sizeof(GenericErrorStatusBlock);
  block->RawDataLength = 0;
  block->DataLength = 0;
  block->ErrorSeverity = kSeverityNone;

  AcpiBert bert{};
  bert.BootErrorRegionLength = sizeof(GenericErrorStatusBlock);
  bert.BootErrorRegion = reinterpret_cast<UINTN>(region);
  FillHeader(bert.Header, kBertSignature, sizeof bert);
  UINTN key = 0;
  s = acpi->InstallAcpiTable(acpi, &bert, sizeof bert, &key);
  if (s != EFI_SUCCESS) return s;

  AcpiHestHeader hest{};
  hest.ErrorSourceCount = 0;
  FillHeader(hest.Header, kHestSignature, sizeof hest);
  return acpi->InstallAcpiTable(acpi, &hest, sizeof hest, &key);
}

}  // namespace

extern "C" EFI_STATUS efi_main(EFI_HANDLE, EFI_SYSTEM_TABLE* st) {
  Say(st, st->ConOut == nullptr ? "TopologyDouble: entry, no console yet\n"
                                : "TopologyDouble: entry, console present\n");
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
  DescribeSlot0(block->channelConfigTable);
  block->iface.channelConfigTable = block->channelConfigTable;

  EFI_HANDLE handle = nullptr;
  s = bs->InstallProtocolInterface(&handle, uefi::GuidArg(gPlatformTopologyProtocolGuid),
                                   EFI_NATIVE_INTERFACE, &block->iface);
  Say(st, s == EFI_SUCCESS ? "TopologyDouble: PlatformTopologyProtocol installed\n"
                           : "TopologyDouble: install failed\n");
  if (s != EFI_SUCCESS) return s;
  Say(st, InstallErrorTables(bs) == EFI_SUCCESS ? "TopologyDouble: BERT and HEST installed\n"
                                                : "TopologyDouble: BERT/HEST install failed\n");
  return s;
}
