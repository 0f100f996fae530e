/* A recording stand-in for the BaseLib and IoLib functions hw/edk2/ calls,
 * compiled against MdePkg's own declarations (so a prototype that differs
 * from MdePkg's does not compile). Each call is logged with its arguments;
 * each read returns a value made from its arguments, so a test sees whether
 * the value came back unchanged and at the right width. */
#include <Base.h>
#include <Library/BaseLib.h>
#include <Library/IoLib.h>

#include "recording_base_io_lib.h"

RecordedCall gRecordedCalls[kMaxRecordedCalls];
int gRecordedCallCount;

static UINT64 Record(const char* name, UINT64 a, UINT64 b) {
  if (gRecordedCallCount < kMaxRecordedCalls) {
    RecordedCall* c = &gRecordedCalls[gRecordedCallCount];
    c->name = name;
    c->a = a;
    c->b = b;
  }
  ++gRecordedCallCount;
  return 0xF0E1D2C3B4A59687ULL ^ a ^ (b << 1);
}

UINT8 EFIAPI IoRead8(UINTN Port) {
  return (UINT8)Record("IoRead8", Port, 0);
}
UINT16 EFIAPI IoRead16(UINTN Port) {
  return (UINT16)Record("IoRead16", Port, 0);
}
UINT32 EFIAPI IoRead32(UINTN Port) {
  return (UINT32)Record("IoRead32", Port, 0);
}
UINT8 EFIAPI IoWrite8(UINTN Port, UINT8 Value) {
  Record("IoWrite8", Port, Value);
  return Value;
}
UINT16 EFIAPI IoWrite16(UINTN Port, UINT16 Value) {
  Record("IoWrite16", Port, Value);
  return Value;
}
UINT32 EFIAPI IoWrite32(UINTN Port, UINT32 Value) {
  Record("IoWrite32", Port, Value);
  return Value;
}
UINT8 EFIAPI MmioRead8(UINTN Address) {
  return (UINT8)Record("MmioRead8", Address, 0);
}
UINT16 EFIAPI MmioRead16(UINTN Address) {
  return (UINT16)Record("MmioRead16", Address, 0);
}
UINT32 EFIAPI MmioRead32(UINTN Address) {
  return (UINT32)Record("MmioRead32", Address, 0);
}
UINT8 EFIAPI MmioWrite8(UINTN Address, UINT8 Value) {
  Record("MmioWrite8", Address, Value);
  return Value;
}
UINT16 EFIAPI MmioWrite16(UINTN Address, UINT16 Value) {
  Record("MmioWrite16", Address, Value);
  return Value;
}
UINT32 EFIAPI MmioWrite32(UINTN Address, UINT32 Value) {
  Record("MmioWrite32", Address, Value);
  return Value;
}
UINT64 EFIAPI AsmReadMsr64(UINT32 Index) {
  return Record("AsmReadMsr64", Index, 0);
}
UINT64 EFIAPI AsmWriteMsr64(UINT32 Index, UINT64 Value) {
  Record("AsmWriteMsr64", Index, Value);
  return Value;
}
UINT64 EFIAPI AsmMsrOr64(UINT32 Index, UINT64 OrData) {
  return Record("AsmMsrOr64", Index, OrData);
}
UINT32 EFIAPI AsmCpuidEx(UINT32 Index, UINT32 SubIndex, UINT32* Eax, UINT32* Ebx, UINT32* Ecx,
                         UINT32* Edx) {
  Record("AsmCpuidEx", Index, SubIndex);
  if (Eax != NULL) *Eax = Index ^ 0xA;
  if (Ebx != NULL) *Ebx = Index ^ 0xB;
  if (Ecx != NULL) *Ecx = Index ^ 0xC;
  if (Edx != NULL) *Edx = Index ^ 0xD;
  return Index;
}
UINTN EFIAPI AsmReadDr2(VOID) {
  return Record("AsmReadDr2", 0, 0);
}
UINTN EFIAPI AsmWriteDr2(UINTN Value) {
  Record("AsmWriteDr2", Value, 0);
  return Value;
}
UINTN EFIAPI AsmReadDr3(VOID) {
  return Record("AsmReadDr3", 0, 0);
}
UINTN EFIAPI AsmReadDr7(VOID) {
  return Record("AsmReadDr7", 0, 0);
}
UINTN EFIAPI AsmWriteDr7(UINTN Value) {
  Record("AsmWriteDr7", Value, 0);
  return Value;
}
UINTN EFIAPI AsmReadCr4(VOID) {
  return Record("AsmReadCr4", 0, 0);
}
UINTN EFIAPI AsmWriteCr4(UINTN Value) {
  Record("AsmWriteCr4", Value, 0);
  return Value;
}
UINT64 EFIAPI AsmReadTsc(VOID) {
  return Record("AsmReadTsc", 0, 0);
}
VOID EFIAPI CpuPause(VOID) {
  Record("CpuPause", 0, 0);
}
