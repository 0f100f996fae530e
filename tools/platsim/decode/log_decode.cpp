#include "tools/platsim/decode/log_decode.h"

#include "tools/common/hex_text.h"
#include "tools/common/input_file.h"
#include "tools/platsim/cli/platform_load.h"
#include "tools/platsim/logs/log_text.h"
#include "tools/platsim/translate/sys_translator.h"
#include "tools/platsim/translate/translate_session.h"

#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <memory>
#include <sstream>

namespace platsim {

namespace {

using sim::profile::Json;
using namespace logs;

std::vector<std::pair<const char*, uint32_t>> LocationFields(const CperLocation& l) {
  std::vector<std::pair<const char*, uint32_t>> out;
  const std::pair<const char*, const std::optional<uint32_t>*> all[] = {
      {"node", &l.node}, {"card", &l.card},     {"module", &l.module},
      {"rank", &l.rank}, {"bank", &l.bank},     {"device", &l.device},
      {"row", &l.row},   {"column", &l.column}, {"bitPosition", &l.bitPosition}};
  for (const auto& f : all)
    if (*f.second) out.emplace_back(f.first, **f.second);
  return out;
}

// The address of one error translated on the profile's platform: a system
// address through slot 2 (as `translate sys`), a normalized one first through
// slot 1 to its system address (as `translate norm`).
class Translations {
 public:
  explicit Translations(const GlobalOptions& opts) : opts_(opts) {
    try {
      sys_ = std::make_unique<SysTranslator>(opts);
    } catch (const UserError& e) {
      unavailable_ = e.what();
    }
  }

  struct Result {
    std::string text;
    Json json = Json::object();
    bool ok = false;
  };

  Result Of(const MemoryError& e) {
    Result r;
    uint64_t system = *e.address;
    if (e.kind == AddressKind::kNormalized) {
      const ChannelRef c = *e.channel;
      std::string why;
      try {
        if (!session_) session_ = std::make_unique<TranslateSession>(opts_);
        session_->CheckChannel(c.socket, c.die, c.channel);
        const NormAnswer a = session_->Normalized(*e.address, c.socket, c.die, c.channel);
        if (a.verdict == Verdict::Ok)
          system = a.system;
        else
          why = a.error;
      } catch (const UserError& x) {
        why = x.what();
      }
      if (!why.empty()) return Fail(r, "slot 1: " + why);
      r.text += "system address      " + tools::Hex64(system) + " (slot 1)\n";
      r.json["systemAddress"] = tools::Hex64(system);
    }
    if (!sys_) return Fail(r, unavailable_);
    try {
      SysTranslation t = sys_->Translate(system);
      r.text += t.text;
      r.json["translation"] = std::move(t.json);
      if (!t.refusal.empty()) r.json["translation"]["refusal"] = t.refusal;
      r.ok = t.refusal.empty();
      return r;
    } catch (const UserError& x) {
      return Fail(r, x.what());
    }
  }

 private:
  static Result Fail(Result& r, const std::string& why) {
    r.text += "not translated: " + why + "\n";
    r.json["error"] = why;
    r.ok = false;
    return std::move(r);
  }
  const GlobalOptions& opts_;
  std::unique_ptr<SysTranslator> sys_;
  std::unique_ptr<TranslateSession> session_;
  std::string unavailable_;
};

void Indent(std::ostream& out, const std::string& text, const char* pad) {
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) out << pad << line << "\n";
}

}  // namespace

bool IsLogInput(const std::string& file) {
  // Only a regular file is looked into before it is decoded (a pipe would
  // lose what is read here).
  std::error_code ec;
  if (file == "-" || !std::filesystem::is_regular_file(file, ec)) return false;
  std::ifstream in(file, std::ios::binary);
  if (!in) return false;
  std::vector<uint8_t> head(4096);
  in.read(reinterpret_cast<char*>(head.data()), static_cast<std::streamsize>(head.size()));
  head.resize(static_cast<size_t>(in.gcount()));
  if (head.size() >= 16 && std::memcmp(head.data(), "SQLite format 3", 16) == 0) return true;
  if (head.empty() || DetectSource(head) != SourceKind::kKernelLog) return false;
  // The whole file, not only its head, must be text.
  const std::vector<uint8_t> all = tools::ReadInputBytes(file, "log", "platsim", size_t{256} << 20);
  return DetectSource(all) == SourceKind::kKernelLog;
}

