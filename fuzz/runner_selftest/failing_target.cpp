// A fuzz target that fails on a known input from its seed corpus, in one of
// the two ways the fuzz runner must notice: "crash" traps, as a sanitizer
// finding does; "exit" ends the process with status 0 in the middle of the
// run, as a target that calls _exit would.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  if (input == "runner self-test: crash") __builtin_trap();
  if (input == "runner self-test: exit") _exit(0);
  return 0;
}
