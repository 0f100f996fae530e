// AppendBertRecord (slot 3 of TranslationProtocol): grows the boot error
// region that the BERT points to by one piece of error data. The region is
// replaced by a larger copy from ACPI NVS pool; the BERT itself is patched in
// place.
#include "addr_translate/errors/acpi_table_lookup.h"
#include "addr_translate/errors/error_slots.h"
#include "diag/boot_services_table.h"

namespace atd {

namespace {

constexpr UINT8 kKindRawData = 1;
constexpr UINT8 kKindDataEntry = 2;

// Sets the "valid" bit of a severity class, or its "multiple" bit once the
// valid bit is already set.
void MarkErrorClass(UINT32& blockStatus, UINT32 valid, UINT32 multiple) {
  if ((blockStatus & multiple) != 0) return;
  blockStatus |= (blockStatus & valid) != 0 ? multiple : valid;
}

void ApplySeverity(GenericErrorStatusBlock& block, UINT8 severity) {
  switch (severity) {
    case kSeverityRecoverable:
      MarkErrorClass(block.BlockStatus, kBlockCorrectableValid, kBlockMultipleCorrectable);
      if (block.ErrorSeverity != kSeverityFatal) block.ErrorSeverity = kSeverityRecoverable;
      break;
    case kSeverityFatal:
      MarkErrorClass(block.BlockStatus, kBlockUncorrectableValid, kBlockMultipleUncorrectable);
      block.ErrorSeverity = kSeverityFatal;
      break;
    case kSeverityCorrected:
      MarkErrorClass(block.BlockStatus, kBlockCorrectableValid, kBlockMultipleCorrectable);
      if (block.ErrorSeverity > kSeverityCorrected) block.ErrorSeverity = kSeverityCorrected;
      break;
    default:
      break;
  }
}

}  // namespace

EFI_STATUS EFIAPI AppendBertRecord(const VOID* Data, UINT32 Size, UINT8 Kind, UINT8 Severity) {
  if (Data == nullptr && Size != 0) return EFI_INVALID_PARAMETER;

  EFI_ACPI_TABLE_PROTOCOL* acpiTable = nullptr;
  EFI_ACPI_SDT_HEADER* header = nullptr;
  UINTN tableKey = 0;
  EFI_STATUS status = LocateAcpiTable(kBertSignature, &acpiTable, &header, &tableKey);
  if (EFI_ERROR(status)) return status;

  // The BERT must hold its region fields, and the region its status block.
  if (header->Length < sizeof(AcpiBert)) return kAcpiCorruptedStatus;
  auto* bert = reinterpret_cast<AcpiBert*>(header);
  const UINT32 regionLength = bert->BootErrorRegionLength;
  auto* oldRegion = reinterpret_cast<UINT8*>(static_cast<UINTN>(bert->BootErrorRegion));
  if (oldRegion == nullptr || regionLength < sizeof(GenericErrorStatusBlock))
    return kAcpiCorruptedStatus;
  const auto* oldBlock = reinterpret_cast<const GenericErrorStatusBlock*>(oldRegion);

  if ((oldBlock->BlockStatus & kBlockEntryCountMask) == kBlockEntryCountMask)
    return EFI_VOLUME_FULL;
  if (Kind != kKindRawData && Kind != kKindDataEntry) return EFI_UNSUPPORTED;

  if (UINT64{regionLength} + Size > 0xFFFFFFFFull) return EFI_INVALID_PARAMETER;
  const UINT32 newLength = regionLength + Size;

  // The operating system walks Data Length bytes of entries from offset 20
  // and reads Raw Data Length bytes at Raw Data Offset; the region is only
  // grown where both stay true of the new region.
  const UINT32 rawOffset = oldBlock->RawDataOffset;
  const UINT32 rawLength = oldBlock->RawDataLength;
  const UINT64 entriesEnd = sizeof(GenericErrorStatusBlock) + UINT64{oldBlock->DataLength};
  if (Kind == kKindRawData) {
    // Raw data goes at the region's end, so that is where the old raw data,
    // behind the entries, must end. Then Raw Data Length + Size is at most
    // the new length, which fits in 32 bits.
    if (rawOffset < entriesEnd || UINT64{rawOffset} + rawLength != regionLength)
      return kAcpiCorruptedStatus;
  } else {
    // The entry goes right after the entries, and the raw data moves up
    // behind it: the raw data must start there. A block without raw data
    // may have its offset at 0 or past unused bytes; it is set right.
    if (entriesEnd > regionLength) return kAcpiCorruptedStatus;
    const bool offsetIgnored =
        rawLength == 0 && (rawOffset == 0 || (rawOffset > entriesEnd && rawOffset <= regionLength));
    if (!offsetIgnored && (rawOffset != entriesEnd || UINT64{rawOffset} + rawLength > regionLength))
      return kAcpiCorruptedStatus;
  }

  UINT8* newRegion = nullptr;
  status =
      diag::gBS->AllocatePool(EfiACPIMemoryNVS, newLength, reinterpret_cast<VOID**>(&newRegion));
  if (EFI_ERROR(status)) return status;

  auto* block = reinterpret_cast<GenericErrorStatusBlock*>(newRegion);
  if (Kind == kKindRawData) {
    diag::gBS->CopyMem(newRegion, oldRegion, regionLength);
    if (Size != 0) diag::gBS->CopyMem(newRegion + regionLength, const_cast<VOID*>(Data), Size);
    block->RawDataLength = rawLength + Size;
  } else {
    const auto at = static_cast<UINT32>(entriesEnd);
    diag::gBS->CopyMem(newRegion, oldRegion, at);
    if (Size != 0) diag::gBS->CopyMem(newRegion + at, const_cast<VOID*>(Data), Size);
    if (rawLength != 0) diag::gBS->CopyMem(newRegion + at + Size, oldRegion + at, rawLength);
    // Whatever of the old region lay behind the raw data is not carried over;
    // the pool's earlier contents must not reach the operating system.
    const UINT32 copied = at + Size + rawLength;
    if (copied < newLength) diag::gBS->SetMem(newRegion + copied, newLength - copied, 0);
    block->RawDataOffset = at + Size;
    block->DataLength = oldBlock->DataLength + Size;
  }

  ApplySeverity(*block, Severity);
  const UINT32 entries = ((block->BlockStatus & kBlockEntryCountMask) >> kBlockEntryCountShift) + 1;
  block->BlockStatus =
      (block->BlockStatus & ~kBlockEntryCountMask) | (entries << kBlockEntryCountShift);

  bert->BootErrorRegionLength = newLength;
  bert->BootErrorRegion = reinterpret_cast<UINTN>(newRegion);
  UpdateAcpiChecksum(header);

  diag::gBS->FreePool(oldRegion);
  return status;
}

}  // namespace atd
