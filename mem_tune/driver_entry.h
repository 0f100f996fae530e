// Image entry and driver entry of MemTuneSmm.
#pragma once

#include "efi/uefi.h"
#include "pi/smm_sw_dispatch.h"

#include <cstdint>

namespace mts {

constexpr UINTN kMemTuneSwSmiValue = 0x9D;
constexpr UINT8 kMemTuneSwSmiFlags = 0x80;

// Processor signatures (CPUID 0x80000001 EAX, extended family, extended model
// and base family kept) the service supports.
constexpr uint32_t kSignatureMask = 0x0FFF0F00;
constexpr uint32_t kSignatureA = 0x00870F00;
constexpr uint32_t kSignatureB = 0x00830F00;
constexpr uint32_t kSignatureC = 0x00A00F00;
// A signature that is not served but whose other buses are searched by the
// readout.
constexpr uint32_t kSignatureD = 0x00800F00;

uint32_t ProcessorSignature();

// Runs the library constructors, the driver entry (image status starts as
// EFI_LOAD_ERROR and takes the entry's result) and, when that result is an
// error, the library destructor.
EFI_STATUS ImageEntry(EFI_HANDLE imageHandle, EFI_SYSTEM_TABLE* systemTable);

// Checks the processor, locates the dispatch protocol, the mailbox provider
// and the token service, and registers MemTuneSmiHandler for SMI 0x9D.
EFI_STATUS DriverEntry();

}  // namespace mts
