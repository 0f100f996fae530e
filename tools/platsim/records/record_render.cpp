#include "tools/platsim/records/record_render.h"

#include "tools/common/byte_view.h"
#include "tools/common/severity_name.h"
#include "tools/common/guid_text.h"
#include "tools/common/hex_text.h"

#include <cstdio>
#include <sstream>

namespace records {

namespace {

using Json = nlohmann::ordered_json;

std::string Join(const std::vector<std::string>& names, const char* sep = ", ") {
  std::string s;
  for (const auto& n : names) s += (s.empty() ? "" : sep) + n;
  return s;
}

std::string WithNames(std::string value, const std::vector<std::string>& names) {
  return names.empty() ? value : value + " (" + Join(names) + ")";
}

std::string Severity(uint32_t s) {
  const char* name = tools::SeverityName(s);
  return std::to_string(s) + " (" + (name ? name : "reserved") + ")";
}

std::string HexBytesMax(const Bytes& b, size_t max) {
  if (b.size() <= max) return HexBytes(b);
  return HexBytes(std::span<const uint8_t>(b.data(), max)) + " ... (" +
         std::to_string(b.size() - max) + " more)";
}

std::string Printable(const char* p, size_t n, bool stopAtNul) {
  std::string s;
  for (size_t i = 0; i < n; ++i) {
    if (stopAtNul && p[i] == 0) break;
    s += (p[i] >= 0x20 && p[i] < 0x7F) ? p[i] : '.';
  }
  return s;
}

std::string FruText(const char (&text)[20]) {
  return Printable(text, sizeof text, true);
}

// "4660 (0x1234)": DRAM coordinates in decimal, as engineers compare them,
// with the hex beside where the bits matter.
std::string DecHex(uint64_t v) {
  return std::to_string(v) + " (" + tools::HexText(v) + ")";
}

std::string Coded(uint64_t v, const char* name) {
  return std::to_string(v) + " (" + (name ? name : "reserved") + ")";
}

// One validated field of a section: its row in the text, its value in JSON.
struct Field {
  unsigned bit;
  const char* label;
  const char* key;
  std::string text;
  Json json;
  bool holdsValue;  // nonzero: listed among "not marked valid" when its bit is clear
  std::vector<std::pair<const char*, Json>> names = {};  // extra JSON keys when valid
  bool listUnmarked = true;  // false: the same bytes are listed under another field
  bool showValid = true;     // false: shown as part of another field
};

bool Bit(uint64_t bits, unsigned bit) {
  return (bits >> bit) & 1;
}

// Whether the field of `bit` lies inside the section's `bytes`.
bool Inside(std::span<const SectionFieldSpan> spans, unsigned bit, uint64_t bytes) {
  for (const auto& s : spans)
    if (s.bit == bit) return s.offset + s.width <= bytes;
  return true;
}

std::vector<Field> MemoryFields(const CperMemoryErrorSection& m, uint64_t bytes) {
  const uint64_t v = m.ValidationBits;
  const bool splitBank = Bit(v, kMemBankGroup) || Bit(v, kMemBankAddress);
  // Row bits 17:16 come from the extended byte when its bit is set (and the
  // byte is there); with the row bit clear they are all that is known.
  const bool extension =
      Bit(v, kMemExtendedRow) && Inside(MemoryFieldSpans(), kMemExtendedRow, bytes);
  const uint32_t high = uint32_t{m.Extended & 3u} << 16;
  const uint32_t row = m.Row | (extension && Bit(v, kMemRow) ? high : 0);
  const uint8_t type = m.MemoryErrorType;
  const std::string errorStatus = ErrorStatusText(m.ErrorStatus);
  const char* typeName = MemoryErrorTypeName(type);
  return {
      {kMemErrorStatus,
       "error status",
       "errorStatus",
       tools::Hex64(m.ErrorStatus) + ": " + errorStatus,
       tools::Hex64(m.ErrorStatus),
       m.ErrorStatus != 0,
       {{"errorStatusText", errorStatus}}},
      {kMemPhysicalAddress, "physical address", "physicalAddress", tools::Hex64(m.PhysicalAddress),
       tools::Hex64(m.PhysicalAddress), m.PhysicalAddress != 0},
      {kMemPhysicalAddressMask, "address mask", "physicalAddressMask",
       tools::Hex64(m.PhysicalAddressMask), tools::Hex64(m.PhysicalAddressMask),
       m.PhysicalAddressMask != 0},
      {kMemNode, "node", "node", std::to_string(m.Node), m.Node, m.Node != 0},
      {kMemCard, "card", "card", std::to_string(m.Card), m.Card, m.Card != 0},
      {kMemModule, "module", "module", std::to_string(m.Module), m.Module, m.Module != 0},
      {kMemBank, "bank", "bank", std::to_string(m.Bank), m.Bank, m.Bank != 0, {}, !splitBank},
      {kMemBankGroup, "bank group", "bankGroup", std::to_string(m.Bank >> 8u), m.Bank >> 8u, false},
      {kMemBankAddress, "bank address", "bankAddress", std::to_string(m.Bank & 0xFFu),
       m.Bank & 0xFFu, false},
      {kMemDevice, "device", "device", std::to_string(m.Device), m.Device, m.Device != 0},
      {kMemRow, "row", "row", DecHex(row), row, m.Row != 0},
      {kMemExtendedRow,
       "row bits 17:16",
       "rowBits17To16",
       std::to_string(high >> 16) + " (" + tools::HexText(high) +
           (Bit(v, kMemExtendedRow) ? "; row bits 15:0 not valid)" : ")"),
       high >> 16,
       high != 0,
       {},
       true,
       !Bit(v, kMemRow)},
      {kMemColumn, "column", "column", DecHex(m.Column), m.Column, m.Column != 0},
      {kMemBitPosition, "bit position", "bitPosition", std::to_string(m.BitPosition), m.BitPosition,
       m.BitPosition != 0},
      {kMemRequestorId, "requestor id", "requestorId", tools::Hex64(m.RequestorId),
       tools::Hex64(m.RequestorId), m.RequestorId != 0},
      {kMemResponderId, "responder id", "responderId", tools::Hex64(m.ResponderId),
       tools::Hex64(m.ResponderId), m.ResponderId != 0},
      {kMemTargetId, "target id", "targetId", tools::Hex64(m.TargetId), tools::Hex64(m.TargetId),
       m.TargetId != 0},
      {kMemErrorType,
       "memory error type",
       "memoryErrorType",
       Coded(type, typeName),
       type,
       type != 0,
       {{"memoryErrorTypeName", typeName ? typeName : "reserved"}}},
      {kMemRank, "rank", "rank", std::to_string(m.RankNumber), m.RankNumber, m.RankNumber != 0},
      {kMemCardHandle, "card handle", "cardHandle", tools::HexText(m.CardHandle, 4), m.CardHandle,
       m.CardHandle != 0},
      {kMemModuleHandle, "module handle", "moduleHandle", tools::HexText(m.ModuleHandle, 4),
       m.ModuleHandle, m.ModuleHandle != 0},
      {kMemChipId, "chip id", "chipId", std::to_string(m.Extended >> 5u), m.Extended >> 5u,
       (m.Extended >> 5u) != 0},
  };
}

std::vector<Field> ProcessorFields(const CperProcessorGenericSection& p) {
  const auto named = [](uint8_t v, const std::vector<std::string>& names) {
    return WithNames(tools::HexText(v, 2), names);
  };
  const char* type = ProcessorTypeName(p.ProcessorType);
  const char* isa = ProcessorIsaName(p.ProcessorIsa);
  const char* op = ProcessorOperationName(p.Operation);
  const std::string brand = Printable(p.BrandString, sizeof p.BrandString, true);
  return {
      {kProcType,
       "processor type",
       "processorType",
       Coded(p.ProcessorType, type),
       p.ProcessorType,
       p.ProcessorType != 0,
       {{"processorTypeName", type ? type : "reserved"}}},
      {kProcIsa,
       "processor ISA",
       "processorIsa",
       Coded(p.ProcessorIsa, isa),
       p.ProcessorIsa,
       p.ProcessorIsa != 0,
       {{"processorIsaName", isa ? isa : "reserved"}}},
      {kProcErrorType,
       "error type",
       "errorType",
       named(p.ErrorType, ProcessorErrorTypeNames(p.ErrorType)),
       p.ErrorType,
       p.ErrorType != 0,
       {{"errorTypeNames", ProcessorErrorTypeNames(p.ErrorType)}}},
      {kProcOperation,
       "operation",
       "operation",
       Coded(p.Operation, op),
       p.Operation,
       p.Operation != 0,
       {{"operationName", op ? op : "reserved"}}},
      {kProcFlags,
       "flags",
       "flags",
       named(p.Flags, ProcessorFlagNames(p.Flags)),
       p.Flags,
       p.Flags != 0,
       {{"flagNames", ProcessorFlagNames(p.Flags)}}},
      {kProcLevel, "level", "level", std::to_string(p.Level), p.Level, p.Level != 0},
      {kProcCpuVersion, "CPU version", "cpuVersion", tools::Hex64(p.CpuVersion),
       tools::Hex64(p.CpuVersion), p.CpuVersion != 0},
      {kProcBrandString, "CPU brand string", "cpuBrandString", "\"" + brand + "\"", brand,
       p.BrandString[0] != 0},
      {kProcId, "processor id", "processorId", tools::Hex64(p.ProcessorId),
       tools::Hex64(p.ProcessorId), p.ProcessorId != 0},
      {kProcTargetAddress, "target address", "targetAddress", tools::Hex64(p.TargetAddress),
       tools::Hex64(p.TargetAddress), p.TargetAddress != 0},
      {kProcRequestorId, "requestor id", "requestorId", tools::Hex64(p.RequestorId),
       tools::Hex64(p.RequestorId), p.RequestorId != 0},
      {kProcResponderId, "responder id", "responderId", tools::Hex64(p.ResponderId),
       tools::Hex64(p.ResponderId), p.ResponderId != 0},
      {kProcInstructionIp, "instruction IP", "instructionIp", tools::Hex64(p.InstructionIp),
       tools::Hex64(p.InstructionIp), p.InstructionIp != 0},
  };
}

// What a section's fields come to: the ones shown (valid and inside the
// section), the valid ones past its bytes, and the ones that hold a value
// without their bit.
struct SectionView {
  std::vector<const Field*> shown, past, unmarked;
};

SectionView View(const std::vector<Field>& fields, uint64_t validationBits,
                 std::span<const SectionFieldSpan> spans, uint64_t bytes) {
  SectionView view;
  for (const auto& f : fields) {
    const bool valid = Bit(validationBits, f.bit);
    const bool inside = Inside(spans, f.bit, bytes);
    if (valid && !inside)
      view.past.push_back(&f);
    else if (valid && f.showValid)
      view.shown.push_back(&f);
    else if (!valid && inside && f.holdsValue && f.listUnmarked)
      view.unmarked.push_back(&f);
  }
  return view;
}

std::string PastText(std::span<const SectionFieldSpan> spans, unsigned bit, uint64_t bytes) {
  for (const auto& s : spans)
    if (s.bit == bit)
      return "not in the section's " + std::to_string(bytes) + " bytes (bit " +
             std::to_string(bit) + " set; bytes " + std::to_string(s.offset) + " to " +
             std::to_string(s.offset + s.width - 1) + ")";
  return "";
}

// The memory error section's own coordinates beside the translation's; one
// entry for each that the record marks valid and the translation puts
// elsewhere.
struct Mismatch {
  const char* field;
  uint64_t record, translation;
  bool hex;
};

std::vector<Mismatch> Mismatches(const CperMemoryErrorSection& m, uint64_t bytes, const Place& p) {
  const uint64_t v = m.ValidationBits;
  const bool extension =
      Bit(v, kMemExtendedRow) && Inside(MemoryFieldSpans(), kMemExtendedRow, bytes);
  std::vector<Mismatch> out;
  if (Bit(v, kMemNode) && m.Node != p.node) out.push_back({"node", m.Node, p.node, false});
  if (Bit(v, kMemBank) && m.Bank != p.bank) out.push_back({"bank", m.Bank, p.bank, false});
  if (Bit(v, kMemRow)) {
    const uint64_t row = m.Row | (extension ? uint64_t{m.Extended & 3u} << 16 : 0);
    const uint64_t theirs = extension ? p.row : p.row & 0xFFFF;
    if (row != theirs) out.push_back({"row", row, theirs, true});
  } else if (extension && (m.Extended & 3u) != ((p.row >> 16) & 3)) {
    out.push_back({"row bits 17:16", m.Extended & 3u, (p.row >> 16) & 3, false});
  }
  if (Bit(v, kMemColumn) && m.Column != p.column)
    out.push_back({"column", m.Column, p.column, true});
  return out;
}

std::string MismatchText(const std::vector<Mismatch>& list) {
  std::vector<std::string> parts;
  for (const auto& x : list)
    parts.push_back(std::string(x.field) + ": record " +
                    (x.hex ? DecHex(x.record) : std::to_string(x.record)) + ", translation " +
                    (x.hex ? DecHex(x.translation) : std::to_string(x.translation)));
  return Join(parts, "; ");
}

std::string MismatchNote(uint64_t entryOffset, const std::vector<Mismatch>& list) {
  std::vector<std::string> fields;
  for (const auto& x : list) fields.emplace_back(x.field);
  return "data entry at " + tools::HexText(entryOffset) + ": the record's own " + Join(fields) +
         (list.size() == 1 ? " differs" : " differ") +
         " from the translation: the profile may not describe the machine that logged the "
         "record";
}

// A section's bytes, 16 a line: offset in the section, hex, printable text.
std::vector<std::string> HexDump(const Bytes& b) {
  std::vector<std::string> lines;
  for (size_t at = 0; at < b.size(); at += 16) {
    char off[24];
    std::snprintf(off, sizeof off, "%04zx ", at);
    std::string hex, text;
    for (size_t i = at; i < at + 16; ++i) {
      if (i < b.size()) {
        char h[4];
        std::snprintf(h, sizeof h, " %02x", b[i]);
        hex += h;
        text += (b[i] >= 0x20 && b[i] < 0x7F) ? static_cast<char>(b[i]) : '.';
      } else {
        hex += "   ";
      }
    }
    lines.push_back(off + hex + "  |" + text + "|");
  }
  return lines;
}

// ---- text ------------------------------------------------------------------

class TextOut {
 public:
  TextOut(std::ostream& out, const Translator& translate) : out_(out), translate_(translate) {}

