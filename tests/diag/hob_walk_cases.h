// HOB lists and the HOBs a GUID lookup must find in them, shared by the two
// instances of diag/hob_list.h: diag/hob_list.cpp (the host build's, tests/diag)
// and diag/edk2/hob_list_edk2.cpp over MdePkg's DxeHobLib (tests/edk2). Plain
// bytes: neither gnu-efi's nor MdePkg's types are needed to read them.
#pragma once

#include <array>
#include <cstdint>
#include <cstring>
#include <vector>

namespace hobcases {

using Guid = std::array<uint8_t, 16>;
inline const Guid kA = {0x1A, 0x16, 0x1D, 0xD9, 0xCD, 0x16, 0xDA, 0x4A,
                        0xB9, 0xF6, 0xAE, 0xC3, 0xF9, 0xFC, 0xCC, 0x2C};
inline const Guid kB = {0x1A, 0x16, 0x1D, 0xD9, 0xCD, 0x16, 0xDA, 0x4A, 0xB9,
                        0xF6, 0xAE, 0xC3, 0xF9, 0xFC, 0xCC, 0x2D};  // differs in the last byte

// One HOB: a GUID extension named `name` with `dataBytes` of data (its length
// rounded up to 8), or (name null) a resource descriptor, 48 bytes.
struct Hob {
  const Guid* name;
  uint16_t dataBytes;
};

// The list in 8-byte aligned storage, with the end HOB; `offsets` gets each
// HOB's offset.
inline std::vector<uint64_t> Build(const Hob* hobs, int count, std::vector<size_t>* offsets) {
  std::vector<uint8_t> bytes;
  const auto header = [&bytes](uint16_t type, uint16_t length) {
    const size_t at = bytes.size();
    bytes.resize(at + length, 0);
    std::memcpy(&bytes[at], &type, 2);
    std::memcpy(&bytes[at + 2], &length, 2);
    return at;
  };
  for (int i = 0; i < count; ++i) {
    const Hob& h = hobs[i];
    offsets->push_back(bytes.size());
    if (h.name == nullptr) {
      header(0x0003, 48);
    } else {
      const size_t at = header(0x0004, static_cast<uint16_t>((24 + h.dataBytes + 7) & ~7));
      std::memcpy(&bytes[at + 8], h.name->data(), 16);
    }
  }
  header(0xFFFF, 8);
  std::vector<uint64_t> list((bytes.size() + 7) / 8);
  std::memcpy(list.data(), bytes.data(), bytes.size());
  return list;
}

constexpr int kNone = -1;

// A lookup of `name` from the list's start (after < 0) or after HOB number
// `after`, and the number of the HOB it must find.
struct Case {
  const char* what;
  int count;  // HOBs before the end HOB
  Hob hobs[4];
  const Guid* name;
  int after;
  int found;
};

inline const Case kCases[] = {
    {"the only HOB", 1, {{&kA, 0}}, &kA, kNone, 0},
    {"another name only", 1, {{&kB, 0}}, &kA, kNone, kNone},
    {"an empty list", 0, {}, &kA, kNone, kNone},
    {"past other kinds and another name",
     4,
     {{nullptr, 0}, {&kB, 8}, {&kA, 5}, {&kA, 0}},
     &kA,
     kNone,
     2},
    {"the next one of the same name", 4, {{nullptr, 0}, {&kB, 8}, {&kA, 5}, {&kA, 0}}, &kA, 2, 3},
    {"none after the last", 4, {{nullptr, 0}, {&kB, 8}, {&kA, 5}, {&kA, 0}}, &kA, 3, kNone},
    {"across data of odd length", 3, {{&kB, 13}, {nullptr, 0}, {&kB, 1}}, &kB, 0, 2},
    {"other kinds only", 2, {{nullptr, 0}, {nullptr, 0}}, &kA, kNone, kNone},
};

}  // namespace hobcases
