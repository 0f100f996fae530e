/* The error operations of TranslationProtocol inside real firmware: slot 3
 * appends a raw-data record and a generic error data entry to the BERT's boot
 * error region, slots 4 and 6 add error sources to the HEST; both tables are
 * read back through the ACPI SDT protocol and their lengths, counts and
 * checksums checked, and the boot error region is printed as hex lines
 *   PROBE-BERT-REGION <offset> <up to 16 bytes as hex digits>
 * from which the boot test rebuilds it. Slot 5 is asked for a processor the
 * list does not hold. */
#include "pi/acpi_sdt_protocol.h"
#include "pi/acpi_tables.h"
#include "platform_topology_protocol.h"
#include "probe.h"
#include "translation_protocol.h"

static EFI_ACPI_SDT_HEADER* FindTable(EFI_ACPI_SDT_PROTOCOL* sdt, uint32_t signature) {
  for (UINTN i = 0; i < 256; ++i) {
    EFI_ACPI_SDT_HEADER* t = 0;
    EFI_ACPI_TABLE_VERSION version = 0;
    UINTN key = 0;
    if (sdt->GetAcpiTable(i, &t, &version, &key) != EFI_SUCCESS) return 0;
    if (t != 0 && t->Signature == signature) return t;
  }
  return 0;
}

static bool SumsToZero(const void* bytes, UINTN length) {
  const uint8_t* b = (const uint8_t*)bytes;
  uint8_t sum = 0;
  for (UINTN i = 0; i < length; ++i) sum = (uint8_t)(sum + b[i]);
  return sum == 0;
}

static void Fill(uint8_t* p, UINTN n, uint8_t v) {
  for (UINTN i = 0; i < n; ++i) p[i] = v;
}

static const uint8_t kPlatformMemoryErrorGuid[16] = {
    0x14, 0x11, 0xBC, 0xA5, 0x64, 0x6F, 0xDE, 0x4E, 0xB8, 0x63, 0x3E, 0x83, 0xED, 0x7C, 0x83, 0xB1};
enum {
  kMemorySectionBytes = 80,
  kEntryBytes = sizeof(GenericErrorDataEntry) + kMemorySectionBytes,
  kRawBytes = 8,
  kRegionBytesPerLine = 16,
};

/* A generic error data entry carrying a platform memory error section with a
 * physical address. */
static void BuildMemoryErrorEntry(uint8_t* out) {
  Fill(out, kEntryBytes, 0);
  GenericErrorDataEntry* e = (GenericErrorDataEntry*)out;
  for (unsigned i = 0; i < 16; ++i) e->SectionType[i] = kPlatformMemoryErrorGuid[i];
  e->ErrorSeverity = kSeverityFatal;
  e->Revision = 0x300;
  e->ErrorDataLength = kMemorySectionBytes;
  uint8_t* section = out + sizeof(GenericErrorDataEntry);
  section[0] = 2; /* validation bits: physical address valid */
  const uint64_t address = 0x12345000;
  for (unsigned i = 0; i < 8; ++i) section[16 + i] = (uint8_t)(address >> (8 * i));
  section[72] = 3; /* memory error type: multi-bit ECC */
}

static void BuildMachineCheckSource(uint8_t* out, uint16_t id) {
  Fill(out, 40, 0);
  out[2] = (uint8_t)id;
  out[7] = 1;  /* enabled */
  out[8] = 1;  /* records to preallocate */
  out[12] = 1; /* max sections per record */
}

static void BuildGenericSource(uint8_t* out, uint16_t id) {
  Fill(out, 64, 0);
  out[0] = 9; /* generic hardware error source */
  out[2] = (uint8_t)id;
  out[4] = 0xFF; /* related source: none */
  out[5] = 0xFF;
  out[7] = 1;
  out[8] = 1;
  out[12] = 1;
  out[17] = 0x10; /* max raw data length 0x1000 */
  out[21] = 64;   /* error status address: system memory, 64-bit, qword access */
  out[23] = 4;
  out[33] = 28;   /* notification: polled, 28 bytes */
  out[36] = 0xE8; /* poll interval 1000 ms */
  out[37] = 0x03;
  out[61] = 0x10; /* error status block length 0x1000 */
}

