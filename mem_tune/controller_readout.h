// Memory-controller configuration readout: the first memory channel in use,
// its timing registers read through the index/data pair of the bus's device
// 0 function 0, and the settings record, into the mailbox's value fields.
#pragma once

#include "efi/uefi.h"
#include "mem_tune_mailbox.h"

#include <cstdint>

namespace mts {

// 32-bit configuration read at an offset of the PCI Express window;
// 0xFFFFFFFF at or beyond the window's size.
uint32_t PciExpressRead32(UINT64 offset);
// 32-bit configuration write; dropped at or beyond the window's size.
void PciExpressWrite32(UINT64 offset, uint32_t value);

// One register of the indirect space: address to 0xB8, value from 0xBC, on
// device 0 function 0 of `bus`.
uint32_t ReadIndirectReg(uint8_t bus, uint32_t address);

// Fills the value fields of `mailbox` for the read command. `request` is the
// SMRAM copy of the mailbox taken at SMI entry (source of bytes 0xC8/0xC9).
// EFI_NOT_FOUND when no channel is in use (mailbox untouched) or when the
// clock code is not in MemClockTable (mailbox filled all the same).
// Without a settings record its fields are left as the caller put them.
// The index register of every bus it uses is read before its first index
// write there and written back before it returns.
EFI_STATUS ReadControllerConfig(MemTuneMailbox* mailbox, const MemTuneMailbox& request);

}  // namespace mts
