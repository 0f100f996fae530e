// Input files read whole or line by line: "-" is standard input, and what
// cannot be a record, a profile or a list of addresses (a directory, a device
// such as /dev/zero, an unreadable or oversized file) is refused with an
// InputError (exit code 2) before anything is read from it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <fstream>
#include <istream>
#include <string>
#include <vector>

namespace tools {

// What a whole-file read takes at the most unless the caller says otherwise:
// far more than any ACPI table, error region or profile.
inline constexpr std::size_t kInputLimitBytes = 64u << 20;

// The whole of `path` ("-": standard input) as bytes. `what` names the input
// in messages ("BERT region", "profile"...), `reader` the program that refuses
// an oversized one ("... more than platsim reads").
std::vector<uint8_t> ReadInputBytes(const std::string& path, const std::string& what,
                                    const std::string& reader,
                                    std::size_t maxBytes = kInputLimitBytes);

// A checked input to read as a stream (line by line, of any length): standard
// input for "-", otherwise the opened file.
class InputStream {
 public:
  InputStream(const std::string& path, const std::string& what);
  std::istream& get() { return stdin_ ? *stdin_ : file_; }
  const std::string& name() const { return name_; }

 private:
  std::ifstream file_;
  std::istream* stdin_ = nullptr;
  std::string name_;
};

}  // namespace tools