  void Row(int indent, const std::string& label, const std::string& value) {
    std::string l(static_cast<size_t>(indent), ' ');
    l += label;
    if (l.size() < static_cast<size_t>(indent) + 20)
      l.resize(static_cast<size_t>(indent) + 20, ' ');
    else
      l += ' ';
    out_ << l << value << "\n";
  }

  // The translation of `address`, under a row that says on which platform it
  // was made; returned for the comparisons the caller makes with it.
  std::optional<Translation> Translated(int indent, uint64_t address) {
    if (!translate_) return std::nullopt;
    Translation t = translate_(address);
    Row(indent, "translated", t.platform.empty() ? "as translate sys shows it" : t.platform);
    std::istringstream lines(t.text);
    for (std::string line; std::getline(lines, line);)
      out_ << std::string(static_cast<size_t>(indent) + 2, ' ') << line << "\n";
    return t;
  }

  void Dump(int indent, const Bytes& bytes) {
    for (const auto& line : HexDump(bytes))
      out_ << std::string(static_cast<size_t>(indent), ' ') << line << "\n";
  }

  // The fields of a decoded section, each valid one on its row.
  void Fields(const std::vector<Field>& fields, uint64_t validationBits,
              std::span<const SectionFieldSpan> spans, uint64_t bytes, int ind) {
    const SectionView view = View(fields, validationBits, spans, bytes);
    for (const Field* f : view.shown) Row(ind, f->label, f->text);
    for (const Field* f : view.past) Row(ind, f->label, PastText(spans, f->bit, bytes));
    std::vector<std::string> unmarked;
    for (const Field* f : view.unmarked) unmarked.push_back(std::string(f->label) + " " + f->text);
    if (!unmarked.empty()) Row(ind, "not marked valid", Join(unmarked, "; "));
  }

