#include "mem_tune/setup_variable.h"

#include "mem_tune/driver_globals.h"
#include "mem_tune/mem_clock_table.h"
#include "mem_tune/post_code.h"
#include "mem_tune/smi_handler.h"
#include "pi/smm_variable.h"

namespace mts {

namespace {

void Fill(uint8_t* p, UINTN n, uint8_t v) {
  for (UINTN i = 0; i < n; ++i) p[i] = v;
}
void Copy(uint8_t* dst, const uint8_t* src, UINTN n) {
  for (UINTN i = 0; i < n; ++i) dst[i] = src[i];
}

// Makes the working copy at least `size` bytes: allocated zero-filled on the
// first update; replaced by a larger one (old contents kept, the rest zero)
// when a later variable has grown.
EFI_STATUS EnsureWorkingCopy(UINTN size) {
  if (gSetupWorkingCopy != nullptr && size <= gSetupWorkingCopySize) return EFI_SUCCESS;
  void* fresh = nullptr;
  const EFI_STATUS status = gSmst->SmmAllocatePool(EfiRuntimeServicesData, size, &fresh);
  if (EFI_ERROR(status)) return status;
  if (fresh == nullptr) return EFI_OUT_OF_RESOURCES;
  auto* bytes = static_cast<uint8_t*>(fresh);
  if (size != 0) Fill(bytes, size, 0);
  if (gSetupWorkingCopy != nullptr) {
    Copy(bytes, gSetupWorkingCopy, gSetupWorkingCopySize);
    gSmst->SmmFreePool(gSetupWorkingCopy);
  }
  gSetupWorkingCopy = bytes;
  gSetupWorkingCopySize = size;
  return EFI_SUCCESS;
}

// Applies one command to the working copy; EFI_NOT_FOUND for a clock the
// table lacks (nothing changed then).
EFI_STATUS ApplyCommand(const MemTuneMailbox& request, uint8_t* data) {
  const SetupCommandRow* row = FindSetupCommand(request.Command);
  if (row == nullptr || row->value.width == 0) return EFI_SUCCESS;
  if (row->command == kMailboxCommandSetMemClock) {
    const MemClockRow* clock = FindMemClockByValue(request.MemClock);
    if (clock == nullptr) return EFI_NOT_FOUND;
    data[row->setupOffset] = static_cast<uint8_t>(clock->code);
    return EFI_SUCCESS;
  }
  if (row->enableOffset != kNoEnableByte) data[row->enableOffset] = 1;
  const uint32_t value = ReadMailboxField(request, row->value);
  for (uint8_t i = 0; i < row->setupWidth; ++i)
    data[row->setupOffset + i] = static_cast<uint8_t>(value >> (8 * i));
  return EFI_SUCCESS;
}

}  // namespace

EFI_STATUS UpdateSetupVariable(const MemTuneMailbox& request) {
  Post(kPostSetupUpdate);

  void* iface = nullptr;
  EFI_STATUS status =
      gSmst->SmmLocateProtocol(uefi::GuidArg(kSmmVariableProtocolGuid), nullptr, &iface);
  if (!EFI_ERROR(status) && iface == nullptr) status = EFI_NOT_FOUND;
  if (EFI_ERROR(status)) {
    Post(kPostHoldOrNoVariableService);
    return status;
  }
  auto* variables = static_cast<EFI_SMM_VARIABLE_PROTOCOL*>(iface);

  uint8_t buffer[kSetupReadBufferSize];
  UINT32 attributes = 0;
  UINTN dataSize = sizeof buffer;
  status = variables->SmmGetVariable(const_cast<CHAR16*>(kTivSetupName),
                                     uefi::GuidArg(kTivSetupGuid), &attributes, &dataSize, buffer);
  if (!EFI_ERROR(status) && dataSize > sizeof buffer) status = EFI_BUFFER_TOO_SMALL;
  if (EFI_ERROR(status)) {
    Post(kPostReleaseOrVariableUnreadable);
    return status;
  }

  status = EnsureWorkingCopy(dataSize);
  if (EFI_ERROR(status)) {
    Post(kPostNoWorkingCopy);
    return status;
  }
  if (!gSetupHoldFlag && dataSize != 0) Copy(gSetupWorkingCopy, buffer, dataSize);
  if (request.Command == kMailboxCommandHoldSetup) gSetupHoldFlag = TRUE;
  if (request.Command == kMailboxCommandReleaseSetup) gSetupHoldFlag = FALSE;

  // The options sit at fixed offsets: a variable too small for them (or for
  // the marker) is left alone rather than written past its end.
  if (dataSize < SetupBytesNeeded(request.Command)) {
    Post(kPostVariableTooSmall);
    return EFI_BAD_BUFFER_SIZE;
  }

  const EFI_STATUS applied = ApplyCommand(request, gSetupWorkingCopy);
  Post(kPostOptionApplied);
  if (gSetupHoldFlag) return applied;

  Post(kPostWriteBack);
  gSetupWorkingCopy[kSetupMarkerOffset] = 1;
  status =
      variables->SmmSetVariable(const_cast<CHAR16*>(kTivSetupName), uefi::GuidArg(kTivSetupGuid),
                                attributes, dataSize, gSetupWorkingCopy);
  if (EFI_ERROR(status)) return status;
  Post(kPostWrittenBack);
  return EFI_SUCCESS;
}

}  // namespace mts
