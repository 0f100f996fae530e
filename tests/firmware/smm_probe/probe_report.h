// The SMM probe's report: one line per check on the debug console,
//   SMMPROBE <check>: PASS|FAIL <detail>
// facts as
//   SMMPROBE <name>: <text>
// and at the end
//   SMMPROBE DONE checks=<n> failures=<m>
// The boot script requires the lines its scenario needs and failures=0.
#pragma once

#include <cstdint>

namespace smmprobe {

class Report {
 public:
  // Starts a check's line ("<name> <aspect>"); Text/Hex/Decimal add to it;
  // End closes it.
  Report& Check(const char* name, const char* aspect, bool ok);
  Report& Text(const char* text);
  Report& Hex(uint64_t value, unsigned digits = 8);
  Report& Decimal(uint64_t value);
  void End();
  // A line that states a fact, no verdict.
  void Fact(const char* name, const char* text);
  void Done();
  unsigned failures() const { return failures_; }

 private:
  unsigned checks_ = 0;
  unsigned failures_ = 0;
};

}  // namespace smmprobe
