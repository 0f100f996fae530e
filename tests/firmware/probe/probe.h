// The firmware probe: an EFI application started from the shell after the
// drivers are loaded. It looks at what the drivers installed and prints one
// line per check on the console, which the boot test reads from the serial
// log:
//   PROBE <name>: PASS <detail>
//   PROBE <name>: FAIL <detail>
//   PROBE DONE checks=<n> failures=<m>
//
// Adding checks: write `void MyCheck(probe::Context&)` in a new source file of
// this folder (declare it below), and add one line to kProbeChecks in
// probe_checks.cpp. Checks run in table order.
#pragma once

#include "efi/uefi.h"

#include <cstdint>

namespace probe {

struct Context {
  EFI_HANDLE imageHandle;
  EFI_SYSTEM_TABLE* st;
  EFI_BOOT_SERVICES* bs;
  unsigned checks = 0;
  unsigned failures = 0;

  // The protocol's interface, or null (also printed as a failure of `check`).
  void* Locate(const char* check, const EFI_GUID& guid);
  // One result line.
  void Pass(const char* check, const char* detail);
  void Fail(const char* check, const char* detail);
  // PASS when `ok`, else FAIL; returns ok.
  bool Expect(const char* check, bool ok, const char* detail);
};

// Console output (ASCII in, "\n" becomes CR LF).
void Print(EFI_SYSTEM_TABLE* st, const char* text);
void PrintHex(EFI_SYSTEM_TABLE* st, uint64_t value);

// Small text builder for detail strings, bounded by its buffer.
struct Text {
  char buf[160];
  unsigned len = 0;
  Text() { buf[0] = '\0'; }
  Text& Add(const char* s);
  Text& Hex(uint64_t v);
  const char* c_str() const { return buf; }
};

struct Check {
  const char* name;
  void (*run)(Context&);
};
// Null-terminated (run == nullptr).
extern const Check kProbeChecks[];

// ---- checks -----------------------------------------------------------------
// probe_frame_checks.cpp
void CheckTranslationProtocol(Context& ctx);
void CheckHeapListProtocol(Context& ctx);
// probe_error_checks.cpp
void CheckBertAppend(Context& ctx);
void CheckHestAppend(Context& ctx);
void CheckMcaAbsentProcessor(Context& ctx);

}  // namespace probe