void RunLogDecode(const GlobalOptions& opts, const std::vector<std::string>& files,
                  std::optional<std::vector<uint8_t>> preread) {
  ReadOptions options;
  if (preread) options.preread.emplace(files.at(0), std::move(*preread));
  const LogRead read = ReadLogs(files, opts, options);
  const TranslationPlatform platform = PlatformBehindTranslation(opts);
  Translations translations(opts);
  bool untranslated = false, translated = false;

  Json errors = Json::array();
  std::ostringstream text;
  size_t n = 0;
  for (const MemoryError& e : read.errors) {
    ++n;
    Json j = Json::object();
    j["source"] = e.Source();
    j["file"] = e.File();
    if (e.line) j["line"] = e.line;
    if (e.time) j["time"] = UtcTimeText(*e.time);
    j["severity"] = SeverityName(e.severity);
    if (e.count != 1) j["count"] = e.count;
    text << "memory error " << n << " of " << read.errors.size() << ": " << e.Source() << "\n";
    if (e.time) text << "  time            " << UtcTimeText(*e.time) << "\n";
    text << "  severity        " << SeverityName(e.severity)
         << (e.count != 1 ? " (" + std::to_string(e.count) + " errors)" : "") << "\n";
    if (e.mca) {
      const McaFields& f = *e.mca;
      Json m = {{"cpu", f.cpu}, {"bank", f.bank}, {"status", tools::Hex64(f.status)}};
      text << "  machine check   cpu " << f.cpu << " bank " << f.bank << " status "
           << tools::Hex64(f.status);
      if (f.socket) m["socket"] = *f.socket, text << " socket " << *f.socket;
      if (f.apic) m["apic"] = tools::Hex(*f.apic);
      if (f.addr) m["addr"] = tools::Hex64(*f.addr);
      if (f.misc) m["misc"] = tools::Hex64(*f.misc);
      if (f.synd) m["synd"] = tools::Hex64(*f.synd);
      if (f.ipid) m["ipid"] = tools::Hex64(*f.ipid), text << " ipid " << tools::Hex64(*f.ipid);
      text << "\n";
      j["mca"] = m;
    }
    if (e.location) {
      Json l = Json::object();
      text << "  location       ";
      for (const auto& [name, value] : LocationFields(*e.location)) {
        l[name] = value;
        text << " " << name << " " << value;
      }
      text << "\n";
      j["location"] = l;
    }
    if (!e.Message().empty()) {
      j["message"] = e.Message();
      text << "  message         " << e.Message() << "\n";
    }
    if (!e.address) {
      text << "  address         none (the record carries no usable address)\n";
      j["address"] = nullptr;
    } else {
      j["address"] = tools::Hex64(*e.address);
      j["addressKind"] = e.kind == AddressKind::kSystem ? "system" : "normalized";
      j["addressReading"] = AddressReading(e);
      if (e.channel)
        j["channel"] = {{"socket", e.channel->socket},
                        {"die", e.channel->die},
                        {"channel", e.channel->channel}};
      text << "  address         " << tools::Hex64(*e.address) << " (" << AddressReading(e)
           << ")\n";
      translated = true;
      Translations::Result t = translations.Of(e);
      untranslated = untranslated || !t.ok;
      text << "  translated " << platform.phrase << "\n";
      Indent(text, t.text, "    ");
      for (auto it = t.json.begin(); it != t.json.end(); ++it) j[it.key()] = it.value();
    }
    errors.push_back(std::move(j));
  }

  if (opts.json) {
    Json out = Json::object();
    out["kind"] = "logs";
    out["platform"] = platform.json;
    out["errors"] = std::move(errors);
    Json un = Json::array();
    for (const Unparsed& u : read.unparsed)
      un.push_back({{"where", u.where},
                    {"file", u.file},
                    {"line", u.line},
                    {"text", u.text},
                    {"reason", u.reason}});
    out["unparsed"] = std::move(un);
    out["notes"] = read.notes;
    std::cout << out.dump(2, ' ', false, Json::error_handler_t::replace) << "\n";
  } else {
    std::cout << platform.line << "\n";
    std::cout << read.errors.size() << " memory error" << (read.errors.size() == 1 ? "" : "s")
              << " read from " << files.size() << " file" << (files.size() == 1 ? "" : "s") << "\n"
              << text.str();
    for (const std::string& note : read.notes) std::cout << "note: " << note << "\n";
    if (!read.unparsed.empty()) {
      std::cout << read.unparsed.size() << " not read:\n";
      for (const Unparsed& u : read.unparsed)
        std::cout << "  " << u.where << ": " << u.reason << "\n    " << u.text << "\n";
    }
  }
  std::cout.flush();
  if (translated && !platform.warning.empty()) std::cerr << "platsim: " << platform.warning << "\n";
  if (!read.unparsed.empty() || untranslated) throw Refusal("");
}

}  // namespace platsim
