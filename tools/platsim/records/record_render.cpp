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
  return std::to_string(s) + " (" + (name ? name : "not a severity") + ")";
}

std::string HexBytes(const Bytes& b, size_t max) {
  std::string s;
  char buf[4];
  for (size_t i = 0; i < b.size() && i < max; ++i) {
    std::snprintf(buf, sizeof buf, "%02x", b[i]);
    s += (i ? " " : "") + std::string(buf);
  }
  if (b.size() > max) s += " ... (" + std::to_string(b.size() - max) + " more)";
  return s;
}

std::string FruText(const char (&text)[20]) {
  std::string s;
  for (char c : text) {
    if (c == 0) break;
    s += (c >= 0x20 && c < 0x7F) ? c : '.';
  }
  return s;
}

// CPER timestamp, BCD fields: "2024-05-01 12:34:56".
std::string Timestamp(uint64_t raw) {
  CperTimestamp t;
  std::memcpy(&t, &raw, sizeof t);
  char buf[48];
  std::snprintf(buf, sizeof buf, "%02X%02X-%02X-%02X %02X:%02X:%02X%s", t.Century, t.Year, t.Month,
                t.Day, t.Hours, t.Minutes, t.Seconds, (t.Flags & 1) ? " (precise)" : "");
  return buf;
}

// The rows of a memory error section: (label, value as text, value as JSON)
// for the fields marked valid, and the ones present but not marked valid.
struct MemoryField {
  const char* label;
  const char* key;
  unsigned bit;
  uint64_t value;
  std::string text;
};

std::vector<MemoryField> MemoryFields(const CperMemoryErrorSection& m) {
  const bool bankSplit =
      (m.ValidationBits >> kMemBankGroup & 1) || (m.ValidationBits >> kMemBankAddress & 1);
  const uint32_t row =
      m.Row | ((m.ValidationBits >> kMemExtendedRow & 1) ? uint32_t{m.Extended & 3u} << 16 : 0);
  const uint8_t type = m.MemoryErrorType;
  const char* typeName = MemoryErrorTypeName(type);
  std::vector<MemoryField> f = {
      {"error status", "errorStatus", kMemErrorStatus, m.ErrorStatus,
       tools::Hex64(m.ErrorStatus) + ": " + ErrorStatusText(m.ErrorStatus)},
      {"physical address", "physicalAddress", kMemPhysicalAddress, m.PhysicalAddress,
       tools::Hex64(m.PhysicalAddress)},
      {"address mask", "physicalAddressMask", kMemPhysicalAddressMask, m.PhysicalAddressMask,
       tools::Hex64(m.PhysicalAddressMask)},
      {"node", "node", kMemNode, m.Node, std::to_string(m.Node)},
      {"card", "card", kMemCard, m.Card, std::to_string(m.Card)},
      {"module", "module", kMemModule, m.Module, std::to_string(m.Module)},
  };
  if (bankSplit) {
    f.push_back({"bank group", "bankGroup", kMemBankGroup, uint64_t{m.Bank} >> 8u,
                 std::to_string(m.Bank >> 8u)});
    f.push_back({"bank address", "bankAddress", kMemBankAddress, uint64_t{m.Bank} & 0xFFu,
                 std::to_string(m.Bank & 0xFFu)});
  } else {
    f.push_back({"bank", "bank", kMemBank, m.Bank, std::to_string(m.Bank)});
  }
  const std::vector<MemoryField> rest = {
      {"device", "device", kMemDevice, m.Device, std::to_string(m.Device)},
      {"row", "row", kMemRow, row, tools::HexText(row)},
      {"column", "column", kMemColumn, m.Column, tools::HexText(m.Column)},
      {"bit position", "bitPosition", kMemBitPosition, m.BitPosition,
       std::to_string(m.BitPosition)},
      {"requestor id", "requestorId", kMemRequestorId, m.RequestorId, tools::Hex64(m.RequestorId)},
      {"responder id", "responderId", kMemResponderId, m.ResponderId, tools::Hex64(m.ResponderId)},
      {"target id", "targetId", kMemTargetId, m.TargetId, tools::Hex64(m.TargetId)},
      {"memory error type", "memoryErrorType", kMemErrorType, type,
       std::to_string(type) + " (" + (typeName ? typeName : "reserved") + ")"},
      {"rank", "rank", kMemRank, m.RankNumber, std::to_string(m.RankNumber)},
      {"card handle", "cardHandle", kMemCardHandle, m.CardHandle, tools::HexText(m.CardHandle, 4)},
      {"module handle", "moduleHandle", kMemModuleHandle, m.ModuleHandle,
       tools::HexText(m.ModuleHandle, 4)},
      {"chip id", "chipId", kMemChipId, uint64_t{m.Extended} >> 5u,
       std::to_string(m.Extended >> 5u)},
  };
  f.insert(f.end(), rest.begin(), rest.end());
  return f;
}

