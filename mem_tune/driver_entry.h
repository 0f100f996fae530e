// Image entry and driver entry of MemTuneSmm.
#pragma once

#include "efi/uefi.h"
#include "pi/smm_sw_dispatch.h"

#include <cstdint>

namespace mts {

constexpr UINTN kMemTuneSwSmiValue = 0x9D;
constexpr UINT8 kMemTuneSwSmiFlags = 0x80;

// Processor signatures: CPUID 0x80000001 EAX with extended family, extended
// model and base family kept (base model and stepping dropped). They differ in
// how the readout finds a channel in use: how many channels of bus 0 it tries,
// and whether it goes on to the buses of the other dies.
constexpr uint32_t kSignatureMask = 0x0FFF0F00;
// Served; channels 0 and 1 of bus 0.
constexpr uint32_t kSignatureTwoChannels = 0x00870F00;
// Served; channels 0 to 7 of bus 0.
constexpr uint32_t kSignatureEightChannels = 0x00830F00;
// Served; channels 0 to 7 of bus 0, then channels 0 and 1 of the other dies.
constexpr uint32_t kSignatureEightChannelsOtherDies = 0x00A00F00;
// Not served (the driver stays idle); its readout would try channels 0 and 1
// of bus 0, then those of the other dies.
constexpr uint32_t kSignatureUnservedOtherDies = 0x00800F00;

uint32_t ProcessorSignature();

// Runs the library constructors, the driver entry (image status starts as
// EFI_LOAD_ERROR and takes the entry's result) and, when that result is an
// error, the library destructor.
EFI_STATUS ImageEntry(EFI_HANDLE imageHandle, EFI_SYSTEM_TABLE* systemTable);

// Checks the processor, locates the dispatch protocol, the mailbox provider
// and the token service, and registers MemTuneSmiHandler for SMI 0x9D.
EFI_STATUS DriverEntry();

}  // namespace mts
