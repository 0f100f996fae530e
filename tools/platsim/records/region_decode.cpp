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

// One Generic Error Data Entry at `at`, with `left` bytes of Data Length from
// there. Returns the bytes it takes, or 0 when the walk cannot go on.
uint64_t DecodeEntry(const tools::ByteView& v, uint64_t at, uint64_t left, size_t index,
                     StatusBlock& block, Decoded& out) {
  const std::string name = "data entry " + std::to_string(index);
  if (left < kDataEntryHeaderBytes) {
    Damaged(out, at, name, "a Generic Error Data Entry header of 64 bytes",
            Bytes_(left) + " left of Data Length");
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
    return 0;
  }
  if (e.headerBytes == kDataEntryTimestampedHeaderBytes)
    e.head.Timestamp = v.Get<uint64_t>(at + kDataEntryHeaderBytes);
  if (tools::SeverityName(e.head.ErrorSeverity) == nullptr)
    Damaged(out, at + offsetof(GenericErrorDataEntry, ErrorSeverity), name + " Error Severity",
            "0 to 3", std::to_string(e.head.ErrorSeverity));
  const uint64_t room = left - e.headerBytes;
  const uint64_t length = e.head.ErrorDataLength;
  if (length > room) {
    Damaged(out, at + offsetof(GenericErrorDataEntry, ErrorDataLength), name + " Error Data Length",
            "at most " + std::to_string(room) + " (what Data Length leaves)",
            std::to_string(length));
    block.entries.push_back(e);
    return 0;
  }
  const uint64_t section = at + e.headerBytes;
  if (std::memcmp(e.head.SectionType, kPlatformMemorySection.data(), 16) == 0) {
    if (length < sizeof(CperMemoryErrorSection)) {
      Damaged(out, at + offsetof(GenericErrorDataEntry, ErrorDataLength),
              name + " Error Data Length", "at least 80 for a platform memory error section",
              std::to_string(length));
    } else {
      e.memory = v.Get<CperMemoryErrorSection>(section);
      e.sectionSurplus = length - sizeof(CperMemoryErrorSection);
    }
  }
  block.entries.push_back(e);
  return e.headerBytes + length;
}

StatusBlock DecodeBlock(const tools::ByteView& v, uint64_t at, Decoded& out) {
  StatusBlock b;
  b.offset = at;
  b.head = v.Get<GenericErrorStatusBlock>(at);
  const GenericErrorStatusBlock& h = b.head;
  const uint64_t blockLeft = v.Left(at);  // from the block's start to the region's end
  if (tools::SeverityName(h.ErrorSeverity) == nullptr)
    Damaged(out, at + offsetof(GenericErrorStatusBlock, ErrorSeverity), "Error Severity", "0 to 3",
            std::to_string(h.ErrorSeverity));

  uint64_t dataBytes = h.DataLength;
  if (dataBytes > blockLeft - kBlockBytes) {
    Damaged(out, at + offsetof(GenericErrorStatusBlock, DataLength), "Data Length",
            "at most " + std::to_string(blockLeft - kBlockBytes) +
                " (the region's bytes after the block)",
            std::to_string(h.DataLength));
    dataBytes = blockLeft - kBlockBytes;
    b.entriesComplete = false;
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
