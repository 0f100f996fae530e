// The error operations of TranslationProtocol inside real firmware: slot 3
// appends a raw-data record and a generic error data entry to the BERT's boot
// error region, slots 4 and 6 add error sources to the HEST; both tables are
// read back through the ACPI SDT protocol and their lengths, counts and
// checksums checked. Slot 5 is asked for a processor the list does not hold.
#include "pi/acpi_sdt_protocol.h"
#include "pi/acpi_tables.h"
#include "platform_topology_protocol.h"
#include "probe.h"
#include "translation_protocol.h"

namespace probe {

namespace {

EFI_ACPI_SDT_HEADER* FindTable(EFI_ACPI_SDT_PROTOCOL* sdt, uint32_t signature) {
  for (UINTN i = 0; i < 256; ++i) {
    EFI_ACPI_SDT_HEADER* t = nullptr;
    EFI_ACPI_TABLE_VERSION version = 0;
    UINTN key = 0;
    if (sdt->GetAcpiTable(i, &t, &version, &key) != EFI_SUCCESS) return nullptr;
    if (t != nullptr && t->Signature == signature) return t;
  }
  return nullptr;
}

bool SumsToZero(const void* bytes, UINTN length) {
  const auto* b = static_cast<const uint8_t*>(bytes);
  uint8_t sum = 0;
  for (UINTN i = 0; i < length; ++i) sum = static_cast<uint8_t>(sum + b[i]);
  return sum == 0;
}

void Fill(uint8_t* p, UINTN n, uint8_t v) {
  for (UINTN i = 0; i < n; ++i) p[i] = v;
}

constexpr uint8_t kPlatformMemoryErrorGuid[16] = {0x14, 0x11, 0xBC, 0xA5, 0x64, 0x6F, 0xDE, 0x4E,
                                                  0xB8, 0x63, 0x3E, 0x83, 0xED, 0x7C, 0x83, 0xB1};
constexpr uint32_t kMemorySectionBytes = 80;
constexpr uint32_t kEntryBytes = sizeof(GenericErrorDataEntry) + kMemorySectionBytes;
constexpr uint32_t kRawBytes = 8;

// A generic error data entry carrying a platform memory error section with a
// physical address.
void BuildMemoryErrorEntry(uint8_t* out) {
  Fill(out, kEntryBytes, 0);
  auto* e = reinterpret_cast<GenericErrorDataEntry*>(out);
  for (unsigned i = 0; i < 16; ++i) e->SectionType[i] = kPlatformMemoryErrorGuid[i];
  e->ErrorSeverity = kSeverityFatal;
  e->Revision = 0x300;
  e->ErrorDataLength = kMemorySectionBytes;
  uint8_t* section = out + sizeof(GenericErrorDataEntry);
  section[0] = 2;  // validation bits: physical address valid
  const uint64_t address = 0x12345000;
  for (unsigned i = 0; i < 8; ++i) section[16 + i] = static_cast<uint8_t>(address >> (8 * i));
  section[72] = 3;  // memory error type: multi-bit ECC
}

void BuildMachineCheckSource(uint8_t* out, uint16_t id) {
  Fill(out, 40, 0);
  out[2] = static_cast<uint8_t>(id);
  out[7] = 1;   // enabled
  out[8] = 1;   // records to preallocate
  out[12] = 1;  // max sections per record
}

void BuildGenericSource(uint8_t* out, uint16_t id) {
  Fill(out, 64, 0);
  out[0] = 9;  // generic hardware error source
  out[2] = static_cast<uint8_t>(id);
  out[4] = 0xFF;  // related source: none
  out[5] = 0xFF;
  out[7] = 1;
  out[8] = 1;
  out[12] = 1;
  out[17] = 0x10;  // max raw data length 0x1000
  out[21] = 64;    // error status address: system memory, 64-bit, qword access
  out[23] = 4;
  out[33] = 28;    // notification: polled, 28 bytes
  out[36] = 0xE8;  // poll interval 1000 ms
  out[37] = 0x03;
  out[61] = 0x10;  // error status block length 0x1000
}

struct Tables {
  TranslationProtocol* tp;
  EFI_ACPI_SDT_PROTOCOL* sdt;
};

bool Prepare(Context& ctx, const char* name, Tables& t) {
  t.tp = static_cast<TranslationProtocol*>(ctx.Locate(name, gTranslationProtocolGuid));
  if (t.tp == nullptr) return false;
  t.sdt = static_cast<EFI_ACPI_SDT_PROTOCOL*>(ctx.Locate(name, kAcpiSdtProtocolGuid));
  return t.sdt != nullptr;
}

}  // namespace

void CheckBertAppend(Context& ctx) {
  const char* name = "bert-append";
  Tables t;
  if (!Prepare(ctx, name, t)) return;
  auto* bert = reinterpret_cast<AcpiBert*>(FindTable(t.sdt, kBertSignature));
  if (!ctx.Expect(name, bert != nullptr, "BERT found through the SDT protocol")) return;
  const uint32_t oldLength = bert->BootErrorRegionLength;

  uint8_t raw[kRawBytes] = {0xDE, 0xAD, 0xBE, 0xEF, 1, 2, 3, 4};
  EFI_STATUS s = t.tp->AppendBertRecord(raw, kRawBytes, 1, kSeverityCorrected);
  if (!ctx.Expect("bert-append-raw", s == EFI_SUCCESS,
                  Text().Add("slot 3 kind 1 status ").Hex(s).c_str()))
    return;
  uint8_t entry[kEntryBytes];
  BuildMemoryErrorEntry(entry);
  s = t.tp->AppendBertRecord(entry, kEntryBytes, 2, kSeverityFatal);
  if (!ctx.Expect("bert-append-entry", s == EFI_SUCCESS,
                  Text().Add("slot 3 kind 2 status ").Hex(s).c_str()))
    return;

  // Read back: the table through the SDT protocol again, then its region.
  bert = reinterpret_cast<AcpiBert*>(FindTable(t.sdt, kBertSignature));
  if (!ctx.Expect(name, bert != nullptr, "BERT found again")) return;
  const auto* block =
      reinterpret_cast<const GenericErrorStatusBlock*>(static_cast<UINTN>(bert->BootErrorRegion));
  const uint8_t* region = reinterpret_cast<const uint8_t*>(block);
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
  ctx.Expect(name, ok,
             Text()
                 .Add("region ")
                 .Hex(bert->BootErrorRegionLength)
                 .Add(" status ")
                 .Hex(block->BlockStatus)
                 .Add(" data ")
                 .Hex(block->DataLength)
                 .Add(" raw ")
                 .Hex(block->RawDataOffset)
                 .Add("+")
                 .Hex(block->RawDataLength)
                 .Add(" sev ")
                 .Hex(block->ErrorSeverity)
                 .c_str());
}

void CheckHestAppend(Context& ctx) {
  const char* name = "hest-append";
  Tables t;
  if (!Prepare(ctx, name, t)) return;
  auto* hest = reinterpret_cast<AcpiHestHeader*>(FindTable(t.sdt, kHestSignature));
  if (!ctx.Expect(name, hest != nullptr, "HEST found through the SDT protocol")) return;
  const uint32_t oldLength = hest->Header.Length, oldCount = hest->ErrorSourceCount;

  uint8_t mce[40];
  BuildMachineCheckSource(mce, 1);
  EFI_STATUS s = t.tp->AddHestErrorSource(mce, sizeof mce, 0, 0);
  if (!ctx.Expect("hest-append-one", s == EFI_SUCCESS, Text().Add("slot 4 status ").Hex(s).c_str()))
    return;
  uint8_t two[128];
  BuildGenericSource(two, 2);
  BuildGenericSource(two + 64, 3);
  s = t.tp->AddHestErrorSources(two, sizeof two, 2, 0);
  if (!ctx.Expect("hest-append-two", s == EFI_SUCCESS, Text().Add("slot 6 status ").Hex(s).c_str()))
    return;

  hest = reinterpret_cast<AcpiHestHeader*>(FindTable(t.sdt, kHestSignature));
  if (!ctx.Expect(name, hest != nullptr, "HEST found again")) return;
  const uint8_t* bytes = reinterpret_cast<const uint8_t*>(hest);
  const bool ok = hest->Header.Length == oldLength + 40 + 128 &&
                  hest->ErrorSourceCount == oldCount + 3 && SumsToZero(hest, hest->Header.Length) &&
                  bytes[oldLength + 40] == 9 && bytes[oldLength + 40 + 64 + 2] == 3;
  ctx.Expect(name, ok,
             Text()
                 .Add("length ")
                 .Hex(hest->Header.Length)
                 .Add(" count ")
                 .Hex(hest->ErrorSourceCount)
                 .c_str());
}

void CheckMcaAbsentProcessor(Context& ctx) {
  const char* name = "mca-absent-processor";
  auto* tp = static_cast<TranslationProtocol*>(ctx.Locate(name, gTranslationProtocolGuid));
  auto* topo =
      static_cast<PlatformTopologyProtocol*>(ctx.Locate(name, gPlatformTopologyProtocolGuid));
  if (tp == nullptr || topo == nullptr) return;
  // The list numbers its processors from 0, so its count names none of them
  // yet passes the range check. No MSR is read on this path.
  void* memory = nullptr;
  if (ctx.bs->AllocatePool(EfiBootServicesData, sizeof(McaBankSnapshot), &memory) != EFI_SUCCESS) {
    ctx.Fail(name, "no pool for a snapshot");
    return;
  }
  auto* snapshot = static_cast<McaBankSnapshot*>(memory);
  snapshot->processorNumber = topo->processorCount;
  const EFI_STATUS s = tp->CaptureMcaBanks(snapshot);
  ctx.Expect(name, s == EFI_NOT_FOUND,
             Text().Add("processor ").Hex(topo->processorCount).Add(" status ").Hex(s).c_str());
  ctx.bs->FreePool(memory);
}

}  // namespace probe
