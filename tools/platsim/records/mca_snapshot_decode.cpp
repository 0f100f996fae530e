// The machine-check snapshot as `platsim mca --json` writes it: the capture's
// status, the processor, the bank count and one object per bank ("absent",
// "no valid error", or "logged" with its status and registers as 0x hex).
// "statusBits" is derived from "status" and named afresh here; "trace" is
// the MSR log of a --trace run. Any other key is reported, as is a key given
// twice.
#include "tools/common/byte_view.h"
#include "tools/platsim/records/record_decode.h"
#include "tools/common/hex_text.h"

#include <nlohmann/json.hpp>

#include <set>

namespace records {

namespace {

using Json = nlohmann::ordered_json;

void Damaged(Decoded& out, std::string field, std::string expected, std::string found,
             std::optional<uint64_t> offset = std::nullopt) {
  out.damage.push_back(
      {"snapshot", offset, std::move(field), std::move(expected), std::move(found)});
}

std::string Shown(const Json& j) {
  std::string s = j.dump();
  return s.size() > 40 ? s.substr(0, 37) + "..." : s;
}

std::optional<uint64_t> ParseHex(const Json& j) {
  if (!j.is_string()) return std::nullopt;
  const std::string& s = j.get_ref<const std::string&>();
  if (s.size() < 3 || s.size() > 18 || s[0] != '0' || (s[1] != 'x' && s[1] != 'X'))
    return std::nullopt;
  uint64_t v = 0;
  for (size_t i = 2; i < s.size(); ++i) {
    const char c = s[i];
    const int d = c >= '0' && c <= '9'   ? c - '0'
                  : c >= 'a' && c <= 'f' ? c - 'a' + 10
                  : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                         : -1;
    if (d < 0) return std::nullopt;
    v = v << 4 | static_cast<uint64_t>(d);
  }
  return v;
}

std::optional<uint64_t> Unsigned(const Json& obj, const char* key, const std::string& path,
                                 Decoded& out) {
  if (!obj.contains(key)) {
    Damaged(out, path + key, "an unsigned number", "nothing (the key is missing)");
    return std::nullopt;
  }
  const Json& j = obj[key];
  if (!j.is_number_unsigned()) {
    Damaged(out, path + key, "an unsigned number", Shown(j));
    return std::nullopt;
  }
  return j.get<uint64_t>();
}

void CheckKeys(const Json& obj, const std::string& path, std::initializer_list<const char*> known,
               Decoded& out) {
  for (auto it = obj.begin(); it != obj.end(); ++it) {
    bool ok = false;
    for (const char* k : known) ok = ok || it.key() == k;
    if (!ok) out.notes.push_back("unknown key " + path + it.key() + " not decoded");
  }
}

std::optional<McaBank> DecodeBank(const Json& j, size_t index, Decoded& out) {
  const std::string path = "banks[" + std::to_string(index) + "].";
  if (!j.is_object()) {
    Damaged(out, path.substr(0, path.size() - 1), "an object", Shown(j));
    return std::nullopt;
  }
  McaBank b;
  const auto bank = Unsigned(j, "bank", path, out);
  if (!bank) return std::nullopt;
  b.bank = *bank;
  if (b.bank != index)
    Damaged(out, path + "bank", std::to_string(index) + " (banks in order from 0)",
            std::to_string(b.bank));
  const Json state = j.contains("state") ? j["state"] : Json();
  if (state == "absent") {
    b.state = BankState::kAbsent;
  } else if (state == "no valid error") {
    b.state = BankState::kNoValidError;
  } else if (state == "logged") {
    b.state = BankState::kLogged;
  } else {
    Damaged(out, path + "state", "\"absent\", \"no valid error\" or \"logged\"", Shown(state));
    return std::nullopt;
  }
  if (b.state != BankState::kLogged) {
    CheckKeys(j, path, {"bank", "state"}, out);
    return b;
  }
  CheckKeys(j, path,
            {"bank", "state", "status", "statusBits", "msr2", "msr3", "msr4", "msr5", "msr6",
             "msr8", "msr9", "msrA"},
            out);
  bool ok = true;
  auto reg = [&](const char* key, uint64_t& into) {
    const Json v = j.contains(key) ? j[key] : Json();
    const auto x = ParseHex(v);
    if (!x) {
      Damaged(out, path + key, "a 64-bit value as 0x hex",
              v.is_null() ? "nothing (the key is missing)" : Shown(v));
      ok = false;
      return;
    }
    into = *x;
  };
  reg("status", b.status);
  for (size_t i = 0; i < b.regs.size(); ++i) reg(kMcaRegisterNames[i], b.regs[i]);
  if (!ok) return std::nullopt;
  if ((b.status >> 63) == 0)
    Damaged(out, path + "status", "bit 63 (VAL) set: the bank reader logs a bank only when it is",
            tools::HexText(b.status));
  return b;
}

}  // namespace

McaSnapshot DecodeMcaSnapshot(std::span<const uint8_t> text, Decoded& out) {
  McaSnapshot s;
  // Keys seen in each open object, to refuse a key given twice.
  std::vector<std::set<std::string>> keys;
  std::string duplicate;
  const Json::parser_callback_t noteDuplicates = [&](int, Json::parse_event_t event, Json& parsed) {
    using E = Json::parse_event_t;
    if (event == E::object_start) keys.emplace_back();
    if (event == E::object_end && !keys.empty()) keys.pop_back();
    if (event == E::key && !keys.empty() && !keys.back().insert(parsed.get<std::string>()).second &&
        duplicate.empty())
      duplicate = parsed.get<std::string>();
    return true;
  };
  Json j;
  try {
    j = Json::parse(text.begin(), text.end(), noteDuplicates);
  } catch (const Json::parse_error& e) {
    std::string what = e.what();
    if (const auto p = what.find("] "); p != std::string::npos) what = what.substr(p + 2);
    Damaged(out, "JSON", "a JSON object", what, e.byte > 0 ? e.byte - 1 : 0);
    return s;
  } catch (const Json::out_of_range& e) {
    // A number beyond the range of a double (1e501): the parser names the
    // token, not where it stands.
    std::string what = e.what();
    const auto open = what.find('\''), close = what.rfind('\'');
    const std::string token = open < close ? what.substr(open + 1, close - open - 1) : what;
    Damaged(out, "JSON", "a JSON object", "number overflow: " + token + " is out of range");
    return s;
  }
  if (!duplicate.empty()) Damaged(out, duplicate, "a key given once", "the key given twice");
  if (!j.is_object()) {
    Damaged(out, "snapshot", "a JSON object", Shown(j));
    return s;
  }
  CheckKeys(j, "", {"status", "processorNumber", "processorInfo", "bankCount", "banks", "trace"},
            out);
  if (!j.contains("status") || !j["status"].is_string()) {
    Damaged(out, "status", "the capture's status as a string",
            j.contains("status") ? Shown(j["status"]) : "nothing (the key is missing)");
    return s;
  }
  s.status = j["status"].get<std::string>();
  if (const auto n = Unsigned(j, "processorNumber", "", out)) s.processorNumber = *n;
  if (s.status != "EFI_SUCCESS") {
    if (j.contains("banks"))
      Damaged(out, "banks", "none after a failed capture", Shown(j["banks"]));
    return s;
  }
  if (!j.contains("processorInfo") || !j["processorInfo"].is_string())
    Damaged(
        out, "processorInfo", "five bytes as hex text",
        j.contains("processorInfo") ? Shown(j["processorInfo"]) : "nothing (the key is missing)");
  else
    s.processorInfo = j["processorInfo"].get<std::string>();
  const Json count = j.contains("bankCount") ? j["bankCount"] : Json();
  if (!count.is_null()) {
    if (!count.is_number_unsigned() || count.get<uint64_t>() > 255)
      Damaged(out, "bankCount", "0 to 255 (bits 7:0 of the capability register)", Shown(count));
    else
      s.bankCount = count.get<uint64_t>();
  }
  if (!j.contains("banks") || !j["banks"].is_array()) {
    Damaged(out, "banks", "an array",
            j.contains("banks") ? Shown(j["banks"]) : "nothing (the key is missing)");
    return s;
  }
  const Json& banks = j["banks"];
  if (banks.size() != s.bankCount.value_or(0))
    Damaged(out, "banks", std::to_string(s.bankCount.value_or(0)) + " banks (bankCount)",
            std::to_string(banks.size()) + " banks");
  for (size_t i = 0; i < banks.size(); ++i)
    if (auto b = DecodeBank(banks[i], i, out)) s.banks.push_back(*b);
  return s;
}

}  // namespace records
