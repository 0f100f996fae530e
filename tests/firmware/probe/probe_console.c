#include "probe.h"

void ProbePrint(EFI_SYSTEM_TABLE* st, const char* text) {
  CHAR16 wide[130];
  unsigned n = 0;
  for (const char* p = text; *p != '\0'; ++p) {
    if (n >= 126) {
      wide[n] = 0;
      st->ConOut->OutputString(st->ConOut, wide);
      n = 0;
    }
    if (*p == '\n') wide[n++] = '\r';
    wide[n++] = (CHAR16)(unsigned char)*p;
  }
  if (n != 0) {
    wide[n] = 0;
    st->ConOut->OutputString(st->ConOut, wide);
  }
}

void ProbePrintHex(EFI_SYSTEM_TABLE* st, uint64_t value) {
  ProbeText t;
  ProbePrint(st, TextHex(TextInit(&t), value)->buf);
}

ProbeText* TextInit(ProbeText* t) {
  t->len = 0;
  t->buf[0] = '\0';
  return t;
}

ProbeText* TextAdd(ProbeText* t, const char* s) {
  while (*s != '\0' && t->len + 1 < sizeof t->buf) t->buf[t->len++] = *s++;
  t->buf[t->len] = '\0';
  return t;
}

ProbeText* TextHexDigits(ProbeText* t, uint64_t v, unsigned digits) {
  char d[17];
  if (digits > 16) digits = 16;
  for (unsigned i = 0; i < digits; ++i)
    d[i] = "0123456789ABCDEF"[(v >> (4 * (digits - 1 - i))) & 0xF];
  d[digits] = '\0';
  return TextAdd(t, d);
}

ProbeText* TextHex(ProbeText* t, uint64_t v) {
  return TextHexDigits(TextAdd(t, "0x"), v, 16);
}

static void Result(ProbeContext* ctx, const char* check, const char* verdict, const char* detail) {
  ++ctx->checks;
  ProbePrint(ctx->st, "PROBE ");
  ProbePrint(ctx->st, check);
  ProbePrint(ctx->st, verdict);
  ProbePrint(ctx->st, detail);
  ProbePrint(ctx->st, "\n");
}

void ProbePass(ProbeContext* ctx, const char* check, const char* detail) {
  Result(ctx, check, ": PASS ", detail);
}

void ProbeFail(ProbeContext* ctx, const char* check, const char* detail) {
  ++ctx->failures;
  Result(ctx, check, ": FAIL ", detail);
}

bool ProbeExpect(ProbeContext* ctx, const char* check, bool ok, const char* detail) {
  if (ok) {
    ProbePass(ctx, check, detail);
  } else {
    ProbeFail(ctx, check, detail);
  }
  return ok;
}

void* ProbeLocate(ProbeContext* ctx, const char* check, const EFI_GUID* guid) {
  void* iface = 0;
  const EFI_STATUS s = ctx->bs->LocateProtocol((EFI_GUID*)guid, 0, &iface);
  if (s != EFI_SUCCESS || iface == 0) {
    ProbeText t;
    ProbeFail(ctx, check, TextHex(TextAdd(TextInit(&t), "LocateProtocol status "), s)->buf);
    return 0;
  }
  return iface;
}
