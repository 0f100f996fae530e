// Kernel log text: the machine-check lines the kernel prints for each logged
// bank, in the fixed format it keeps for external tools,
//   mce: [Hardware Error]: CPU 3: Machine Check: 0 Bank 5: 9400000000000000
//   mce: [Hardware Error]: TSC 0 ADDR 8002240 MISC d012000100000000 IPID 1002e00000000
//   mce: [Hardware Error]: PROCESSOR 2:a20f10 TIME 1764583200 SOCKET 0 APIC 6 microcode a201016
// (no 0x anywhere: cpu, bank, the processor vendor, TIME and SOCKET decimal,
// the rest hex), and the firmware-first memory error lines of the APEI
// handler ("{1}[Hardware Error]:   physical_address: 0x000000b50c68ce80",
// the location line, error_type, the severity lines). Each line may carry
// dmesg's or journalctl's prefix.
#include "tools/common/hex_text.h"
#include "tools/platsim/logs/log_text.h"

#include <array>
#include <cctype>
#include <charconv>

namespace platsim::logs {

namespace {

std::string_view Trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r'))
    s.remove_suffix(1);
  return s;
}

bool StartsWith(std::string_view s, std::string_view p) {
  return s.substr(0, p.size()) == p;
}

// Splits at runs of blanks.
std::vector<std::string_view> Words(std::string_view s) {
  std::vector<std::string_view> out;
  size_t i = 0;
  while (i < s.size()) {
    while (i < s.size() && (s[i] == ' ' || s[i] == '\t')) ++i;
    size_t j = i;
    while (j < s.size() && s[j] != ' ' && s[j] != '\t') ++j;
    if (j > i) out.push_back(s.substr(i, j - i));
    i = j;
  }
  return out;
}

// The whole of `s` as a number in `base`; no sign, no prefix.
std::optional<uint64_t> Num(std::string_view s, int base) {
  uint64_t v = 0;
  if (s.empty()) return std::nullopt;
  const auto r = std::from_chars(s.data(), s.data() + s.size(), v, base);
  if (r.ec != std::errc() || r.ptr != s.data() + s.size()) return std::nullopt;
  return v;
}
std::optional<uint32_t> Num32(std::string_view s, int base) {
  const auto v = Num(s, base);
  if (!v || *v > UINT32_MAX) return std::nullopt;
  return static_cast<uint32_t>(*v);
}
// "0x..." hex or decimal, as the firmware-first lines write numbers.
std::optional<uint64_t> CNum(std::string_view s) {
  if (s.size() > 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) return Num(s.substr(2), 16);
  return Num(s, 10);
}

// The wall time in the line's prefix, when it has one: journalctl's ISO
// forms and dmesg -T's bracket. dmesg's seconds since boot and syslog's
// "Dec  1 10:00:00" (no year) give none.
std::optional<int64_t> PrefixTime(std::string_view prefix) {
  prefix = Trim(prefix);
  if (prefix.size() >= 19 && std::isdigit(static_cast<unsigned char>(prefix[0])) &&
      prefix[4] == '-' && prefix[10] == 'T') {
    const size_t end = prefix.find(' ');
    return ParseTimeText(prefix.substr(0, end));
  }
  if (StartsWith(prefix, "[")) {
    const size_t end = prefix.find(']');
    if (end != std::string_view::npos) return ParseTimeText(Trim(prefix.substr(1, end - 1)));
  }
  return std::nullopt;
}

// A firmware-first report (one memory section of it) as its lines arrive.
struct Report {
  MemoryError error;
  uint64_t header = 0, addressLine = 0;
  bool sawSection = false, memory = false, sawSeverity = false, sawField = false;
};

class Reader {
 public:
  Reader(const std::string& file, const std::string& name)
      : file_(file),
        fileRef_(std::make_shared<const std::string>(file)),
        name_(name),
        head_(std::make_shared<const std::string>(name + " line ")) {}

  void Line(std::string_view text, uint64_t number) {
    text = Trim(text);
    static constexpr std::string_view kMce = "mce: [Hardware Error]:";
    static constexpr std::string_view kHw = "[Hardware Error]:";
    size_t at = text.find(kMce);
    if (at != std::string_view::npos) {
      MceLine(text, Trim(text.substr(at + kMce.size())), number);
      return;
    }
    at = text.find(kHw);
    if (at != std::string_view::npos) {
      std::string_view prefix = text.substr(0, at);
      // "{1}" numbers the handler's reports; it is not part of the time.
      if (!prefix.empty() && prefix.back() == '}') {
        const size_t open = prefix.rfind('{');
        if (open != std::string_view::npos) prefix = prefix.substr(0, open);
      }
      FirmwareLine(text, PrefixTime(prefix), Trim(text.substr(at + kHw.size())), number);
      return;
    }
    ++ignored_;
  }

