// UEFI base types, tables and status codes from gnu-efi, usable from C++ and
// from C (the public headers are). gnu-efi's headers carry no extern "C"
// guards of their own.
#pragma once

#include "language_bridge.h"

#ifdef TIV_EDK2
// An EDK II module: MdePkg's base types, tables and status codes. The
// module's AutoGen.h (included first into every source, with C linkage) has
// them already; MdePkg's EFIAPI is the Microsoft convention there.
#ifdef __cplusplus
extern "C" {
#endif
#include <Uefi.h>
#ifdef __cplusplus
}
#endif
#else
// Without it gnu-efi's EFIAPI expands to nothing and every call through a
// firmware table silently uses the System V convention.
#ifndef GNU_EFI_USE_MS_ABI
#error "GNU_EFI_USE_MS_ABI must be defined: EFIAPI would not be the UEFI calling convention"
#endif

#ifdef __cplusplus
extern "C" {
#endif
#include <efi.h>
#ifdef __cplusplus
}
#endif
#endif  // TIV_EDK2

#ifdef __cplusplus
#include <cstdint>

namespace uefi {

// gnu-efi declares GUID arguments as non-const pointers; our GUIDs are
// constants in read-only data and are never written through these pointers.
inline EFI_GUID* GuidArg(const EFI_GUID& guid) {
  return const_cast<EFI_GUID*>(&guid);
}

// The two links of a LIST_ENTRY: Flink and Blink in gnu-efi, ForwardLink and
// BackLink in MdePkg.
#ifdef TIV_EDK2
inline LIST_ENTRY*& ListForward(LIST_ENTRY* entry) {
  return entry->ForwardLink;
}
inline LIST_ENTRY*& ListBack(LIST_ENTRY* entry) {
  return entry->BackLink;
}
#else
inline LIST_ENTRY*& ListForward(LIST_ENTRY* entry) {
  return entry->Flink;
}
inline LIST_ENTRY*& ListBack(LIST_ENTRY* entry) {
  return entry->Blink;
}
#endif

inline bool SameGuid(const EFI_GUID& a, const EFI_GUID& b) {
  const auto* x = reinterpret_cast<const uint8_t*>(&a);
  const auto* y = reinterpret_cast<const uint8_t*>(&b);
  for (unsigned i = 0; i < sizeof(EFI_GUID); ++i) {
    if (x[i] != y[i]) return false;
  }
  return true;
}

}  // namespace uefi

// Status codes used by the system, with their UEFI values.
static_assert(EFI_SUCCESS == 0);
static_assert(EFI_INVALID_PARAMETER == 0x8000000000000002ULL);
static_assert(EFI_UNSUPPORTED == 0x8000000000000003ULL);
static_assert(EFI_VOLUME_FULL == 0x800000000000000BULL);
static_assert(EFI_NOT_FOUND == 0x800000000000000EULL);
static_assert(EFI_PROTOCOL_ERROR == 0x8000000000000018ULL);

#endif  // __cplusplus