  void Region(const records::Region& r, int ind, const char* label) {
    Row(ind, label,
        std::to_string(r.size) + " bytes, " + std::to_string(r.blocks.size()) +
            (r.blocks.size() == 1 ? " error status block" : " error status blocks"));
    for (size_t i = 0; i < r.blocks.size(); ++i) Block(r.blocks[i], i, ind);
    if (r.tailBytes)
      Row(ind, "after the blocks",
          std::to_string(r.tailBytes) + " bytes from " + tools::HexText(r.tailOffset) +
              (r.tailZero ? ", all zero" : ", not all zero (no status block there)"));
  }

  void Block(const StatusBlock& b, size_t index, int ind) {
    const GenericErrorStatusBlock& h = b.head;
    out_ << "\n";
    Row(ind, "status block " + std::to_string(index), "at " + tools::HexText(b.offset));
    const uint32_t count = (h.BlockStatus & kBlockEntryCountMask) >> kBlockEntryCountShift;
    Row(ind + 2, "block status",
        WithNames(tools::HexText(h.BlockStatus, 8), BlockStatusNames(h.BlockStatus)) +
            ", entry count " + std::to_string(count));
    Row(ind + 2, "error severity", Severity(h.ErrorSeverity));
    Row(ind + 2, "data length", std::to_string(h.DataLength));
    std::string raw =
        "offset " + std::to_string(h.RawDataOffset) + ", length " + std::to_string(h.RawDataLength);
    if (b.raw)
      raw += b.raw->empty() ? "" : ": " + HexBytesMax(*b.raw, 32);
    else if (h.RawDataLength)
      raw += " (not inside the region)";
    Row(ind + 2, "raw data", raw);
    for (size_t i = 0; i < b.entries.size(); ++i) Entry(b.entries[i], i, ind + 2);
    if (!b.walkStop.empty()) Row(ind + 2, "entry walk", "stopped " + b.walkStop);
  }