  LogRead Finish() {
    if (mce_) EmitMce("its TSC and PROCESSOR lines are missing");
    if (ff_) EmitFirmware();
    if (ignored_ != 0)
      out_.notes.push_back(name_ + ": " + std::to_string(ignored_) +
                           (ignored_ == 1 ? " line" : " lines") +
                           " without machine-check or hardware error text, not read");
    return std::move(out_);
  }

 private:
  void Bad(std::string_view text, uint64_t number, std::string reason) {
    out_.unparsed.push_back(
        Unparsed{file_, number, std::string(text), std::move(reason), Where(number)});
  }

  std::string Where(uint64_t number) const { return name_ + " line " + std::to_string(number); }

  // ---- machine checks --------------------------------------------------------
  void MceLine(std::string_view text, std::string_view body, uint64_t number) {
    const auto w = Words(body);
    if (!w.empty() && w[0] == "CPU" && body.find("Machine Check") != std::string_view::npos) {
      if (mce_) EmitMce("its TSC and PROCESSOR lines are missing");
      CpuLine(text, w, number);
    } else if (!w.empty() && w[0] == "TSC") {
      if (!mce_) return Bad(text, number, "a TSC line without the CPU line of its bank before it");
      FieldsLine(text, w, number);
    } else if (!w.empty() && w[0] == "PROCESSOR") {
      if (!mce_) return Bad(text, number, "a PROCESSOR line without the CPU line of its bank");
      ProcessorLine(text, w, number);
    } else if (!w.empty() && (w[0] == "RIP" || StartsWith(w[0], "RIP!") || w[0] == "PPIN")) {
      if (!mce_) return Bad(text, number, "a " + std::string(w[0]) + " line without its bank");
    } else {
      ++ignored_;  // "Machine check events logged", "Run the above through ...": no fields
    }
  }

  // "CPU C: Machine Check[ Exception]: E Bank B: STATUS"
  void CpuLine(std::string_view text, const std::vector<std::string_view>& w, uint64_t number) {
    const bool exception = w.size() >= 5 && w[4] == "Exception:";
    const size_t e = exception ? 5 : 4;
    std::optional<uint32_t> cpu, bank;
    std::optional<uint64_t> status;
    if (w.size() == e + 4 && w[1].size() > 1 && w[1].back() == ':' && w[2] == "Machine" &&
        (exception ? w[3] == "Check" : w[3] == "Check:") && Num(w[e], 16) && w[e + 1] == "Bank" &&
        w[e + 2].size() > 1 && w[e + 2].back() == ':') {
      cpu = Num32(w[1].substr(0, w[1].size() - 1), 10);
      bank = Num32(w[e + 2].substr(0, w[e + 2].size() - 1), 10);
      status = Num(w[e + 3], 16);
    }
    if (!cpu || !bank || !status)
      return Bad(text, number,
                 "expected 'CPU C: Machine Check: E Bank B: STATUS' (C, B decimal; E, STATUS hex)");
    MemoryError m;
    m.file = fileRef_;
    m.line = number;
    m.where = head_;
    m.numbered = true;
    McaFields f;
    f.cpu = *cpu;
    f.bank = *bank;
    f.status = *status;
    m.mca = f;
    mce_ = std::move(m);
  }

  // "TSC T [ADDR A] [MISC M] [PPIN P] [SYND S] [IPID I] ..." (NAME HEX pairs)
  void FieldsLine(std::string_view text, const std::vector<std::string_view>& w, uint64_t number) {
    if (w.size() % 2 != 0) return Bad(text, number, "expected NAME HEX pairs after TSC");
    McaFields& f = *mce_->mca;
    for (size_t i = 0; i < w.size(); i += 2) {
      const auto v = Num(w[i + 1], 16);
      if (!v)
        return Bad(
            text, number,
            "the value of " + std::string(w[i]) + " is not hex: '" + std::string(w[i + 1]) + "'");
      if (w[i] == "ADDR") f.addr = *v;
      if (w[i] == "MISC") f.misc = *v;
      if (w[i] == "SYND") f.synd = *v;
      if (w[i] == "IPID") f.ipid = *v;
    }
  }

