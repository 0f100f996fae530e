// The kernel log reader on random text. The bytes are the log, given as a
// buffer of their exact size so the sanitizers catch any read past it. Every
// error and every Unparsed line must name a line of the input; every line is
// either read, listed or counted (no line vanishes); time text parses to a
// time or to nothing.
#include "tools/platsim/logs/log_text.h"

#include <algorithm>
#include <string>
#include <vector>

namespace {

void Check(bool ok) {
  if (!ok) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::vector<char> text(data, data + size);
  const std::string_view view(text.data(), text.size());
  const uint64_t lines = static_cast<uint64_t>(std::count(view.begin(), view.end(), '\n')) +
                         (view.empty() || view.back() == '\n' ? 0 : 1);
  const platsim::logs::LogRead r = platsim::logs::ReadKernelLog(view, "fuzz.log", "fuzz.log");
  for (const auto& e : r.errors) {
    Check(e.line >= 1 && e.line <= lines);
    if (e.address && e.mca) Check(e.mca->addr == e.address);
  }
  for (const auto& u : r.unparsed) {
    Check(u.line >= 1 && u.line <= lines);
    Check(!u.reason.empty());
  }
  Check(r.notes.size() <= 1);
  // The first line as time text as well.
  (void)platsim::logs::ParseTimeText(view.substr(0, view.find('\n')));
  return 0;
}
