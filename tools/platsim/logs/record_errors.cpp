// The records platsim decode already reads, as memory errors: the memory
// error sections of a boot error region (alone or behind a BERT table) and
// the logged banks of a machine-check snapshot. A HEST describes error
// sources, not errors. A damaged record's faults are Unparsed, with offsets.
#include "tools/common/hex_text.h"
#include "tools/platsim/logs/log_text.h"
#include "tools/platsim/records/record_decode.h"

#include <cstring>
#include <memory>

namespace platsim::logs {

namespace {

bool Bit(uint64_t v, unsigned b) {
  return (v >> b) & 1;
}

// CPER severity: 0 recoverable, 1 fatal, 2 corrected, 3 informational.
Severity FromCper(uint32_t severity) {
  return severity >= 2 ? Severity::kCorrected : Severity::kUncorrected;
}

std::optional<int64_t> EntryTime(const records::DataEntry& e) {
  if ((e.head.ValidationBits & records::kEntryTimestampValid) == 0 || e.headerBytes < 72)
    return std::nullopt;
  const records::TimestampCheck t = records::CheckTimestamp(e.head.Timestamp);
  if (!t.text) return std::nullopt;
  return ParseTimeText(t.text->substr(0, 19));
}

void FromRegion(const records::Region& region, const std::shared_ptr<const std::string>& file,
                const std::string& name, LogRead& out) {
  using namespace records;
  for (const StatusBlock& b : region.blocks) {
    for (const DataEntry& e : b.entries) {
      if (!e.memory) continue;
      // A copy, and each field read by value: the layout is packed, and no
      // reference may be bound to its fields.
      const CperMemoryErrorSection m = *e.memory;
      const uint64_t v = m.ValidationBits;
      MemoryError err;
      err.file = file;
      err.line = e.offset;
      err.SetSource(name + " data entry at " + tools::HexText(e.offset));
      err.time = EntryTime(e);
      err.severity = FromCper(e.head.ErrorSeverity);
      if (Bit(v, kMemPhysicalAddress)) err.address = uint64_t{m.PhysicalAddress};
      CperLocation loc;
      const bool late = e.decodedBytes >= sizeof(CperMemoryErrorSection);
      if (Bit(v, kMemNode)) loc.node = uint32_t{m.Node};
      if (Bit(v, kMemCard)) loc.card = uint32_t{m.Card};
      if (Bit(v, kMemModule)) loc.module = uint32_t{m.Module};
      if (Bit(v, kMemBank))
        loc.bank = uint32_t{m.Bank};
      else if (Bit(v, kMemBankAddress))
        loc.bank = m.Bank & 0xFFu;
      if (Bit(v, kMemDevice)) loc.device = uint32_t{m.Device};
      if (Bit(v, kMemRow))
        loc.row = m.Row | (late && Bit(v, kMemExtendedRow) ? (m.Extended & 3u) << 16 : 0u);
      if (Bit(v, kMemColumn)) loc.column = uint32_t{m.Column};
      if (Bit(v, kMemBitPosition)) loc.bitPosition = uint32_t{m.BitPosition};
      if (late && Bit(v, kMemRank)) loc.rank = uint32_t{m.RankNumber};
      err.location = std::make_shared<const CperLocation>(loc);
      if (Bit(v, kMemErrorType)) {
        const char* type = MemoryErrorTypeName(m.MemoryErrorType);
        err.message = std::make_shared<const std::string>(
            type ? type : "memory error type " + std::to_string(m.MemoryErrorType));
      }
      out.errors.push_back(std::move(err));
    }
  }
}

void FromSnapshot(const records::McaSnapshot& s, const std::shared_ptr<const std::string>& file,
                  const std::string& name, LogRead& out) {
  for (const records::McaBank& b : s.banks) {
    if (b.state != records::BankState::kLogged) continue;
    MemoryError err;
    err.file = file;
    err.line = 0;
    err.SetSource(name + " processor " + std::to_string(s.processorNumber) + " bank " +
                  std::to_string(b.bank));
    McaFields f;
    f.cpu = static_cast<uint32_t>(s.processorNumber);
    f.bank = static_cast<uint32_t>(b.bank);
    f.status = b.status;
    f.addr = b.regs[0];  // msr2
    f.misc = b.regs[1];  // msr3
    f.ipid = b.regs[3];  // msr5
    f.synd = b.regs[4];  // msr6
    err.severity = (f.status & kMciStatusUc) ? Severity::kUncorrected : Severity::kCorrected;
    if (f.status & kMciStatusAddrv) err.address = f.addr;
    err.mca = f;
    out.errors.push_back(std::move(err));
  }
}

}  // namespace

SourceKind DetectSource(std::span<const uint8_t> bytes) {
  static const char kMagic[] = "SQLite format 3";  // and its NUL: 16 bytes
  if (bytes.size() >= 16 && std::memcmp(bytes.data(), kMagic, 16) == 0)
    return SourceKind::kRasdaemonDb;
  if (bytes.empty()) return SourceKind::kRecords;
  const records::Kind k = records::DetectKind(bytes);
  if (k != records::Kind::kRegion) return SourceKind::kRecords;
  // Text: no NUL and no control bytes but tab, CR, LF and ESC (journalctl's colours).
  for (const uint8_t c : bytes)
    if (c == 0 || (c < 0x20 && c != '\t' && c != '\n' && c != '\r' && c != 0x1B) || c == 0x7F)
      return SourceKind::kRecords;
  return SourceKind::kKernelLog;
}

LogRead ReadRecordFile(std::span<const uint8_t> bytes, const std::string& file,
                       const std::string& name) {
  const records::Decoded d = records::Decode(bytes, records::Kind::kAuto);
  LogRead out;
  const auto shared = std::make_shared<const std::string>(file);
  if (d.region) FromRegion(*d.region, shared, name, out);
  if (d.bert && d.bert->region) FromRegion(*d.bert->region, shared, name, out);
  if (d.bert && !d.bert->region)
    out.notes.push_back(name +
                        ": a BERT table without its boot error region (give the region's "
                        "bytes as a file of its own)");
  if (d.hest) out.notes.push_back(name + ": a HEST lists error sources, not errors");
  if (d.mca) FromSnapshot(*d.mca, shared, name, out);
  for (const records::Damage& x : d.damage)
    out.unparsed.push_back(Unparsed{
        file, x.offset.value_or(0), x.input + (x.offset ? " at " + tools::HexText(*x.offset) : ""),
        x.field + ": expected " + x.expected + ", found " + x.found,
        name + " " + x.input + (x.offset ? " at " + tools::HexText(*x.offset) : "")});
  return out;
}

}  // namespace platsim::logs