  // "PROCESSOR V:CPUID TIME T SOCKET S APIC A [microcode U]"
  void ProcessorLine(std::string_view text, const std::vector<std::string_view>& w,
                     uint64_t number) {
    std::optional<uint64_t> time;
    std::optional<uint32_t> socket, apic;
    bool ok = w.size() >= 2 && w[1].find(':') != std::string_view::npos &&
              Num(w[1].substr(0, w[1].find(':')), 10) && Num(w[1].substr(w[1].find(':') + 1), 16);
    for (size_t i = 2; ok && i + 1 < w.size(); i += 2) {
      if (w[i] == "TIME")
        ok = (time = Num(w[i + 1], 10)).has_value();
      else if (w[i] == "SOCKET")
        ok = (socket = Num32(w[i + 1], 10)).has_value();
      else if (w[i] == "APIC")
        ok = (apic = Num32(w[i + 1], 16)).has_value();
      else
        ok = Num(w[i + 1], 16).has_value();  // microcode, and what later kernels add
    }
    if (!ok || w.size() % 2 != 0 || !time || !socket)
      return Bad(text, number,
                 "expected 'PROCESSOR V:CPUID TIME T SOCKET S APIC A microcode U' (V, T, S "
                 "decimal; the rest hex)");
    mce_->mca->socket = socket;
    mce_->mca->apic = apic;
    if (*time <= static_cast<uint64_t>(INT64_MAX)) mce_->time = static_cast<int64_t>(*time);
    EmitMce("");
  }

  void EmitMce(const std::string& missing) {
    MemoryError m = std::move(*mce_);
    mce_.reset();
    const McaFields& f = *m.mca;
    if ((f.status & kMciStatusVal) == 0) {
      Bad(m.Source(), m.line, "bank status " + tools::Hex64(f.status) + " has VAL (bit 63) clear");
      return;
    }
    m.severity = (f.status & kMciStatusUc) ? Severity::kUncorrected : Severity::kCorrected;
    if (f.addr && (f.status & kMciStatusAddrv)) m.address = f.addr;
    if (!missing.empty()) m.message = std::make_shared<const std::string>("incomplete: " + missing);
    out_.errors.push_back(std::move(m));
  }

  // ---- firmware first --------------------------------------------------------
  void FirmwareLine(std::string_view text, std::optional<int64_t> time, std::string_view body,
                    uint64_t number) {
    if (StartsWith(body, "Hardware error from APEI Generic Hardware Error Source")) {
      if (ff_) EmitFirmware();
      Open(number, time);
      return;
    }
    if (StartsWith(body, "event severity:")) {
      if (ff_ && (ff_->sawField || ff_->sawSection || ff_->sawSeverity)) EmitFirmware();
      if (!ff_) Open(number, time);
      return SetSeverity(text, Trim(body.substr(15)), number);
    }
    const bool section = StartsWith(body, "section_type:");
    const size_t type = body.find(", type:");
    if (section || (StartsWith(body, "Error ") && type != std::string_view::npos)) {
      // A further section of the same report keeps the report's severity and time.
      if (ff_ && ff_->sawSection) {
        const auto severity = ff_->error.severity;
        const auto t = ff_->error.time;
        EmitFirmware();
        Open(number, t);
        ff_->error.severity = severity;
      }
      if (!ff_) Open(number, time);
      if (!section) return SetSeverity(text, Trim(body.substr(type + 7)), number);
      ff_->sawSection = true;
      ff_->memory = Trim(body.substr(13)) == "memory error";
      return;
    }
    if (StartsWith(body, "physical_address:")) {
      const auto v = CNum(Trim(body.substr(17)));
      if (!v) return Bad(text, number, "expected 'physical_address: 0x<hex>'");
      Touch(number, time).address = *v;
      ff_->addressLine = number;
      return;
    }
    if (StartsWith(body, "node:")) return Location(text, body, number, time);
    if (StartsWith(body, "error_type:")) {
      const std::string_view v = Trim(body.substr(11));
      const size_t comma = v.find(',');
      if (!Num(Trim(v.substr(0, comma)), 10))
        return Bad(text, number, "expected 'error_type: N, name'");
      MemoryError& m = Touch(number, time);
      m.message = std::make_shared<const std::string>(
          comma == std::string_view::npos ? v : Trim(v.substr(comma + 1)));
      return;
    }
    ++ignored_;  // error_status, fru_text, "It has been corrected ...": nothing to read
  }

