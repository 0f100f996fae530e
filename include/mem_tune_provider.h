// MemTuneProvider: published by another firmware component; gives the
// addresses of the shared mailbox and of the settings record it fills.
#pragma once

#include "efi/uefi.h"

#include <cstddef>
#include <cstdint>

namespace mts {

constexpr EFI_GUID kMemTuneProviderGuid = {
    0xAB776607, 0x6169, 0x44E8, {0xB8, 0xF1, 0x50, 0x12, 0x9D, 0x4A, 0x25, 0xDB}};

struct __attribute__((packed)) MemTuneProvider {
  uint32_t Revision;               // not read by this driver
  uint64_t MailboxAddress;         // MemTuneMailbox
  uint64_t SettingsRecordAddress;  // MemTuneSettingsRecord
};
static_assert(offsetof(MemTuneProvider, Revision) == 0);
static_assert(offsetof(MemTuneProvider, MailboxAddress) == 4);
static_assert(offsetof(MemTuneProvider, SettingsRecordAddress) == 12);
static_assert(sizeof(MemTuneProvider) == 20);

// MemTuneSettingsRecord: bytes left by the provider; only copied into the
// mailbox by the readout, never interpreted.
constexpr size_t kSettingsRecordSize = 0x40;

}  // namespace mts