  void Entry(const DataEntry& e, size_t index, int ind) {
    const GenericErrorDataEntry& h = e.head;
    Row(ind, "data entry " + std::to_string(index), "at " + tools::HexText(e.offset));
    const char* name = SectionName(h.SectionType);
    Row(ind + 2, "section type",
        tools::GuidText(h.SectionType) + " (" + (name ? name : "unknown") + "), " +
            std::to_string(h.ErrorDataLength) + " bytes");
    Row(ind + 2, "error severity", Severity(h.ErrorSeverity));
    Row(ind + 2, "revision", tools::HexText(h.Revision, 4));
    Row(ind + 2, "flags", WithNames(tools::HexText(h.Flags, 2), EntryFlagNames(h.Flags)));
    Row(ind + 2, "validation bits", tools::HexText(h.ValidationBits, 2));
    if (h.ValidationBits & kEntryFruIdValid) Row(ind + 2, "FRU id", tools::GuidText(h.FruId));
    if (h.ValidationBits & kEntryFruTextValid)
      Row(ind + 2, "FRU text", "\"" + FruText(h.FruText) + "\"");
    if ((h.ValidationBits & kEntryTimestampValid) &&
        e.headerBytes == kDataEntryTimestampedHeaderBytes) {
      const TimestampCheck t = CheckTimestamp(h.Timestamp);
      Row(ind + 2, "timestamp",
          t.text ? *t.text : "not valid: " + t.fault + " (bytes " + t.bytes + ")");
    }
    if (e.memory) {
      Memory(*e.memory, e, ind + 2);
    } else if (e.processor) {
      const CperProcessorGenericSection& p = *e.processor;
      Row(ind + 2, "processor error",
          "validation bits " +
              WithNames(tools::Hex64(p.ValidationBits), ProcessorValidNames(p.ValidationBits)));
      Fields(ProcessorFields(p), p.ValidationBits, ProcessorFieldSpans(), e.sectionBytes, ind + 2);
    }
    if (!e.refusal.empty()) {
      Row(ind + 2, "section data", "refused: " + e.refusal);
      Dump(ind + 4, e.data);
    } else if (e.decodedBytes) {
      if (!e.data.empty()) {
        Row(ind + 2, "after the section", std::to_string(e.data.size()) + " bytes not decoded");
        Dump(ind + 4, e.data);
      }
    } else {
      Row(ind + 2, "section data",
          std::string(name ? "not decoded" : "unknown section type") + ", " +
              std::to_string(e.data.size()) + (e.data.size() == 1 ? " byte" : " bytes"));
      Dump(ind + 4, e.data);
    }
  }

