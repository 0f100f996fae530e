#include "apps/tiv_tool/core/mca_lines.h"

#include "apps/tiv_tool/core/number_text.h"
#include "tools/common/efi_status_names.h"
#include "tools/common/mca_error_code.h"
#include "apps/tiv_tool/core/translate_lines.h"

namespace tivtool {

namespace {

constexpr uint64_t kUnwritten = 0xFFFFFFFFFFFFFFFFULL;

const char* const kRegisterNames[8] = {"msr2", "msr3", "msr4", "msr5",
                                       "msr6", "msr8", "msr9", "msrA"};

uint64_t Register(const McaBankEntry& e, unsigned i) {
  const uint64_t regs[8] = {e.msr2, e.msr3, e.msr4, e.msr5, e.msr6, e.msr8, e.msr9, e.msrA};
  return regs[i];
}

void AddStatus(Text& out, EFI_STATUS status) {
  const char* name = tools::EfiStatusName(status);
  if (name != nullptr)
    out.Add(name);
  else
    out.Hex(status);
}

// Status bits 63..57 by their short names, separated by spaces.
void AddStatusNames(Text& out, uint64_t status, const char* separator, bool quoted,
                    bool longNames) {
  static const char* const kShort[] = {"VAL", "OVER", "UC", "EN", "MISCV", "ADDRV", "PCC"};
  static const char* const kLong[] = {"valid",
                                      "overflow",
                                      "uncorrected",
                                      "enabled",
                                      "misc valid",
                                      "address valid",
                                      "processor context corrupt"};
  bool first = true;
  for (unsigned i = 0; i < 7; ++i) {
    if (((status >> (63 - i)) & 1) == 0) continue;
    if (!first) out.Add(separator);
    first = false;
    if (quoted) out.Add('"');
    out.Add(longNames ? kLong[i] : kShort[i]);
    if (quoted) out.Add('"');
  }
}

// The lines of another ToolIo, indented.
class Indented final : public ToolIo {
 public:
  Indented(ToolIo& to, unsigned by) : to_(to), by_(by) {}
  void Print(const char* line) override {
    Line l;
    for (unsigned i = 0; i < by_; ++i) l.Add(' ');
    to_.Print(l.Add(line).Str());
  }