bool Valid(const CperMemoryErrorSection& m, unsigned bit) {
  return (m.ValidationBits >> bit) & 1;
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

  void Translated(int indent, uint64_t address) {
    if (!translate_) return;
    Row(indent, "on this platform", "(as translate sys shows it)");
    const Translation t = translate_(address);
    std::istringstream lines(t.text);
    for (std::string line; std::getline(lines, line);)
      out_ << std::string(static_cast<size_t>(indent) + 2, ' ') << line << "\n";
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
      raw += b.raw->empty() ? "" : ": " + HexBytes(*b.raw, 32);
    else if (h.RawDataLength)
      raw += " (not inside the region)";
    Row(ind + 2, "raw data", raw);
    for (size_t i = 0; i < b.entries.size(); ++i) Entry(b.entries[i], i, ind + 2);
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
        e.headerBytes == kDataEntryTimestampedHeaderBytes)
      Row(ind + 2, "timestamp", Timestamp(h.Timestamp));
    if (e.memory) {
      Memory(*e.memory, ind + 2);
      if (e.sectionSurplus)
        Row(ind + 2, "after the section", std::to_string(e.sectionSurplus) + " bytes not decoded");
    } else if (std::memcmp(h.SectionType, kPlatformMemorySection.data(), 16) != 0) {
      Row(ind + 2, "section data", "not decoded");
    }
  }

  void Memory(const CperMemoryErrorSection& m, int ind) {
    Row(ind, "memory error",
        "validation bits " +
            WithNames(tools::Hex64(m.ValidationBits), MemoryValidNames(m.ValidationBits)));
    std::vector<std::string> ignored;
    for (const auto& f : MemoryFields(m)) {
      if (Valid(m, f.bit))
        Row(ind, f.label, f.text);
      else if (f.value != 0)
        ignored.push_back(std::string(f.label) + " " + f.text);
    }
    if (!ignored.empty()) Row(ind, "not marked valid", Join(ignored, "; "));
    if (Valid(m, kMemPhysicalAddress)) Translated(ind, m.PhysicalAddress);
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
        "\"" + Printable(h.raw.OemId, 6) + "\" \"" + Printable(h.raw.OemTableId, 8) +
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
        Translated(2, b.regs[0]);
      }
    }
  }

  static std::string Printable(const char* p, size_t n) {
    std::string s;
    for (size_t i = 0; i < n; ++i) s += (p[i] >= 0x20 && p[i] < 0x7F) ? p[i] : '.';
    return s;
  }

  std::ostream& out() { return out_; }

 private:
  std::ostream& out_;
  const Translator& translate_;
};

// ---- JSON ------------------------------------------------------------------

Json MemoryJson(const CperMemoryErrorSection& m, const Translator& translate) {
  Json j = Json::object();
  j["validationBits"] = tools::Hex64(m.ValidationBits);
  j["valid"] = MemoryValidNames(m.ValidationBits);
  Json ignored = Json::object();
  for (const auto& f : MemoryFields(m)) {
    Json v = f.value;
    if (f.bit == kMemPhysicalAddress || f.bit == kMemPhysicalAddressMask ||
        f.bit == kMemErrorStatus || f.bit == kMemRequestorId || f.bit == kMemResponderId ||
        f.bit == kMemTargetId)
      v = tools::Hex64(f.value);
    if (Valid(m, f.bit))
      j[f.key] = v;
    else if (f.value != 0)
      ignored[f.key] = v;
  }
  if (Valid(m, kMemErrorStatus)) j["errorStatusText"] = ErrorStatusText(m.ErrorStatus);
  if (Valid(m, kMemErrorType)) {
    const char* name = MemoryErrorTypeName(m.MemoryErrorType);
    j["memoryErrorTypeName"] = name ? name : "reserved";
  }
  if (!ignored.empty()) j["notMarkedValid"] = ignored;
  if (Valid(m, kMemPhysicalAddress) && translate)
    j["translation"] = translate(m.PhysicalAddress).json;
  return j;
}

Json RegionJson(const Region& r, const Translator& translate) {
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
    if (b.raw) jb["rawData"] = HexBytes(*b.raw, b.raw->size());
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
          e.headerBytes == kDataEntryTimestampedHeaderBytes)
        je["timestamp"] = Timestamp(eh.Timestamp);
      if (e.memory) je["memoryError"] = MemoryJson(*e.memory, translate);
      if (e.sectionSurplus) je["bytesAfterSection"] = e.sectionSurplus;
      entries.push_back(std::move(je));
    }
    jb["entries"] = std::move(entries);
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
  j["oemId"] = TextOut::Printable(h.raw.OemId, 6);
  j["oemTableId"] = TextOut::Printable(h.raw.OemTableId, 8);
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
  if (!d.damage.empty() || !d.notes.empty()) out << "\n";
  for (const auto& n : d.notes) out << "note: " << n << "\n";
  for (const auto& x : d.damage) out << "damaged: " << DamageText(x) << "\n";
}

Json RenderJson(const Decoded& d, const Translator& translate) {
  Json j = Json::object();
  j["kind"] = KindName(d.kind);
  if (d.region) j["region"] = RegionJson(*d.region, translate);
  if (d.bert) {
    Json b = TableJson(d.bert->header);
    b["bootErrorRegionLength"] = d.bert->regionLength;
    b["bootErrorRegion"] = tools::Hex64(d.bert->regionAddress);
    b["region"] = d.bert->region ? RegionJson(*d.bert->region, translate) : Json();
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
  j["notes"] = d.notes;
  return j;
}

}  // namespace records