  void Memory(const CperMemoryErrorSection& m, const DataEntry& e, int ind) {
    Row(ind, "memory error",
        "validation bits " +
            WithNames(tools::Hex64(m.ValidationBits), MemoryValidNames(m.ValidationBits)));
    Fields(MemoryFields(m, e.sectionBytes), m.ValidationBits, MemoryFieldSpans(), e.sectionBytes,
           ind);
    if (!Bit(m.ValidationBits, kMemPhysicalAddress)) return;
    const std::optional<Translation> t = Translated(ind, m.PhysicalAddress);
    if (!t || !t->place) return;
    const std::vector<Mismatch> mismatch = Mismatches(m, e.sectionBytes, *t->place);
    if (mismatch.empty()) return;
    Row(ind, "mismatch", MismatchText(mismatch));
    notes_.push_back(MismatchNote(e.offset, mismatch));
  }

  void Table(const TableHeader& h, const char* name) {
    std::string check = !h.checksumChecked ? "not checked (Length past the end)"
                        : h.checksumOk     ? tools::HexText(h.raw.Checksum, 2) + " ok"
                                       : tools::HexText(h.raw.Checksum, 2) + " WRONG (expected " +
                                             tools::HexText(h.expectedChecksum, 2) + ")";
    Row(0, name,
        "length " + std::to_string(h.raw.Length) + ", revision " + std::to_string(h.raw.Revision) +
            ", checksum " + check);
    Row(0, "OEM",
        "\"" + Printable(h.raw.OemId, 6, false) + "\" \"" + Printable(h.raw.OemTableId, 8, false) +
            "\" revision " + std::to_string(h.raw.OemRevision));
  }

