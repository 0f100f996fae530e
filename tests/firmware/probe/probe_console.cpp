#include "probe.h"

namespace probe {

void Print(EFI_SYSTEM_TABLE* st, const char* text) {
  CHAR16 wide[130];
  unsigned n = 0;
  auto flush = [&] {
    wide[n] = 0;
    st->ConOut->OutputString(st->ConOut, wide);
    n = 0;
  };
  for (const char* p = text; *p != '\0'; ++p) {
    if (n >= 126) flush();
    if (*p == '\n') wide[n++] = u'\r';
    wide[n++] = static_cast<CHAR16>(static_cast<unsigned char>(*p));
  }
  if (n != 0) flush();
}

void PrintHex(EFI_SYSTEM_TABLE* st, uint64_t value) {
  Text t;
  t.Hex(value);
  Print(st, t.c_str());
}

Text& Text::Add(const char* s) {
  while (*s != '\0' && len + 1 < sizeof buf) buf[len++] = *s++;
  buf[len] = '\0';
  return *this;
}

Text& Text::Hex(uint64_t v) {
  char digits[19] = "0x";
  for (int i = 0; i < 16; ++i) digits[2 + i] = "0123456789ABCDEF"[(v >> (60 - 4 * i)) & 0xF];
  digits[18] = '\0';
  return Add(digits);
}

void Context::Pass(const char* check, const char* detail) {
  ++checks;
  Print(st, "PROBE ");
  Print(st, check);
  Print(st, ": PASS ");
  Print(st, detail);
  Print(st, "\n");
}

void Context::Fail(const char* check, const char* detail) {
  ++checks;
  ++failures;
  Print(st, "PROBE ");
  Print(st, check);
  Print(st, ": FAIL ");
  Print(st, detail);
  Print(st, "\n");
}

bool Context::Expect(const char* check, bool ok, const char* detail) {
  if (ok) {
    Pass(check, detail);
  } else {
    Fail(check, detail);
  }
  return ok;
}

void* Context::Locate(const char* check, const EFI_GUID& guid) {
  void* iface = nullptr;
  const EFI_STATUS s = bs->LocateProtocol(uefi::GuidArg(guid), nullptr, &iface);
  if (s != EFI_SUCCESS || iface == nullptr) {
    Fail(check, Text().Add("LocateProtocol status ").Hex(s).c_str());
    return nullptr;
  }
  return iface;
}

}  // namespace probe
