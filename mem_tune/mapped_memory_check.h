// Whether the records shared with callers outside SMM lie in memory that
// stays mapped while in SMM. Once the platform locks SMM, its page tables may
// leave boot-services, loader and conventional memory unmapped: a mailbox
// there would fault inside the SMI. Reserved, runtime-services code and data,
// and ACPI NVS memory stay mapped. The UEFI memory map that tells them apart
// exists only while boot services do, so the decision is taken at entry.
#pragma once

#include "efi/uefi.h"

namespace mts {

// Memory types whose pages stay mapped in SMM.
constexpr bool StaysMappedInSmm(UINT32 type) {
  return type == EfiReservedMemoryType || type == EfiRuntimeServicesCode ||
         type == EfiRuntimeServicesData || type == EfiACPIMemoryNVS;
}

// True when every byte of [address, address + length) lies in a descriptor
// of `map` (`mapSize` bytes, one descriptor every `descriptorSize` bytes)
// whose type stays mapped in SMM; the range may span adjacent descriptors.
// False for a range that wraps around, or a descriptor size smaller than the
// record or not a multiple of 8.
bool RangeStaysMapped(const void* map, UINTN mapSize, UINTN descriptorSize, UINT64 address,
                      UINT64 length);

// Takes the memory map through boot services (into a temporary SMM pool
// buffer) and decides for the mailbox and, when there is one, the settings
// record. False when the map cannot be taken: then no record is vouched for.
bool SharedRecordsStayMapped(UINT64 mailbox, UINT64 mailboxLength, UINT64 settings,
                             UINT64 settingsLength);

}  // namespace mts