  void Mca(const McaSnapshot& s) {
    Row(0, "machine check",
        "processor " + std::to_string(s.processorNumber) + ", capture " + s.status);
    if (s.status != "EFI_SUCCESS") return;
    Row(0, "processor info", s.processorInfo);
    Row(0, "bank count", s.bankCount ? std::to_string(*s.bankCount) : "not written");
    for (const auto& b : s.banks) {
      const std::string label = "bank " + std::to_string(b.bank);
      if (b.state == BankState::kAbsent) {
        Row(0, label, "absent (no hardware behind the bank)");
        continue;
      }
      if (b.state == BankState::kNoValidError) {
        Row(0, label, "no valid error logged");
        continue;
      }
      Row(0, label,
          "status " + tools::Hex64(b.status) + ": " + Join(McaStatusNames(b.status), " "));
      const auto code = static_cast<uint16_t>(b.status);
      Row(2, "error code", tools::HexText(code, 4) + ": " + McaErrorCodeText(code));
      Row(2, "model-specific",
          tools::HexText((b.status >> 16) & 0xFFFF, 4) + " (status bits 31:16)");
      for (size_t i = 0; i < b.regs.size(); i += 3) {
        std::string regs;
        for (size_t k = i; k < i + 3 && k < b.regs.size(); ++k)
          regs += (k > i ? "  " : "") + std::string(kMcaRegisterNames[k]) + " " +
                  tools::Hex64(b.regs[k]);
        Row(2, i == 0 ? "registers" : "", regs);
      }
      if ((b.status >> 58) & 1) {
        Row(2, "address (msr2)", tools::Hex64(b.regs[0]));
        (void)Translated(2, b.regs[0]);
      }
    }
  }

  std::ostream& out() { return out_; }
  // Notes that come from the translations (mismatches), after the decoder's.
  const std::vector<std::string>& notes() const { return notes_; }

