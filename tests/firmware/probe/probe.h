/* The firmware probe: an EFI application, written in C against the public
 * headers as a platform's own driver would be, started from the shell after
 * the drivers are loaded. It looks at what the drivers installed and prints
 * one line per check on the console, which the boot test reads from the
 * serial log:
 *   PROBE <name>: PASS <detail>
 *   PROBE <name>: FAIL <detail>
 *   PROBE DONE checks=<n> failures=<m>
 * Started as `Probe.efi failed-start` it runs only the checks for a boot in
 * which AddrTranslateDxe's entry failed; as `Probe.efi not-dispatched` those
 * for a boot in which the DXE core never ran it.
 *
 * Adding checks: write `void MyCheck(ProbeContext*)` in a source file of this
 * folder (declare it below) and add one line to a table in probe_checks.c.
 * Checks run in table order. */
#pragma once

#include "efi/uefi.h"

#include <stdbool.h>
#include <stdint.h>

typedef struct ProbeContext {
  EFI_HANDLE imageHandle;
  EFI_SYSTEM_TABLE* st;
  EFI_BOOT_SERVICES* bs;
  unsigned checks;
  unsigned failures;
} ProbeContext;

/* The protocol's interface, or null (also printed as a failure of `check`). */
void* ProbeLocate(ProbeContext* ctx, const char* check, const EFI_GUID* guid);
/* One result line. */
void ProbePass(ProbeContext* ctx, const char* check, const char* detail);
void ProbeFail(ProbeContext* ctx, const char* check, const char* detail);
/* PASS when `ok`, else FAIL; returns ok. */
bool ProbeExpect(ProbeContext* ctx, const char* check, bool ok, const char* detail);

/* Console output (ASCII in, "\n" becomes CR LF). */
void ProbePrint(EFI_SYSTEM_TABLE* st, const char* text);
void ProbePrintHex(EFI_SYSTEM_TABLE* st, uint64_t value);

/* Small text builder for detail strings, bounded by its buffer:
 *   ProbeText t; TextHex(TextAdd(TextInit(&t), "status "), s)->buf */
typedef struct ProbeText {
  char buf[160];
  unsigned len;
} ProbeText;
ProbeText* TextInit(ProbeText* t);
ProbeText* TextAdd(ProbeText* t, const char* s);
ProbeText* TextHex(ProbeText* t, uint64_t v);                        /* 0x and 16 digits */
ProbeText* TextHexDigits(ProbeText* t, uint64_t v, unsigned digits); /* digits only */

typedef struct ProbeCheck {
  const char* name;
  void (*run)(ProbeContext* ctx);
} ProbeCheck;
/* Null-terminated (run == null). */
extern const ProbeCheck kProbeChecks[];
extern const ProbeCheck kFailedStartChecks[];
extern const ProbeCheck kNotDispatchedChecks[];
extern const ProbeCheck kMoveWindowChecks[];

/* HeapListProtocol, which AddrTranslateDxe installs when it is the first
 * driver with the heap list: a 64-bit word, then the LIST_ENTRY heading the
 * list of records. */
#define PROBE_HEAP_LIST_PROTOCOL_GUID                \
  {                                                  \
    0xAF62673D, 0xDEDA, 0x43AE, {                    \
      0x8F, 0x03, 0x9C, 0x2D, 0x89, 0xFD, 0x78, 0xDA \
    }                                                \
  }
typedef struct ProbeHeapList {
  uint64_t word;
  LIST_ENTRY head;
} ProbeHeapList;

/* ---- checks ---------------------------------------------------------------
 * probe_frame_checks.c */
void CheckTranslationProtocol(ProbeContext* ctx);
void CheckTranslationProtocolAbsent(ProbeContext* ctx);
void CheckHeapListProtocol(ProbeContext* ctx);
void CheckHeapListProtocolAbsent(ProbeContext* ctx);
void CheckHeapListMemory(ProbeContext* ctx);
/* probe_translation_checks.c */
void CheckTranslationRoundTrip(ProbeContext* ctx);
/* probe_error_checks.c */
void CheckBertAppend(ProbeContext* ctx);
void CheckHestAppend(ProbeContext* ctx);
void CheckMcaAbsentProcessor(ProbeContext* ctx);
/* probe_window_checks.c */
void CheckMoveFabricWindow(ProbeContext* ctx);
