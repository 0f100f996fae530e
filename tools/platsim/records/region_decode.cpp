// Boot error regions: one Generic Error Status Block after another, each with
// its Generic Error Data Entries (Data Length bytes after the block's 20) and
// its raw data (at Raw Data Offset from the block). A block whose Block Status
// is 0 after the first one ends the walk, as it ends an operating system's.
#include "tools/common/byte_view.h"
#include "tools/platsim/records/record_decode.h"
#include "tools/common/severity_name.h"
#include "tools/common/hex_text.h"

#include <algorithm>

namespace records {

namespace {

constexpr uint64_t kBlockBytes = sizeof(GenericErrorStatusBlock);

std::string Count(uint64_t n, const char* one, const char* many) {
  return std::to_string(n) + " " + (n == 1 ? one : many);
}

std::string Bytes_(uint64_t n) {
  return Count(n, "byte", "bytes");
}

void Damaged(Decoded& out, uint64_t offset, std::string field, std::string expected,
             std::string found) {
  out.damage.push_back({"region", offset, std::move(field), std::move(expected), std::move(found)});
}

bool SameGuid(const uint8_t* a, const GuidBytes& b) {
  return std::memcmp(a, b.data(), 16) == 0;
}

std::string ReservedSeverity(uint32_t severity) {
  return "Error Severity " + std::to_string(severity) +
         " is reserved (0 recoverable, 1 fatal, 2 corrected, 3 informational)";
}

// A section of a decoded type, `length` bytes at `section`: read into its
// layout as far as the bytes go. Shorter than `minBytes` it is refused; a
// validation bit for a field past its bytes is a fault of the record, the
// fields inside are decoded all the same.
template <typename Section>
void DecodeSection(const tools::ByteView& v, uint64_t section, uint64_t length, uint64_t minBytes,
                   const char* what, std::span<const SectionFieldSpan> spans,
                   const std::string& name, DataEntry& e, std::optional<Section>& decoded,
                   Decoded& out) {
  const auto bytes = v.Sub(section, length);
  if (length < minBytes) {
    Damaged(out, e.offset + offsetof(GenericErrorDataEntry, ErrorDataLength),
            name + " Error Data Length",
            "at least " + std::to_string(minBytes) + " for a " + what + " section",
            std::to_string(length));
    e.refusal = "Error Data Length " + std::to_string(length) + " is shorter than the " +
                std::to_string(minBytes) + " bytes of a " + what + " section";
    e.data.assign(bytes.begin(), bytes.end());
    return;
  }
  Section s{};
  const uint64_t n = std::min<uint64_t>(length, sizeof(Section));
  std::memcpy(&s, bytes.data(), n);
  for (const auto& f : spans)
    if (((s.ValidationBits >> f.bit) & 1) && f.offset + f.width > length)
      Damaged(out, section, name + " " + what + " validation bits",
              "no bit for a field past the section's " + Bytes_(length),
              "bit " + std::to_string(f.bit) + " (" + f.name + ", bytes " +
                  std::to_string(f.offset) + " to " + std::to_string(f.offset + f.width - 1) + ")");
  decoded = s;
  e.decodedBytes = n;
  e.data.assign(bytes.begin() + static_cast<std::ptrdiff_t>(n), bytes.end());
}

// One Generic Error Data Entry at `at`, with `left` bytes of Data Length from
// there. Returns the bytes it takes, or 0 when the walk cannot go on (the
// block's walkStop says why).
uint64_t DecodeEntry(const tools::ByteView& v, uint64_t at, uint64_t left, size_t index,
                     StatusBlock& block, Decoded& out) {
  const std::string name = "data entry " + std::to_string(index);
  if (left < kDataEntryHeaderBytes) {
    Damaged(out, at, name, "a Generic Error Data Entry header of 64 bytes",
            Bytes_(left) + " left of Data Length");
    block.walkStop = "at " + tools::HexText(at) + ": " + Bytes_(left) +
                     " left of Data Length, less than an entry header (64)";
    return 0;
  }
  DataEntry e;
  e.offset = at;
  std::memcpy(&e.head, v.Sub(at, kDataEntryHeaderBytes).data(), kDataEntryHeaderBytes);
  e.headerBytes = (e.head.Revision >> 8) >= (kDataEntryTimestampRevision >> 8)
                      ? kDataEntryTimestampedHeaderBytes
                      : kDataEntryHeaderBytes;
  if (left < e.headerBytes) {
    Damaged(
        out, at, name,
        "a header of 72 bytes (revision " + tools::HexText(e.head.Revision) + " has a timestamp)",
        Bytes_(left) + " left of Data Length");
    block.walkStop = "at " + tools::HexText(at) + ": " + Bytes_(left) +
                     " left of Data Length, less than the timestamped header (72) of revision " +
                     tools::HexText(e.head.Revision);
    return 0;
  }
  const std::string place = "data entry at " + tools::HexText(at) + ": ";
  if (e.headerBytes == kDataEntryTimestampedHeaderBytes) {
    e.head.Timestamp = v.Get<uint64_t>(at + kDataEntryHeaderBytes);
    if (e.head.ValidationBits & kEntryTimestampValid) {
      const TimestampCheck t = CheckTimestamp(e.head.Timestamp);
      if (!t.text)
        out.notes.push_back(place + "timestamp not valid: " + t.fault + " (bytes " + t.bytes + ")");
    }
  }
  if (tools::SeverityName(e.head.ErrorSeverity) == nullptr)
    out.notes.push_back(place + ReservedSeverity(e.head.ErrorSeverity));
  const uint64_t room = left - e.headerBytes;
  const uint64_t length = e.head.ErrorDataLength;
  if (length > room) {
    Damaged(out, at + offsetof(GenericErrorDataEntry, ErrorDataLength), name + " Error Data Length",
            "at most " + std::to_string(room) + " (what Data Length leaves)",
            std::to_string(length));
    e.refusal = "Error Data Length " + std::to_string(length) + " runs past Data Length (" +
                Bytes_(room) + " left after the header)";
    block.walkStop = "after " + name + ": its Error Data Length runs past Data Length";
    block.entries.push_back(e);
    return 0;
  }
  const uint64_t section = at + e.headerBytes;
  e.sectionBytes = length;
  if (SameGuid(e.head.SectionType, kPlatformMemorySection)) {
    DecodeSection(v, section, length, kMemorySectionFirstLayoutBytes, "platform memory error",
                  MemoryFieldSpans(), name, e, e.memory, out);
  } else if (SameGuid(e.head.SectionType, kProcessorGenericSection)) {
    DecodeSection(v, section, length, sizeof(CperProcessorGenericSection),
                  "generic processor error", ProcessorFieldSpans(), name, e, e.processor, out);
  } else {
    const auto bytes = v.Sub(section, length);
    e.data.assign(bytes.begin(), bytes.end());
  }
  block.entries.push_back(e);
  return e.headerBytes + length;
}

// Block Status bit 0 says an uncorrectable error is logged, bit 1 a
// correctable one; the entries' severities say the same from their side
// (recoverable and fatal are uncorrected, corrected is corrected,
// informational is neither).
void CrossCheckSeverities(const StatusBlock& b, Decoded& out) {
  bool uncorrected = false, corrected = false;
  for (const auto& e : b.entries) {
    uncorrected |= e.head.ErrorSeverity == 0 || e.head.ErrorSeverity == 1;
    corrected |= e.head.ErrorSeverity == 2;
  }
  const std::string place = "status block at " + tools::HexText(b.offset) + ": ";
  const std::string raw = b.head.RawDataLength ? " (the raw data may hold it)" : "";
  const struct {
    unsigned bit;
    bool entries;
    const char* bitName;  // of Block Status
    const char* entryName;
  } checks[] = {{0, uncorrected, "uncorrectable error valid", "recoverable or fatal"},
                {1, corrected, "correctable error valid", "corrected"}};
  for (const auto& c : checks) {
    const bool set = (b.head.BlockStatus >> c.bit) & 1;
    const std::string bit = "Block Status bit " + std::to_string(c.bit) + " (" + c.bitName + ")";
    if (set && !c.entries)
      out.notes.push_back(place + bit + " is set, and no data entry is " + c.entryName + raw);
    else if (!set && c.entries)
      out.notes.push_back(place + bit + " is clear, and a data entry is " + c.entryName);
  }
}

StatusBlock DecodeBlock(const tools::ByteView& v, uint64_t at, Decoded& out) {
  StatusBlock b;
  b.offset = at;
  b.head = v.Get<GenericErrorStatusBlock>(at);
  const GenericErrorStatusBlock& h = b.head;
  const uint64_t blockLeft = v.Left(at);  // from the block's start to the region's end
  if (tools::SeverityName(h.ErrorSeverity) == nullptr)
    out.notes.push_back("status block at " + tools::HexText(at) + ": " +
                        ReservedSeverity(h.ErrorSeverity));

  uint64_t dataBytes = h.DataLength;
  if (dataBytes > blockLeft - kBlockBytes) {
    Damaged(out, at + offsetof(GenericErrorStatusBlock, DataLength), "Data Length",
            "at most " + std::to_string(blockLeft - kBlockBytes) +
                " (the region's bytes after the block)",
            std::to_string(h.DataLength));
    dataBytes = blockLeft - kBlockBytes;
    b.entriesComplete = false;
    b.walkStop = "at the region's end: Data Length runs past it";
  }
  uint64_t e = at + kBlockBytes;
  const uint64_t end = e + dataBytes;
  while (e < end) {
    const uint64_t took = DecodeEntry(v, e, end - e, b.entries.size(), b, out);
    if (took == 0) {
      b.entriesComplete = false;
      break;
    }
    e += took;
  }

  if (h.RawDataLength != 0) {
    const uint64_t entriesEnd = kBlockBytes + uint64_t{h.DataLength};
    const uint64_t rawEnd = uint64_t{h.RawDataOffset} + h.RawDataLength;
    if (h.RawDataOffset < entriesEnd)
      Damaged(out, at + offsetof(GenericErrorStatusBlock, RawDataOffset), "Raw Data Offset",
              "at least " + std::to_string(entriesEnd) + " (20 + Data Length: after the entries)",
              std::to_string(h.RawDataOffset));
    if (rawEnd > blockLeft)
      Damaged(out, at + offsetof(GenericErrorStatusBlock, RawDataLength), "Raw Data Length",
              "at most " +
                  std::to_string(blockLeft > h.RawDataOffset ? blockLeft - h.RawDataOffset : 0) +
                  " (the region's bytes after Raw Data Offset " + std::to_string(h.RawDataOffset) +
                  ")",
              std::to_string(h.RawDataLength));
    else {
      const auto raw = v.Sub(at + h.RawDataOffset, h.RawDataLength);
      b.raw = Bytes(raw.begin(), raw.end());
    }
  }

  const uint32_t counted = (h.BlockStatus & kBlockEntryCountMask) >> kBlockEntryCountShift;
  if (b.entriesComplete && counted != b.entries.size())
    out.notes.push_back(
        "status block at " + tools::HexText(at) + ": Block Status counts " +
        Count(counted, "entry", "entries") + ", Data Length holds " +
        Count(b.entries.size(), "generic error data entry", "generic error data entries"));
  if (b.entriesComplete) CrossCheckSeverities(b, out);
  return b;
}

uint64_t BlockEnd(const StatusBlock& b) {
  uint64_t end = b.offset + kBlockBytes + b.head.DataLength;
  if (b.head.RawDataLength != 0)
    end = std::max(end, b.offset + b.head.RawDataOffset + b.head.RawDataLength);
  return end;
}

}  // namespace

Region DecodeRegion(std::span<const uint8_t> bytes, Decoded& out) {
  const tools::ByteView v(bytes);
  Region r;
  r.size = v.size();
  uint64_t at = 0;
  while (at < v.size()) {
    if (v.Left(at) < kBlockBytes) {
      if (r.blocks.empty())
        Damaged(out, at, "Generic Error Status Block", "20 bytes", Bytes_(v.Left(at)));
      break;
    }
    if (!r.blocks.empty() && v.Get<uint32_t>(at) == 0) break;  // no further block
    r.blocks.push_back(DecodeBlock(v, at, out));
    at = BlockEnd(r.blocks.back());
  }
  if (v.size() == 0) Damaged(out, 0, "Generic Error Status Block", "20 bytes", "an empty region");
  if (!r.blocks.empty() && at < v.size()) {
    r.tailOffset = at;
    r.tailBytes = v.size() - at;
    const auto tail = v.Sub(at, r.tailBytes);
    r.tailZero = std::all_of(tail.begin(), tail.end(), [](uint8_t b) { return b == 0; });
  }
  return r;
}

}  // namespace records