 private:
  std::ostream& out_;
  const Translator& translate_;
  std::vector<std::string> notes_;
};

// ---- JSON ------------------------------------------------------------------

// The fields of a decoded section: the valid ones by key, those past the
// section's bytes by name, the ones holding a value without their bit.
void FieldsJson(const std::vector<Field>& fields, uint64_t validationBits,
                std::span<const SectionFieldSpan> spans, uint64_t bytes, Json& j) {
  const SectionView view = View(fields, validationBits, spans, bytes);
  for (const Field* f : view.shown) {
    j[f->key] = f->json;
    for (const auto& [key, value] : f->names) j[key] = value;
  }
  if (!view.past.empty()) {
    Json past = Json::array();
    for (const Field* f : view.past) past.push_back(f->key);
    j["pastSection"] = std::move(past);
  }
  if (!view.unmarked.empty()) {
    Json unmarked = Json::object();
    for (const Field* f : view.unmarked) unmarked[f->key] = f->json;
    j["notMarkedValid"] = std::move(unmarked);
  }
}

Json MemoryJson(const CperMemoryErrorSection& m, const DataEntry& e, const Translator& translate,
                std::vector<std::string>& notes) {
  Json j = Json::object();
  j["validationBits"] = tools::Hex64(m.ValidationBits);
  j["valid"] = MemoryValidNames(m.ValidationBits);
  FieldsJson(MemoryFields(m, e.sectionBytes), m.ValidationBits, MemoryFieldSpans(), e.sectionBytes,
             j);
  if (Bit(m.ValidationBits, kMemPhysicalAddress) && translate) {
    const Translation t = translate(m.PhysicalAddress);
    j["translation"] = t.json;
    if (t.place) {
      const std::vector<Mismatch> mismatch = Mismatches(m, e.sectionBytes, *t.place);
      if (!mismatch.empty()) {
        Json list = Json::array();
        for (const auto& x : mismatch)
          list.push_back(
              {{"field", x.field}, {"record", x.record}, {"translation", x.translation}});
        j["mismatch"] = std::move(list);
        notes.push_back(MismatchNote(e.offset, mismatch));
      }
    }
  }
  return j;
}

Json ProcessorJson(const CperProcessorGenericSection& p, const DataEntry& e) {
  Json j = Json::object();
  j["validationBits"] = tools::Hex64(p.ValidationBits);
  j["valid"] = ProcessorValidNames(p.ValidationBits);
  FieldsJson(ProcessorFields(p), p.ValidationBits, ProcessorFieldSpans(), e.sectionBytes, j);
  return j;
}

Json RegionJson(const Region& r, const Translator& translate, std::vector<std::string>& notes) {
  Json blocks = Json::array();
  for (const auto& b : r.blocks) {
    const GenericErrorStatusBlock& h = b.head;
    Json jb = Json::object();
    jb["offset"] = b.offset;
    jb["blockStatus"] = tools::HexText(h.BlockStatus);
    jb["blockStatusBits"] = BlockStatusNames(h.BlockStatus);
    jb["entryCount"] = (h.BlockStatus & kBlockEntryCountMask) >> kBlockEntryCountShift;
    jb["errorSeverity"] = h.ErrorSeverity;
    if (const char* s = tools::SeverityName(h.ErrorSeverity)) jb["errorSeverityName"] = s;
    jb["dataLength"] = h.DataLength;
    jb["rawDataOffset"] = h.RawDataOffset;
    jb["rawDataLength"] = h.RawDataLength;
    if (b.raw) jb["rawData"] = HexBytes(*b.raw);
    Json entries = Json::array();
    for (const auto& e : b.entries) {
      const GenericErrorDataEntry& eh = e.head;
      Json je = Json::object();
      je["offset"] = e.offset;
      je["sectionType"] = tools::GuidText(eh.SectionType);
      if (const char* n = SectionName(eh.SectionType)) je["sectionName"] = n;
      je["errorDataLength"] = eh.ErrorDataLength;
      je["errorSeverity"] = eh.ErrorSeverity;
      if (const char* s = tools::SeverityName(eh.ErrorSeverity)) je["errorSeverityName"] = s;
      je["revision"] = tools::HexText(eh.Revision);
      je["flags"] = tools::HexText(eh.Flags);
      je["flagNames"] = EntryFlagNames(eh.Flags);
      je["validationBits"] = tools::HexText(eh.ValidationBits);
      if (eh.ValidationBits & kEntryFruIdValid) je["fruId"] = tools::GuidText(eh.FruId);
      if (eh.ValidationBits & kEntryFruTextValid) je["fruText"] = FruText(eh.FruText);
      if ((eh.ValidationBits & kEntryTimestampValid) &&
          e.headerBytes == kDataEntryTimestampedHeaderBytes) {
        const TimestampCheck t = CheckTimestamp(eh.Timestamp);
        je["timestamp"] = t.text ? Json(*t.text) : Json();
        if (!t.text) {
          je["timestampFault"] = t.fault;
          je["timestampBytes"] = t.bytes;
        }
      }
      if (e.memory) je["memoryError"] = MemoryJson(*e.memory, e, translate, notes);
      if (e.processor) je["processorError"] = ProcessorJson(*e.processor, e);
      if (!e.refusal.empty()) je["sectionRefused"] = e.refusal;
      if (e.decodedBytes && e.refusal.empty()) {
        if (!e.data.empty()) {
          je["bytesAfterSection"] = e.data.size();
          je["dataAfterSection"] = HexBytes(e.data);
        }
      } else {
        je["data"] = HexBytes(e.data);
      }
      entries.push_back(std::move(je));
    }
    jb["entries"] = std::move(entries);
    if (!b.walkStop.empty()) jb["entryWalkStopped"] = b.walkStop;
    blocks.push_back(std::move(jb));
  }
  Json j = Json::object();
  j["length"] = r.size;
  j["blocks"] = std::move(blocks);
  if (r.tailBytes) {
    j["unusedOffset"] = r.tailOffset;
    j["unusedBytes"] = r.tailBytes;
    j["unusedAllZero"] = r.tailZero;
  }
  return j;
}

Json TableJson(const TableHeader& h) {
  Json j = Json::object();
  j["length"] = h.raw.Length;
  j["revision"] = h.raw.Revision;
  j["checksum"] = tools::HexText(h.raw.Checksum);
  j["checksumOk"] = h.checksumChecked ? Json(h.checksumOk) : Json();
  j["oemId"] = Printable(h.raw.OemId, 6, false);
  j["oemTableId"] = Printable(h.raw.OemTableId, 8, false);
  j["oemRevision"] = h.raw.OemRevision;
  return j;
}

Json McaJson(const McaSnapshot& s, const Translator& translate) {
  Json j = Json::object();
  j["processorNumber"] = s.processorNumber;
  j["status"] = s.status;
  if (s.status != "EFI_SUCCESS") return j;
  j["processorInfo"] = s.processorInfo;
  j["bankCount"] = s.bankCount ? Json(*s.bankCount) : Json();
  Json banks = Json::array();
  for (const auto& b : s.banks) {
    Json jb = Json::object();
    jb["bank"] = b.bank;
    jb["state"] = b.state == BankState::kAbsent         ? "absent"
                  : b.state == BankState::kNoValidError ? "no valid error"
                                                        : "logged";
    if (b.state == BankState::kLogged) {
      jb["status"] = tools::Hex64(b.status);
      jb["statusBits"] = McaStatusNames(b.status);
      jb["errorCode"] = tools::HexText(b.status & 0xFFFF, 4);
      jb["errorCodeText"] = McaErrorCodeText(static_cast<uint16_t>(b.status));
      jb["modelSpecificCode"] = tools::HexText((b.status >> 16) & 0xFFFF, 4);
      for (size_t i = 0; i < b.regs.size(); ++i) jb[kMcaRegisterNames[i]] = tools::Hex64(b.regs[i]);
      if (((b.status >> 58) & 1) && translate) jb["translation"] = translate(b.regs[0]).json;
    }
    banks.push_back(std::move(jb));
  }
  j["banks"] = std::move(banks);
  return j;
}

std::string DamageText(const Damage& d) {
  std::string where = d.input;
  if (d.offset) where += " offset " + tools::HexText(*d.offset);
  return where + ", " + d.field + ": expected " + d.expected + ", found " + d.found;
}

}  // namespace

void RenderText(const Decoded& d, const Translator& translate, std::ostream& out) {
  TextOut t(out, translate);
  if (d.region) {
    t.Region(*d.region, 0, "boot error region");
  } else if (d.bert) {
    t.Table(d.bert->header, "BERT");
    t.Row(0, "boot error region",
          std::to_string(d.bert->regionLength) + " bytes at physical address " +
              tools::Hex64(d.bert->regionAddress));
    if (d.bert->region)
      t.Region(*d.bert->region, 0, "region bytes given");
    else
      t.Row(0, "",
            "(not in the table: give the region's bytes with --region FILE; Linux "
            "shows them in /sys/firmware/acpi/tables/data/BERT)");
  } else if (d.hest) {
    t.Table(d.hest->header, "HEST");
    t.Row(0, "error sources", std::to_string(d.hest->sourceCount));
    for (size_t i = 0; i < d.hest->sources.size(); ++i) {
      const HestSource& s = d.hest->sources[i];
      const char* name = HestTypeName(s.type);
      t.Row(2, "source " + std::to_string(i),
            "at " + tools::HexText(s.offset) + ": type " + std::to_string(s.type) + " (" +
                (name ? name : "?") + "), source id " + std::to_string(s.sourceId) + ", " +
                std::to_string(s.length) + " bytes");
    }
  } else if (d.mca) {
    t.Mca(*d.mca);
  }
  if (!d.damage.empty() || !d.notes.empty() || !t.notes().empty()) out << "\n";
  for (const auto& n : d.notes) out << "note: " << n << "\n";
  for (const auto& n : t.notes()) out << "note: " << n << "\n";
  for (const auto& x : d.damage) out << "damaged: " << DamageText(x) << "\n";
}

Json RenderJson(const Decoded& d, const Translator& translate) {
  Json j = Json::object();
  j["kind"] = KindName(d.kind);
  std::vector<std::string> notes = d.notes;
  if (d.region) j["region"] = RegionJson(*d.region, translate, notes);
  if (d.bert) {
    Json b = TableJson(d.bert->header);
    b["bootErrorRegionLength"] = d.bert->regionLength;
    b["bootErrorRegion"] = tools::Hex64(d.bert->regionAddress);
    b["region"] = d.bert->region ? RegionJson(*d.bert->region, translate, notes) : Json();
    j["bert"] = std::move(b);
  }
  if (d.hest) {
    Json h = TableJson(d.hest->header);
    h["errorSourceCount"] = d.hest->sourceCount;
    Json sources = Json::array();
    for (const auto& s : d.hest->sources) {
      Json js = Json::object();
      js["offset"] = s.offset;
      js["type"] = s.type;
      if (const char* n = HestTypeName(s.type)) js["typeName"] = n;
      js["sourceId"] = s.sourceId;
      js["length"] = s.length;
      sources.push_back(std::move(js));
    }
    h["sources"] = std::move(sources);
    j["hest"] = std::move(h);
  }
  if (d.mca) j["mca"] = McaJson(*d.mca, translate);
  Json damage = Json::array();
  for (const auto& x : d.damage) {
    Json jd = Json::object();
    jd["input"] = x.input;
    jd["offset"] = x.offset ? Json(*x.offset) : Json();
    jd["field"] = x.field;
    jd["expected"] = x.expected;
    jd["found"] = x.found;
    jd["message"] = DamageText(x);
    damage.push_back(std::move(jd));
  }
  j["damage"] = std::move(damage);
  j["notes"] = notes;
  return j;
}

}  // namespace records