  void SetSeverity(std::string_view text, std::string_view v, uint64_t number) {
    if (v == "corrected" || v == "info" || v == "informational") {
      ff_->error.severity = Severity::kCorrected;
    } else if (v == "recoverable" || v == "fatal") {
      ff_->error.severity = Severity::kUncorrected;
    } else {
      return Bad(text, number,
                 "severity '" + std::string(v) +
                     "' is none of corrected, recoverable, fatal, info, informational");
    }
    ff_->sawSeverity = true;
  }

  // "node: 1 card: 4 module: 0 rank: 0 bank: 1 device: 14 row: 58165 column: 816"
  // or "node:6 card:1 ..." (later kernels): name:value pairs.
  void Location(std::string_view text, std::string_view body, uint64_t number,
                std::optional<int64_t> time) {
    std::string joined;  // "name: value" and "name:value" both as "name:value"
    for (const auto w : Words(body)) {
      if (!joined.empty() && joined.back() != ':') joined += ' ';
      joined += w;
    }
    CperLocation loc;
    for (const auto pair : Words(joined)) {
      const size_t colon = pair.find(':');
      const auto value =
          colon == std::string_view::npos ? std::nullopt : CNum(pair.substr(colon + 1));
      if (!value || *value > UINT32_MAX)
        return Bad(text, number,
                   "expected name: value pairs (node card module rank bank device row column "
                   "...), found '" +
                       std::string(pair) + "'");
      const std::string_view name = pair.substr(0, colon);
      const uint32_t v = static_cast<uint32_t>(*value);
      static constexpr std::array<std::string_view, 7> kOther = {
          "bank_group", "bank_address", "requestor_id", "responder_id",
          "target_id",  "chip_id",      "card_handle"};
      if (name == "node")
        loc.node = v;
      else if (name == "card")
        loc.card = v;
      else if (name == "module")
        loc.module = v;
      else if (name == "rank")
        loc.rank = v;
      else if (name == "bank")
        loc.bank = v;
      else if (name == "device")
        loc.device = v;
      else if (name == "row")
        loc.row = v;
      else if (name == "column")
        loc.column = v;
      else if (name == "bit_position")
        loc.bitPosition = v;
      else {
        bool known = false;
        for (const auto k : kOther) known = known || name == k;
        if (!known) return Bad(text, number, "unknown location field '" + std::string(name) + "'");
      }
    }
    Touch(number, time).location = std::make_shared<const CperLocation>(loc);
  }

  void Open(uint64_t number, std::optional<int64_t> time) {
    ff_.emplace();
    ff_->header = number;
    ff_->error.file = fileRef_;
    ff_->error.time = time;
  }
  MemoryError& Touch(uint64_t number, std::optional<int64_t> time) {
    if (!ff_) Open(number, time);
    ff_->sawField = true;
    return ff_->error;
  }

  void EmitFirmware() {
    Report r = std::move(*ff_);
    ff_.reset();
    if (!r.sawField || (r.sawSection && !r.memory)) return;  // a processor or PCIe section
    const uint64_t line = r.addressLine != 0 ? r.addressLine : r.header;
    r.error.line = line;
    r.error.where = head_;
    r.error.numbered = true;
    out_.errors.push_back(std::move(r.error));
  }

  std::string file_;
  std::shared_ptr<const std::string> fileRef_;  // the errors' file, shared
  std::string name_;
  std::shared_ptr<const std::string> head_;  // "NAME line ", the head of every error's source
  LogRead out_;
  std::optional<MemoryError> mce_;
  std::optional<Report> ff_;
  uint64_t ignored_ = 0;
};

}  // namespace

LogRead ReadKernelLog(std::string_view text, const std::string& file, const std::string& name) {
  Reader r(file, name);
  uint64_t number = 0;
  size_t at = 0;
  while (at < text.size()) {
    size_t end = text.find('\n', at);
    if (end == std::string_view::npos) end = text.size();
    r.Line(text.substr(at, end - at), ++number);
    at = end + 1;
  }
  return r.Finish();
}

}  // namespace platsim::logs