typedef struct Tables {
  TranslationProtocol* tp;
  EFI_ACPI_SDT_PROTOCOL* sdt;
} Tables;

static bool Prepare(ProbeContext* ctx, const char* name, Tables* t) {
  t->tp = (TranslationProtocol*)ProbeLocate(ctx, name, &gTranslationProtocolGuid);
  if (t->tp == 0) return false;
  t->sdt = (EFI_ACPI_SDT_PROTOCOL*)ProbeLocate(ctx, name, &kAcpiSdtProtocolGuid);
  return t->sdt != 0;
}

/* The region as hex lines; the boot test puts them back together. */
static void PrintRegion(ProbeContext* ctx, const uint8_t* region, uint32_t length) {
  for (uint32_t offset = 0; offset < length; offset += kRegionBytesPerLine) {
    ProbeText t;
    TextHexDigits(TextAdd(TextInit(&t), "PROBE-BERT-REGION "), offset, 4);
    TextAdd(&t, " ");
    for (uint32_t i = offset; i < length && i < offset + kRegionBytesPerLine; ++i)
      TextHexDigits(&t, region[i], 2);
    ProbePrint(ctx->st, TextAdd(&t, "\n")->buf);
  }
}

void CheckBertAppend(ProbeContext* ctx) {
  const char* name = "bert-append";
  ProbeText t;
  Tables tables;
  if (!Prepare(ctx, name, &tables)) return;
  AcpiBert* bert = (AcpiBert*)FindTable(tables.sdt, kBertSignature);
  if (!ProbeExpect(ctx, name, bert != 0, "BERT found through the SDT protocol")) return;
  const uint32_t oldLength = bert->BootErrorRegionLength;

  uint8_t raw[kRawBytes] = {0xDE, 0xAD, 0xBE, 0xEF, 1, 2, 3, 4};
  EFI_STATUS s = tables.tp->AppendBertRecord(raw, kRawBytes, 1, kSeverityCorrected);
  if (!ProbeExpect(ctx, "bert-append-raw", s == EFI_SUCCESS,
                   TextHex(TextAdd(TextInit(&t), "slot 3 kind 1 status "), s)->buf))
    return;
  uint8_t entry[kEntryBytes];
  BuildMemoryErrorEntry(entry);
  s = tables.tp->AppendBertRecord(entry, kEntryBytes, 2, kSeverityFatal);
  if (!ProbeExpect(ctx, "bert-append-entry", s == EFI_SUCCESS,
                   TextHex(TextAdd(TextInit(&t), "slot 3 kind 2 status "), s)->buf))
    return;

  /* Read back: the table through the SDT protocol again, then its region. */
  bert = (AcpiBert*)FindTable(tables.sdt, kBertSignature);
  if (!ProbeExpect(ctx, name, bert != 0, "BERT found again")) return;
  const GenericErrorStatusBlock* block =
      (const GenericErrorStatusBlock*)(UINTN)bert->BootErrorRegion;
  const uint8_t* region = (const uint8_t*)block;
  bool sectionType = true;
  for (unsigned i = 0; i < 16; ++i)
    sectionType = sectionType && region[20 + i] == kPlatformMemoryErrorGuid[i];
  const bool ok = bert->BootErrorRegionLength == oldLength + kRawBytes + kEntryBytes &&
                  SumsToZero(bert, bert->Header.Length) &&
                  ((block->BlockStatus & kBlockEntryCountMask) >> kBlockEntryCountShift) == 2 &&
                  (block->BlockStatus & 0xF) == 0x3 && block->DataLength == kEntryBytes &&
                  block->RawDataOffset == 20 + kEntryBytes && block->RawDataLength == kRawBytes &&
                  block->ErrorSeverity == kSeverityFatal && sectionType &&
                  region[20 + kEntryBytes] == 0xDE;
  TextInit(&t);
  TextHex(TextAdd(&t, "region "), bert->BootErrorRegionLength);
  TextHex(TextAdd(&t, " status "), block->BlockStatus);
  TextHex(TextAdd(&t, " data "), block->DataLength);
  TextHex(TextAdd(&t, " raw "), block->RawDataOffset);
  TextHex(TextAdd(&t, "+"), block->RawDataLength);
  TextHex(TextAdd(&t, " sev "), block->ErrorSeverity);
  ProbeExpect(ctx, name, ok, t.buf);

  PrintRegion(ctx, region, bert->BootErrorRegionLength);
  ProbePass(ctx, "bert-region-dump",
            TextHex(TextAdd(TextInit(&t), "length "), bert->BootErrorRegionLength)->buf);
}

