#include "mem_tune/smi_handler.h"

#include "mem_tune/config_token.h"
#include "mem_tune/controller_readout.h"
#include "mem_tune/driver_globals.h"
#include "mem_tune/mem_clock_table.h"
#include "mem_tune/post_code.h"
#include "mem_tune/setup_variable.h"
#include "mem_tune/smram_check.h"

namespace mts {

namespace {

// Copies the shared mailbox into SMRAM once, byte by byte: everything the
// handler decides on comes from this copy, so the caller cannot change a
// value between its check and its use.
void SnapshotMailbox(const MemTuneMailbox* shared, MemTuneMailbox* copy) {
  const volatile uint8_t* src = reinterpret_cast<const volatile uint8_t*>(shared);
  volatile uint8_t* dst = reinterpret_cast<volatile uint8_t*>(copy);
  for (size_t i = 0; i < sizeof(MemTuneMailbox); ++i) dst[i] = src[i];
}

// The memory the handler may touch on behalf of the caller must lie outside
// SMRAM: the mailbox, and the settings record the readout copies from.
bool SharedMemoryUsable() {
  if (OverlapsSmram(reinterpret_cast<uintptr_t>(gMailbox), sizeof(MemTuneMailbox))) return false;
  if (gSettingsRecord != nullptr &&
      OverlapsSmram(reinterpret_cast<uintptr_t>(gSettingsRecord), kSettingsRecordSize))
    return false;
  return true;
}

EFI_STATUS RunCommand(const MemTuneMailbox& request) {
  const uint32_t command = request.Command;
  EFI_STATUS status = EFI_SUCCESS;
  if (command == kMailboxCommandSetMemClock) {
    const MemClockRow* row = FindMemClockByValue(request.MemClock);
    if (row != nullptr) {
      status = WriteConfigToken(kMemClockItem, row->code);
      if (status == EFI_SUCCESS) Post(kPostMemClockWritten);
    } else {
      status = EFI_NOT_FOUND;
    }
  } else if (const DispatchRow* row = FindDispatchRow(command)) {
    if (row->enableItem != 0) WriteConfigToken(row->enableItem, 1);  // status not reported
    status = WriteConfigToken(row->item, ReadMailboxField(request, row->value));
  }
  // Every set command, defined or not, is also recorded in the setup
  // variable; its result is reported by POST codes only.
  UpdateSetupVariable(request);
  return status;
}

}  // namespace

EFI_STATUS EFIAPI MemTuneSmiHandler(EFI_HANDLE, const VOID*, VOID*, UINTN*) {
  Post(kPostSmiEntry);
  // Without a mailbox there is never a request to serve.
  if (gMailbox == nullptr) return EFI_SUCCESS;
  // Addresses that point into SMRAM are refused outright: the SMI then
  // changes nothing.
  if (!SharedMemoryUsable()) return EFI_ACCESS_DENIED;

  MemTuneMailbox request;
  SnapshotMailbox(gMailbox, &request);
  uint16_t sequence = request.Sequence;

  EFI_STATUS status = EFI_SUCCESS;
  if (request.Request == kMailboxRequestPending) {
    sequence = static_cast<uint16_t>(sequence + 0x100);
    gMailbox->Sequence = sequence;
    Post(kPostRequestAccepted);
    switch (request.Command) {
      case kMailboxCommandReadCurrent:
        Post(kPostReadCurrent);
        status = ReadControllerConfig(gMailbox, request);
        break;
      case kMailboxCommandHoldSetup:
        Post(kPostHoldOrNoVariableService);
        break;
      case kMailboxCommandReleaseSetup:
        Post(kPostReleaseOrVariableUnreadable);
        break;
      default:
        status = RunCommand(request);
        break;
    }
  }

  gMailbox->Sequence = static_cast<uint16_t>(sequence + 1);
  gMailbox->Busy = 0;
  gMailbox->Status = static_cast<uint32_t>(status & 0xFFFFFFFF);
  gMailbox->Request = 0;
  gMailbox->Command = 0;
  return status;
}

}  // namespace mts
