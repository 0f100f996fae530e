// The log the configuration-token service double keeps of every write, in
// reserved memory, so code outside SMM (the probe) can read it. The double
// publishes its address as the interface of TokenLogProtocol in the
// boot-services database. Test-only: no product code knows this layout.
#pragma once

#include "efi/uefi.h"

#include <cstddef>
#include <cstdint>

namespace fwtest {

constexpr EFI_GUID kTokenLogProtocolGuid = {
    0x32144F76, 0x1C48, 0x4B93, {0xB8, 0xA3, 0x53, 0x12, 0xA4, 0xEB, 0xAD, 0x09}};

constexpr uint32_t kTokenLogSignature = 0x474C4B54;  // "TKLG"

struct TokenLogEntry {
  uint8_t width;  // 1, 2 or 4: the operation called; 0xEE: a slot that is not a write
  uint8_t selector;
  uint16_t reserved;
  uint32_t token;
  uint32_t value;
};
static_assert(sizeof(TokenLogEntry) == 12);

struct TokenLog {
  uint32_t signature;
  uint32_t capacity;  // entries
  volatile uint32_t count;
  uint32_t reserved;
  TokenLogEntry entries[1];  // `capacity` of them
};
static_assert(offsetof(TokenLog, entries) == 16);

constexpr uint8_t kTokenLogWrongSlot = 0xEE;

}  // namespace fwtest