void CheckHestAppend(ProbeContext* ctx) {
  const char* name = "hest-append";
  ProbeText t;
  Tables tables;
  if (!Prepare(ctx, name, &tables)) return;
  AcpiHestHeader* hest = (AcpiHestHeader*)FindTable(tables.sdt, kHestSignature);
  if (!ProbeExpect(ctx, name, hest != 0, "HEST found through the SDT protocol")) return;
  const uint32_t oldLength = hest->Header.Length, oldCount = hest->ErrorSourceCount;

  uint8_t mce[40];
  BuildMachineCheckSource(mce, 1);
  EFI_STATUS s = tables.tp->AddHestErrorSource(mce, sizeof mce, 0, 0);
  if (!ProbeExpect(ctx, "hest-append-one", s == EFI_SUCCESS,
                   TextHex(TextAdd(TextInit(&t), "slot 4 status "), s)->buf))
    return;
  uint8_t two[128];
  BuildGenericSource(two, 2);
  BuildGenericSource(two + 64, 3);
  s = tables.tp->AddHestErrorSources(two, sizeof two, 2, 0);
  if (!ProbeExpect(ctx, "hest-append-two", s == EFI_SUCCESS,
                   TextHex(TextAdd(TextInit(&t), "slot 6 status "), s)->buf))
    return;

  hest = (AcpiHestHeader*)FindTable(tables.sdt, kHestSignature);
  if (!ProbeExpect(ctx, name, hest != 0, "HEST found again")) return;
  const uint8_t* bytes = (const uint8_t*)hest;
  const bool ok = hest->Header.Length == oldLength + 40 + 128 &&
                  hest->ErrorSourceCount == oldCount + 3 && SumsToZero(hest, hest->Header.Length) &&
                  bytes[oldLength + 40] == 9 && bytes[oldLength + 40 + 64 + 2] == 3;
  TextInit(&t);
  TextHex(TextAdd(&t, "length "), hest->Header.Length);
  TextHex(TextAdd(&t, " count "), hest->ErrorSourceCount);
  ProbeExpect(ctx, name, ok, t.buf);
}

void CheckMcaAbsentProcessor(ProbeContext* ctx) {
  const char* name = "mca-absent-processor";
  TranslationProtocol* tp = (TranslationProtocol*)ProbeLocate(ctx, name, &gTranslationProtocolGuid);
  PlatformTopologyProtocol* topo =
      (PlatformTopologyProtocol*)ProbeLocate(ctx, name, &gPlatformTopologyProtocolGuid);
  if (tp == 0 || topo == 0) return;
  /* The list numbers its processors from 0, so its count names none of them
   * yet passes the range check. No MSR is read on this path. */
  void* memory = 0;
  if (ctx->bs->AllocatePool(EfiBootServicesData, sizeof(McaBankSnapshot), &memory) != EFI_SUCCESS) {
    ProbeFail(ctx, name, "no pool for a snapshot");
    return;
  }
  McaBankSnapshot* snapshot = (McaBankSnapshot*)memory;
  snapshot->processorNumber = topo->processorCount;
  const EFI_STATUS s = tp->CaptureMcaBanks(snapshot);
  ProbeText t;
  TextHex(TextAdd(TextHex(TextAdd(TextInit(&t), "processor "), topo->processorCount), " status "),
          s);
  ProbeExpect(ctx, name, s == EFI_NOT_FOUND, t.buf);
  ctx->bs->FreePool(memory);
}