 private:
  ToolIo& to_;
  unsigned by_;
};

// The address as decode translates one it finds in a record: translate sys's
// lines, and the refusal as "no answer".
void PrintTranslated(ToolIo& io, TranslationProtocol& p, uint64_t address) {
  Line l;
  io.Print(l.Label(2, "translated").Add("on this machine, through slot 2").Str());
  Indented under(io, 4);
  Line error;
  PrintSys(under, AskSystem(p, address), error);
  if (error.Size() == 0) return;
  l.Clear();
  under.Print(l.Label(0, "no answer").Add(error.Str()).Str());
}

}  // namespace

BankState StateOf(const McaBankSnapshot& s, uint64_t bank) {
  const McaBankEntry& e = s.banks[bank];
  if (e.bankIndex == bank && e.msr1 == 0) return BankState::kAbsent;
  if (e.bankIndex == kUnwritten) return BankState::kNoValidError;
  return BankState::kLogged;
}

uint64_t BanksShown(const McaBankSnapshot& s) {
  if (s.bankCount == kUnwritten) return 0;
  return s.bankCount < kMaxMcaBanks ? s.bankCount : kMaxMcaBanks;
}

void AddMcaErrorCodeText(Text& out, uint16_t code) {
  tools::AppendMcaErrorCodeText(
      code, {&out, [](void* c, const char* text) { static_cast<Text*>(c)->Add(text); }});
}

void PrintMcaSnapshot(ToolIo& io, EFI_STATUS status, const McaBankSnapshot& s,
                      TranslationProtocol* translation) {
  Line l;
  l.Label(0, "machine check").Add("processor ").Dec(s.processorNumber).Add(", capture ");
  AddStatus(l, status);
  io.Print(l.Str());
  if (status != EFI_SUCCESS) return;
  l.Clear();
  io.Print(l.Label(0, "processor info").Bytes(s.processorInfo, 5).Str());
  l.Clear();
  l.Label(0, "bank count");
  if (s.bankCount == kUnwritten)
    l.Add("not written");
  else
    l.Dec(s.bankCount);
  io.Print(l.Str());
  for (uint64_t b = 0; b < BanksShown(s); ++b) {
    Line label;
    label.Add("bank ").Dec(b);
    l.Clear();
    l.Label(0, label.Str());
    const BankState state = StateOf(s, b);
    if (state == BankState::kAbsent) {
      io.Print(l.Add("absent (no hardware behind the bank)").Str());
      continue;
    }
    if (state == BankState::kNoValidError) {
      io.Print(l.Add("no valid error logged").Str());
      continue;
    }
    const McaBankEntry& e = s.banks[b];
    l.Add("status ").Hex64(e.msr1).Add(": ");
    AddStatusNames(l, e.msr1, " ", false, false);
    io.Print(l.Str());
    const auto code = static_cast<uint16_t>(e.msr1);
    l.Clear();
    l.Label(2, "error code").Hex(code, 4).Add(": ");
    AddMcaErrorCodeText(l, code);
    io.Print(l.Str());
    l.Clear();
    l.Label(2, "model-specific").Hex((e.msr1 >> 16) & 0xFFFF, 4).Add(" (status bits 31:16)");
    io.Print(l.Str());
    for (unsigned i = 0; i < 8; i += 3) {
      l.Clear();
      l.Label(2, i == 0 ? "registers" : "");
      for (unsigned k = i; k < i + 3 && k < 8; ++k) {
        if (k > i) l.Add("  ");
        l.Add(kRegisterNames[k]).Add(' ').Hex64(Register(e, k));
      }
      io.Print(l.Str());
    }
    if (((e.msr1 >> 58) & 1) != 0) {
      l.Clear();
      io.Print(l.Label(2, "address (msr2)").Hex64(e.msr2).Str());
      if (translation != nullptr) PrintTranslated(io, *translation, e.msr2);
    }
  }
}

size_t McaJsonBytes(const McaBankSnapshot& s) {
  // The head, and a logged bank at most: its number, state, status, the
  // seven status bit names and eight registers.
  return 256 + 560 * BanksShown(s);
}

bool WriteMcaJson(Text& out, EFI_STATUS status, const McaBankSnapshot& s) {
  out.Add("{\n  \"status\": \"");
  AddStatus(out, status);
  out.Add("\",\n  \"processorNumber\": ").Dec(s.processorNumber);
  if (status == EFI_SUCCESS) {
    out.Add(",\n  \"processorInfo\": \"").Bytes(s.processorInfo, 5).Add("\",\n  \"bankCount\": ");
    if (s.bankCount == kUnwritten)
      out.Add("null");
    else
      out.Dec(s.bankCount);
    out.Add(",\n  \"banks\": [");
    for (uint64_t b = 0; b < BanksShown(s); ++b) {
      out.Add(b == 0 ? "\n" : ",\n").Add("    {\n      \"bank\": ").Dec(b);
      out.Add(",\n      \"state\": \"");
      const BankState state = StateOf(s, b);
      if (state != BankState::kLogged) {
        out.Add(state == BankState::kAbsent ? "absent" : "no valid error").Add("\"\n    }");
        continue;
      }
      const McaBankEntry& e = s.banks[b];
      out.Add("logged\",\n      \"status\": \"").Hex64(e.msr1).Add("\",\n      \"statusBits\": [");
      AddStatusNames(out, e.msr1, ", ", true, true);
      out.Add(']');
      for (unsigned k = 0; k < 8; ++k)
        out.Add(",\n      \"").Add(kRegisterNames[k]).Add("\": \"").Hex64(Register(e, k)).Add('"');
      out.Add("\n    }");
    }
    out.Add(BanksShown(s) == 0 ? "]" : "\n  ]");
  }
  out.Add("\n}\n");
  return !out.Full();
}

}  // namespace tivtool
