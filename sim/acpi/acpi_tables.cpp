#include "sim/acpi/acpi_tables.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

namespace sim::acpi {

namespace {

// ---- EFI_ACPI_SDT_PROTOCOL ----

EFI_STATUS EFIAPI SimGetAcpiTable(UINTN index, EFI_ACPI_SDT_HEADER** table,
                                  EFI_ACPI_TABLE_VERSION* version, UINTN* tableKey) {
  auto& p = Platform::Current();
  p.calls.push_back("GetAcpiTable");
  if (auto s = p.Inject("GetAcpiTable")) return *s;
  if (table == nullptr || version == nullptr || tableKey == nullptr) return EFI_INVALID_PARAMETER;
  auto& store = Store(p);
  if (index >= store.tables.size()) return EFI_NOT_FOUND;
  InstalledTable& t = *store.tables[index];
  *table = reinterpret_cast<EFI_ACPI_SDT_HEADER*>(t.bytes.data());
  *version =
      kAcpiTableVersion2_0 | kAcpiTableVersion3_0 | kAcpiTableVersion4_0 | kAcpiTableVersion5_0;
  *tableKey = t.key;
  return EFI_SUCCESS;
}

// ---- EFI_ACPI_TABLE_PROTOCOL ----

EFI_STATUS EFIAPI SimInstallAcpiTable(EFI_ACPI_TABLE_PROTOCOL*, const VOID* buffer, UINTN size,
                                      UINTN* tableKey) {
  auto& p = Platform::Current();
  p.calls.push_back("InstallAcpiTable");
  if (auto s = p.Inject("InstallAcpiTable")) return *s;
  if (buffer == nullptr || tableKey == nullptr || size < sizeof(EFI_ACPI_SDT_HEADER))
    return EFI_INVALID_PARAMETER;
  const auto* h = static_cast<const EFI_ACPI_SDT_HEADER*>(buffer);
  if (h->Length != size) return EFI_INVALID_PARAMETER;
  const auto* bytes = static_cast<const uint8_t*>(buffer);
  // The table is copied as given (checksum included), so what a caller
  // installed can be checked byte for byte.
  *tableKey = Store(p).Add(std::vector<uint8_t>(bytes, bytes + size));
  return EFI_SUCCESS;
}

EFI_STATUS EFIAPI SimUninstallAcpiTable(EFI_ACPI_TABLE_PROTOCOL*, UINTN tableKey) {
  auto& p = Platform::Current();
  p.calls.push_back("UninstallAcpiTable");
  if (auto s = p.Inject("UninstallAcpiTable")) return *s;
  return Store(p).Remove(tableKey) ? EFI_SUCCESS : EFI_NOT_FOUND;
}

uint32_t Text4(const char* s) {
  uint32_t v = 0;
  std::memcpy(&v, s, 4);
  return v;
}

}  // namespace

UINTN AcpiTableStore::Add(std::vector<uint8_t> bytes) {
  auto t = std::make_unique<InstalledTable>();
  t->key = nextKey++;
  t->bytes = std::move(bytes);
  tables.push_back(std::move(t));
  return tables.back()->key;
}

bool AcpiTableStore::Remove(UINTN key) {
  for (auto it = tables.begin(); it != tables.end(); ++it) {
    if ((*it)->key == key) {
      tables.erase(it);
      return true;
    }
  }
  return false;
}

InstalledTable* AcpiTableStore::Find(uint32_t signature) {
  for (auto& t : tables) {
    if (t->bytes.size() >= 4 && Text4(reinterpret_cast<const char*>(t->bytes.data())) == signature)
      return t.get();
  }
  return nullptr;
}

AcpiTableStore& Store(Platform& platform) {
  auto& s = platform.Extension<AcpiTableStore>();
  if (s.tableProtocol.InstallAcpiTable == nullptr) {
    s.tableProtocol.InstallAcpiTable = SimInstallAcpiTable;
    s.tableProtocol.UninstallAcpiTable = SimUninstallAcpiTable;
    s.sdtProtocol.AcpiVersion =
        kAcpiTableVersion2_0 | kAcpiTableVersion3_0 | kAcpiTableVersion4_0 | kAcpiTableVersion5_0;
    s.sdtProtocol.GetAcpiTable = SimGetAcpiTable;
    // The other members stay null: nothing in the system calls them.
  }
  return s;
}

void InstallProtocols(Platform& platform, bool tableProtocol, bool sdtProtocol) {
  auto& s = Store(platform);
  EFI_HANDLE handle = nullptr;
  if (tableProtocol && !s.tableProtocolInstalled) {
    platform.Install(&handle, kAcpiTableProtocolGuid, &s.tableProtocol);
    s.tableProtocolInstalled = true;
  }
  if (sdtProtocol && !s.sdtProtocolInstalled) {
    platform.Install(&handle, kAcpiSdtProtocolGuid, &s.sdtProtocol);
    s.sdtProtocolInstalled = true;
  }
}

uint8_t ByteSum(const uint8_t* bytes, size_t size) {
  uint8_t sum = 0;
  for (size_t i = 0; i < size; ++i) sum = static_cast<uint8_t>(sum + bytes[i]);
  return sum;
}

void SetChecksum(std::vector<uint8_t>& table) {
  table.at(9) = 0;
  table[9] = static_cast<uint8_t>(0 - ByteSum(table.data(), table.size()));
}

std::vector<uint8_t> Header(uint32_t signature, uint32_t length, uint8_t revision) {
  EFI_ACPI_SDT_HEADER h{};
  h.Signature = signature;
  h.Length = length;
  h.Revision = revision;
  std::memcpy(h.OemId, "TIVSIM", 6);
  std::memcpy(h.OemTableId, "PLATSIM ", 8);
  h.OemRevision = 1;
  h.CreatorId = Text4("TSIM");
  h.CreatorRevision = 1;
  std::vector<uint8_t> out(sizeof h);
  std::memcpy(out.data(), &h, sizeof h);
  return out;
}

std::string SignatureText(uint32_t signature) {
  std::string s(4, ' ');
  std::memcpy(s.data(), &signature, 4);
  return s;
}

std::vector<uint8_t> EmptyErrorStatusBlock() {
  GenericErrorStatusBlock b{};
  b.RawDataOffset = sizeof(GenericErrorStatusBlock);
  b.ErrorSeverity = kSeverityNone;
  std::vector<uint8_t> out(sizeof b);
  std::memcpy(out.data(), &b, sizeof b);
  return out;
}

UINTN InstallBert(Platform& platform, const std::vector<uint8_t>& region) {
  void* mem = platform.Allocate(EfiACPIMemoryNVS, region.size());
  if (!region.empty()) std::memcpy(mem, region.data(), region.size());
  std::vector<uint8_t> bert = Header(kBertSignature, sizeof(AcpiBert), 1);
  bert.resize(sizeof(AcpiBert));
  const uint32_t len = static_cast<uint32_t>(region.size());
  const uint64_t addr = reinterpret_cast<uintptr_t>(mem);
  std::memcpy(bert.data() + offsetof(AcpiBert, BootErrorRegionLength), &len, 4);
  std::memcpy(bert.data() + offsetof(AcpiBert, BootErrorRegion), &addr, 8);
  SetChecksum(bert);
  return Store(platform).Add(std::move(bert));
}

UINTN InstallHest(Platform& platform, uint32_t count, const std::vector<uint8_t>& sources) {
  const uint32_t len = static_cast<uint32_t>(sizeof(AcpiHestHeader) + sources.size());
  std::vector<uint8_t> hest = Header(kHestSignature, len, 1);
  hest.resize(sizeof(AcpiHestHeader));
  std::memcpy(hest.data() + offsetof(AcpiHestHeader, ErrorSourceCount), &count, 4);
  hest.insert(hest.end(), sources.begin(), sources.end());
  SetChecksum(hest);
  return Store(platform).Add(std::move(hest));
}

std::vector<uint8_t> TableBytes(Platform& platform, uint32_t signature) {
  InstalledTable* t = Store(platform).Find(signature);
  return t ? t->bytes : std::vector<uint8_t>{};
}

std::vector<uint8_t> BootErrorRegion(Platform& platform) {
  InstalledTable* t = Store(platform).Find(kBertSignature);
  if (t == nullptr || t->bytes.size() < sizeof(AcpiBert)) return {};
  AcpiBert bert;
  std::memcpy(&bert, t->bytes.data(), sizeof bert);
  const auto* region =
      reinterpret_cast<const uint8_t*>(static_cast<uintptr_t>(bert.BootErrorRegion));
  // Only pool memory of this platform is read, and never beyond its block: a
  // table given as raw bytes may point anywhere.
  auto block = platform.BlockOf(region);
  if (!block) return {};
  const size_t len = std::min<size_t>(bert.BootErrorRegionLength, block->size);
  return std::vector<uint8_t>(region, region + len);
}

std::vector<uint8_t> ParseHexBytes(const std::string& text) {
  std::vector<uint8_t> out;
  int high = -1;
  for (char c : text) {
    if (c == ' ' || c == '\n' || c == '\t' || c == '-' || c == ',' || c == '\r') {
      if (high >= 0) throw std::invalid_argument("odd number of hex digits in a byte");
      continue;
    }
    int v;
    if (c >= '0' && c <= '9')
      v = c - '0';
    else if (c >= 'a' && c <= 'f')
      v = c - 'a' + 10;
    else if (c >= 'A' && c <= 'F')
      v = c - 'A' + 10;
    else
      throw std::invalid_argument(std::string("not a hex digit: '") + c + "'");
    if (high < 0) {
      high = v;
    } else {
      out.push_back(static_cast<uint8_t>(high << 4 | v));
      high = -1;
    }
  }
  if (high >= 0) throw std::invalid_argument("odd number of hex digits");
  return out;
}

std::string HexBytes(const std::vector<uint8_t>& bytes) {
  static const char* digits = "0123456789abcdef";
  std::string s;
  for (size_t i = 0; i < bytes.size(); ++i) {
    if (i) s += ' ';
    s += digits[bytes[i] >> 4];
    s += digits[bytes[i] & 15];
  }
  return s;
}

}  // namespace sim::acpi
