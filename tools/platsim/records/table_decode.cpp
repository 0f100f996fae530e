// ACPI tables as dumped from a running system: the common header (signature,
// Length, checksum), the BERT with its boot error region, and the HEST's walk
// over its error source structures. Also the choice of what a file holds.
#include "tools/common/byte_view.h"
#include "tools/platsim/records/record_decode.h"
#include "tools/common/hex_text.h"

#include <algorithm>

namespace records {

namespace {

void Damaged(Decoded& out, uint64_t offset, std::string field, std::string expected,
             std::string found) {
  out.damage.push_back({"table", offset, std::move(field), std::move(expected), std::move(found)});
}

std::string SignatureText(uint32_t sig) {
  std::string s;
  for (unsigned i = 0; i < 4; ++i) {
    const char c = static_cast<char>(sig >> (8 * i));
    s += (c >= 0x20 && c < 0x7F) ? c : '.';
  }
  return s;
}

// Returns false when not even the header is there.
bool DecodeHeader(const tools::ByteView& v, uint32_t signature, uint32_t minLength, TableHeader& h,
                  Decoded& out) {
  h.fileSize = v.size();
  if (v.size() < sizeof(EFI_ACPI_SDT_HEADER)) {
    Damaged(out, 0, "table header", "36 bytes", std::to_string(v.size()) + " bytes");
    return false;
  }
  h.raw = v.Get<EFI_ACPI_SDT_HEADER>(0);
  if (h.raw.Signature != signature)
    Damaged(out, 0, "Signature", SignatureText(signature), SignatureText(h.raw.Signature));
  if (h.raw.Length < minLength)
    Damaged(out, offsetof(EFI_ACPI_SDT_HEADER, Length), "Length",
            "at least " + std::to_string(minLength), std::to_string(h.raw.Length));
  if (h.raw.Length > v.size()) {
    Damaged(out, offsetof(EFI_ACPI_SDT_HEADER, Length), "Length",
            "at most " + std::to_string(v.size()) + " (the bytes given)",
            std::to_string(h.raw.Length));
  } else {
    uint8_t sum = 0;
    for (uint8_t b : v.Sub(0, h.raw.Length)) sum = static_cast<uint8_t>(sum + b);
    h.checksumChecked = true;
    h.checksumOk = sum == 0;
    h.expectedChecksum = static_cast<uint8_t>(h.raw.Checksum - sum);
    if (!h.checksumOk)
      Damaged(out, offsetof(EFI_ACPI_SDT_HEADER, Checksum), "Checksum",
              tools::HexText(h.expectedChecksum) + " (the table's bytes sum to 0)",
              tools::HexText(h.raw.Checksum));
    if (h.raw.Length < v.size())
      out.notes.push_back(std::to_string(v.size() - h.raw.Length) +
                          " bytes after the table's Length are not part of it");
  }
  return true;
}

// Length of the HEST error source structure at `at`, from its type and, for
// the machine-check structures, its bank count; 0 when the type is one this
// walk does not know. `truncated` when the bank count itself is missing.
uint64_t HestStructureLength(const tools::ByteView& v, uint64_t at, uint64_t end, uint16_t type,
                             bool& truncated) {
  uint32_t countAt = 0;
  const uint64_t fixed = AcpiHestSourceFixedBytes(type, &countAt);
  if (fixed == 0 || countAt == 0) return fixed;
  if (at + countAt >= end) {
    truncated = true;
    return fixed;
  }
  return fixed + kHestBankStructureBytes * uint64_t{v.Get<uint8_t>(at + countAt)};
}

}  // namespace

std::optional<Kind> KindFromName(std::string_view name) {
  if (name == "auto") return Kind::kAuto;
  if (name == "region") return Kind::kRegion;
  if (name == "bert") return Kind::kBert;
  if (name == "hest") return Kind::kHest;
  if (name == "mca") return Kind::kMca;
  return std::nullopt;
}

const char* KindName(Kind kind) {
  switch (kind) {
    case Kind::kAuto:
      return "auto";
    case Kind::kRegion:
      return "region";
    case Kind::kBert:
      return "bert";
    case Kind::kHest:
      return "hest";
    case Kind::kMca:
      return "mca";
  }
  return "?";
}

Kind DetectKind(std::span<const uint8_t> bytes) {
  const tools::ByteView v(bytes);
  if (v.Has(0, 4)) {
    const auto sig = v.Get<uint32_t>(0);
    if (sig == kBertSignature) return Kind::kBert;
    if (sig == kHestSignature) return Kind::kHest;
  }
  for (uint8_t c : bytes) {
    if (c == ' ' || c == '\t' || c == '\r' || c == '\n') continue;
    return c == '{' ? Kind::kMca : Kind::kRegion;
  }
  return Kind::kRegion;
}

Bert DecodeBert(std::span<const uint8_t> table, std::optional<std::span<const uint8_t>> region,
                Decoded& out) {
  const tools::ByteView v(table);
  Bert b;
  if (!DecodeHeader(v, kBertSignature, sizeof(AcpiBert), b.header, out)) return b;
  if (!v.Has(0, sizeof(AcpiBert))) {
    out.notes.push_back("the table ends before the boot error region's length and address");
    return b;
  }
  b.regionLength = v.Get<uint32_t>(offsetof(AcpiBert, BootErrorRegionLength));
  b.regionAddress = v.Get<uint64_t>(offsetof(AcpiBert, BootErrorRegion));
  if (!region) return b;
  b.regionFileSize = region->size();
  std::span<const uint8_t> bytes = *region;
  if (bytes.size() < b.regionLength) {
    Damaged(out, offsetof(AcpiBert, BootErrorRegionLength), "Boot Error Region Length",
            "at most " + std::to_string(bytes.size()) + " (the region's bytes given)",
            std::to_string(b.regionLength));
  } else if (bytes.size() > b.regionLength) {
    out.notes.push_back("the region holds " + std::to_string(bytes.size()) +
                        " bytes, the BERT declares " + std::to_string(b.regionLength) +
                        ": only those are decoded");
    bytes = bytes.first(b.regionLength);
  }
  b.region = DecodeRegion(bytes, out);
  return b;
}

Hest DecodeHest(std::span<const uint8_t> table, Decoded& out) {
  const tools::ByteView v(table);
  Hest h;
  if (!DecodeHeader(v, kHestSignature, sizeof(AcpiHestHeader), h.header, out)) return h;
  if (!v.Has(0, sizeof(AcpiHestHeader))) {
    out.notes.push_back("the table ends before its Error Source Count");
    h.walkComplete = false;
    return h;
  }
  h.sourceCount = v.Get<uint32_t>(offsetof(AcpiHestHeader, ErrorSourceCount));
  const uint64_t end = std::min<uint64_t>(h.header.raw.Length, v.size());
  uint64_t at = sizeof(AcpiHestHeader);
  while (at < end) {
    const std::string name = "error source " + std::to_string(h.sources.size());
    if (end - at < 4) {
      Damaged(out, at, name, "at least 4 bytes (type and source id)",
              std::to_string(end - at) + " bytes");
      h.walkComplete = false;
      break;
    }
    HestSource s;
    s.offset = at;
    s.type = v.Get<uint16_t>(at);
    s.sourceId = v.Get<uint16_t>(at + 2);
    bool truncated = false;
    s.length = HestStructureLength(v, at, end, s.type, truncated);
    if (s.length == 0) {
      out.notes.push_back(name + " at " + tools::HexText(at) + " has type " +
                          std::to_string(s.type) +
                          ", whose length is not known here: the walk stops");
      h.walkComplete = false;
      break;
    }
    if (truncated || s.length > end - at) {
      Damaged(out, at, name + " (type " + std::to_string(s.type) + ")",
              std::to_string(s.length) + " bytes", std::to_string(end - at) + " bytes left");
      h.walkComplete = false;
      break;
    }
    h.sources.push_back(s);
    at += s.length;
  }
  if (h.walkComplete && h.sources.size() != h.sourceCount)
    Damaged(out, offsetof(AcpiHestHeader, ErrorSourceCount), "Error Source Count",
            std::to_string(h.sources.size()) + " (the structures in the table)",
            std::to_string(h.sourceCount));
  return h;
}

Decoded Decode(std::span<const uint8_t> bytes, Kind kind,
               std::optional<std::span<const uint8_t>> region) {
  Decoded d;
  d.kind = kind == Kind::kAuto ? DetectKind(bytes) : kind;
  if (region && d.kind != Kind::kBert)
    d.notes.push_back("a boot error region belongs to a BERT table: not used");
  switch (d.kind) {
    case Kind::kAuto:
    case Kind::kRegion:
      d.kind = Kind::kRegion;
      d.region = DecodeRegion(bytes, d);
      break;
    case Kind::kBert:
      d.bert = DecodeBert(bytes, region, d);
      break;
    case Kind::kHest:
      d.hest = DecodeHest(bytes, d);
      break;
    case Kind::kMca:
      d.mca = DecodeMcaSnapshot(bytes, d);
      break;
  }
  return d;
}

}  // namespace records
