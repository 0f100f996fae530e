#include "tests/firmware/smm_probe/probe_report.h"

#include "tests/firmware/smm/debug_console.h"

namespace smmprobe {

using fwtest::DebugDecimal;
using fwtest::DebugHex;
using fwtest::DebugText;

Report& Report::Check(const char* name, const char* aspect, bool ok) {
  ++checks_;
  if (!ok) ++failures_;
  DebugText("SMMPROBE ");
  DebugText(name);
  if (aspect != nullptr && *aspect) {
    DebugText(" ");
    DebugText(aspect);
  }
  DebugText(ok ? ": PASS" : ": FAIL");
  return *this;
}

Report& Report::Text(const char* text) {
  DebugText(" ");
  DebugText(text);
  return *this;
}

Report& Report::Hex(uint64_t value, unsigned digits) {
  DebugText(" ");
  DebugHex(value, digits);
  return *this;
}

Report& Report::Decimal(uint64_t value) {
  DebugText(" ");
  DebugDecimal(value);
  return *this;
}

void Report::End() {
  DebugText("\n");
}

void Report::Fact(const char* name, const char* text) {
  DebugText("SMMPROBE ");
  DebugText(name);
  DebugText(": ");
  DebugText(text);
  DebugText("\n");
}

void Report::Done() {
  DebugText("SMMPROBE DONE checks=");
  DebugDecimal(checks_);
  DebugText(" failures=");
  DebugDecimal(failures_);
  DebugText("\n");
}

}  // namespace smmprobe
