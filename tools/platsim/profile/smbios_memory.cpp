#include "tools/platsim/profile/smbios_memory.h"

#include "tools/common/hex_text.h"
#include "tools/platsim/cli/options.h"

#include <cstring>

namespace platsim::smbios {

namespace {

uint16_t U16(std::span<const uint8_t> b, size_t at) {
  return static_cast<uint16_t>(b[at] | b[at + 1] << 8);
}
uint32_t U32(std::span<const uint8_t> b, size_t at) {
  return U16(b, at) | static_cast<uint32_t>(U16(b, at + 2)) << 16;
}
uint64_t U64(std::span<const uint8_t> b, size_t at) {
  return U32(b, at) | static_cast<uint64_t>(U32(b, at + 4)) << 32;
}

// Where the structures start and how many bytes they take: after an entry
// point when the file starts with one (the address it names is an offset in
// the file, as dmidecode writes it), otherwise at 0.
std::span<const uint8_t> Structures(std::span<const uint8_t> b) {
  auto starts = [&](const char* magic) {
    const size_t n = std::strlen(magic);
    return b.size() >= n && std::memcmp(b.data(), magic, n) == 0;
  };
  uint64_t at = 0, size = b.size();
  if (starts("_SM3_")) {
    if (b.size() < 24) throw UserError("the SMBIOS 3.0 entry point is cut short");
    size = U32(b, 0x0C);
    at = U64(b, 0x10);
  } else if (starts("_SM_")) {
    if (b.size() < 31) throw UserError("the SMBIOS 2.1 entry point is cut short");
    size = U16(b, 0x16);
    at = U32(b, 0x18);
  } else {
    return b;
  }
  if (at >= b.size())
    throw UserError("the entry point places the table at " + tools::Hex(at) + ", beyond the " +
                    std::to_string(b.size()) +
                    " bytes of the file (not a dmidecode --dump-bin "
                    "file?)");
  return b.subspan(static_cast<size_t>(at),
                   static_cast<size_t>(std::min<uint64_t>(size, b.size() - at)));
}

}  // namespace

Table ReadMemoryDevices(std::span<const uint8_t> file) {
  const std::span<const uint8_t> b = Structures(file);
  const size_t base = static_cast<size_t>(b.data() - file.data());
  Table t;
  size_t at = 0;
  bool any = false;
  while (at + 4 <= b.size()) {
    const uint8_t type = b[at], length = b[at + 1];
    if (length < 4 || at + length > b.size()) {
      t.damage.push_back("structure at offset " + tools::Hex(base + at) + " (type " +
                         std::to_string(type) + ") has length " + std::to_string(length) +
                         ", which does not fit");
      break;
    }
    // The strings after the formatted area: each NUL-terminated, the set
    // ended by one more NUL (two NULs when there are none).
    std::vector<std::string> strings;
    size_t s = at + length;
    bool ended = false;
    if (s + 1 < b.size() && b[s] == 0 && b[s + 1] == 0) {
      s += 2;
      ended = true;
    }
    while (!ended && s < b.size()) {
      std::string cur;
      while (s < b.size() && b[s] != 0) cur += static_cast<char>(b[s++]);
      if (s >= b.size()) break;
      strings.push_back(cur);
      ++s;  // its NUL
      if (s < b.size() && b[s] == 0) {
        ++s;
        ended = true;
      }
    }
    if (!ended) {
      t.damage.push_back("structure at offset " + tools::Hex(base + at) +
                         ": its strings run past the end of the table");
      break;
    }
    any = true;
    auto str = [&](size_t field) -> std::string {
      if (field >= length) return "";
      const uint8_t n = b[at + field];
      if (n == 0) return "";
      if (n > strings.size()) return "(string " + std::to_string(n) + " missing)";
      return strings[n - 1];
    };
    if (type == 17 && length >= 0x15) {  // SMBIOS 2.1's 0x15 bytes and up
      MemoryDevice d;
      d.handle = U16(b, at + 2);
      d.offset = base + at;
      d.locator = str(0x10);
      d.bankLocator = str(0x11);
      const uint16_t size = U16(b, at + 0x0C);
      if (size == 0x7FFF && length >= 0x20)
        d.sizeBytes = uint64_t{U32(b, at + 0x1C) & 0x7FFFFFFF} << 20;
      else if (size != 0xFFFF && size != 0x7FFF)
        d.sizeBytes = (size & 0x8000) ? uint64_t{size & 0x7FFFu} << 10 : uint64_t{size} << 20;
      const uint16_t speed = length >= 0x17 ? U16(b, at + 0x15) : 0;
      if (speed != 0 && speed != 0xFFFF) d.speed = speed;
      d.manufacturer = str(0x17);
      d.serial = str(0x18);
      d.part = str(0x1A);
      if (length >= 0x1C && (b[at + 0x1B] & 0x0F) != 0) d.ranks = b[at + 0x1B] & 0x0Fu;
      t.devices.push_back(std::move(d));
    }
    at = s;
    if (type == 127) break;  // end of table
  }
  if (!any) throw UserError("no SMBIOS structure found: not a DMI table");
  return t;
}

}  // namespace platsim::smbios
