// A value field of MemTuneMailbox as the service's tables name it: byte
// offset and width, both taken from the record itself, so that the record is
// the one statement of the caller interface's layout.
#pragma once

#include "mem_tune_mailbox.h"

#include <cstddef>
#include <cstdint>

namespace mts {

struct MailboxField {
  uint8_t offset;
  uint8_t width;  // bytes; 0: no field
};

inline constexpr MailboxField kNoMailboxField = {0, 0};

// The field `member` of MemTuneMailbox (an array element such as
// Setting19[2] names one byte of the array).
#define MTS_MAILBOX_FIELD(member)                                    \
  ::mts::MailboxField {                                              \
    offsetof(MemTuneMailbox, member), sizeof(MemTuneMailbox::member) \
  }

// Little-endian value of a field of up to 4 bytes.
inline uint32_t ReadMailboxField(const MemTuneMailbox& mailbox, MailboxField f) {
  const auto* bytes = reinterpret_cast<const uint8_t*>(&mailbox);
  uint32_t v = 0;
  for (uint8_t i = 0; i < f.width && i < 4; ++i) v |= uint32_t(bytes[f.offset + i]) << (8 * i);
  return v;
}

// Stores the low `f.width` bytes of `value` (up to 4), little-endian.
inline void WriteMailboxField(MemTuneMailbox* mailbox, MailboxField f, uint32_t value) {
  auto* bytes = reinterpret_cast<uint8_t*>(mailbox);
  for (uint8_t i = 0; i < f.width && i < 4; ++i)
    bytes[f.offset + i] = static_cast<uint8_t>(value >> (8 * i));
}

}  // namespace mts
