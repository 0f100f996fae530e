#include "tools/platsim/translate/translate_batch.h"

#include "sim/profile/profile.h"
#include "tools/common/input_file.h"
#include "tools/common/line_writer.h"
#include "tools/platsim/cli/parse_number.h"
#include "tools/platsim/translate/dram_format.h"
#include "tools/platsim/translate/translate_output.h"
#include "tools/platsim/translate/translate_session.h"
#include "tools/common/hex_text.h"

#include <cstdio>
#include <iostream>
#include <cstring>
#include <vector>
#include <string_view>

namespace platsim {

namespace {

using sim::profile::Json;

constexpr size_t kMaxLine = 4096;

std::string_view Trim(std::string_view s) {
  const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r'; };
  while (!s.empty() && blank(s.front())) s.remove_prefix(1);
  while (!s.empty() && blank(s.back())) s.remove_suffix(1);
  return s;
}

// Fields separated by blanks or commas; returns how many there are (up to
// `max` + 1, to tell "too many").
size_t Split(std::string_view s, std::string_view* fields, size_t max) {
  size_t n = 0;
  size_t i = 0;
  const auto sep = [](char c) { return c == ' ' || c == '\t' || c == ','; };
  while (i < s.size()) {
    while (i < s.size() && sep(s[i])) ++i;
    if (i == s.size()) break;
    const size_t from = i;
    while (i < s.size() && !sep(s[i])) ++i;
    if (n == max) return max + 1;
    fields[n++] = s.substr(from, i - from);
  }
  return n;
}

enum class LineRead { Line, TooLong, Binary, End };

// One line into `line` (`length` characters, line feed dropped). A longer
// line keeps its first part and is read to its end in pieces, each checked
// for the NUL bytes that show the input is not text.
LineRead ReadLine(std::istream& in, char* line, size_t size, size_t& length) {
  in.getline(line, static_cast<std::streamsize>(size));
  const auto got = static_cast<size_t>(in.gcount());
  if (in.bad()) throw UserError("address list: read error");
  if (!in.fail()) {
    length = in.eof() ? got : got - 1;
    return std::memchr(line, 0, length) ? LineRead::Binary : LineRead::Line;
  }
  if (got == 0) return LineRead::End;
  length = got;
  if (std::memchr(line, 0, length)) return LineRead::Binary;
  std::vector<char> rest(size);
  for (;;) {
    in.clear();
    in.getline(rest.data(), static_cast<std::streamsize>(size));
    const auto n = static_cast<size_t>(in.gcount());
    if (in.bad()) throw UserError("address list: read error");
    const size_t stored = !in.fail() && !in.eof() ? n - 1 : n;  // less the line feed
    if (std::memchr(rest.data(), 0, stored)) return LineRead::Binary;
    if (!in.fail() || n == 0) return LineRead::TooLong;
  }
}

struct Request {
  uint64_t address = 0;
  uint64_t socket = 0, die = 0, channel = 0;
};

class Batch {
 public:
  Batch(const GlobalOptions& opts, BatchDirection direction)
      : opts_(opts), direction_(direction), session_(opts), out_(stdout) {
    // Once, where it does not break the one-record-a-line format: a comment
    // line ahead of the text lines; for JSON Lines, where every line is a
    // record, standard error.
    if (opts_.json) {
      std::cerr << "platsim: " << session_.Named().line << "\n";
    } else {
      out_ << "# " << std::string_view(session_.Named().line);
      out_.EndLine();
    }
  }

  void Line(uint64_t number, std::string_view text) {
    Request q;
    try {
      q = text.front() == '{' ? FromJson(text) : FromFields(text);
    } catch (const UserError& e) {
      return Bad(number, text, e.what());
    } catch (const sim::profile::ProfileError& e) {
      return Bad(number, text, e.what());
    }
    if (direction_ == BatchDirection::System) {
      const SysAnswer a = session_.System(q.address);
      Count(a.verdict, number);
      WriteSystem(number, a);
    } else {
      NormAnswer a;
      try {
        a = session_.Normalized(q.address, q.socket, q.die, q.channel);
      } catch (const UserError& e) {
        return Bad(number, text, e.what());
      }
      Count(a.verdict, number);
      WriteNormalized(number, a);
    }
    End();
  }

  void Bad(uint64_t number, std::string_view input, const std::string& why) {
    Count(Verdict::BadInput, number);
    if (opts_.json) {
      out_ << "{\"line\":";
      out_.Dec(number) << ",\"input\":";
      out_.JsonString(input.substr(0, 200)) << ",\"ok\":false,\"error\":";
      out_.JsonString(why) << '}';
    } else {
      out_ << "line ";
      out_.Dec(number) << ": error: " << why;
    }
    out_.EndLine();
  }

  // Before a translation whose driver messages go straight to the terminal.
  void Sync() {
    if (session_.ShowMessages() && !opts_.json) out_.Flush();
  }

  int Finish() {
    out_.Flush();
    const uint64_t failed = refused_ + unreadable_;
    if (failed == 0) return 0;
    std::fflush(stdout);
    std::cerr << "platsim: " << failed << " of " << lines_ << " lines failed (" << refused_
              << " refused, " << unreadable_ << " bad input); the first is line " << firstFailed_
              << "\n";
    return unreadable_ != 0 ? 2 : 1;
  }

  uint64_t Lines() const { return lines_; }

 private:
  Request FromFields(std::string_view text) const {
    std::string_view f[4];
    const bool sys = direction_ == BatchDirection::System;
    const size_t want = sys ? 1 : 4;
    if (Split(text, f, want) != want)
      throw UserError(sys ? "expected one system address"
                          : "expected a normalized address, socket, die and channel");
    Request q;
    q.address = ParseNumber(f[0], sys ? "system address" : "normalized address");
    if (!sys) {
      q.socket = ParseNumber(f[1], "socket");
      q.die = ParseNumber(f[2], "die");
      q.channel = ParseNumber(f[3], "channel");
    }
    return q;
  }

  Request FromJson(std::string_view text) const {
    const Json j = sim::profile::Parse(std::string(text), "$");
    Request q;
    if (direction_ == BatchDirection::System) {
      sim::profile::CheckKeys(j, "$", {"systemAddress"});
      q.address =
          sim::profile::Number(sim::profile::Required(j, "$", "systemAddress"), "$.systemAddress");
    } else {
      sim::profile::CheckKeys(j, "$", {"normalizedAddress", "socket", "die", "channel"});
      auto field = [&](const char* key) {
        return sim::profile::Number(sim::profile::Required(j, "$", key), std::string("$.") + key);
      };
      q.address = field("normalizedAddress");
      q.socket = field("socket");
      q.die = field("die");
      q.channel = field("channel");
    }
    return q;
  }

  void Count(Verdict v, uint64_t number) {
    ++lines_;
    if (v == Verdict::Ok) return;
    (v == Verdict::Refused ? refused_ : unreadable_) += 1;
    if (firstFailed_ == 0) firstFailed_ = number;
  }

  // The coordinates, or none with the reason: "dram" (and "dramBack") and
  // "dramNote" in JSON, a "DRAM none (...)" field in text.
  void Dram(const ShownDram& d, const char* key) {
    if (opts_.json) {
      out_ << ",\"" << std::string_view(key) << "\":";
      WriteDramJson(out_, d);
    } else {
      out_ << "  " << (d.Has() ? "" : "DRAM ");
      WriteDramText(out_, d);
    }
  }

  void DramNote(const ShownDram& d) {
    if (opts_.json && !d.Has()) {
      out_ << ",\"" << std::string_view(kDramNoteKey) << "\":";
      out_.JsonString(d.none);
    }
  }

  void Refused(uint64_t number, const std::string& subject, const std::string& error) {
    if (opts_.json) {
      out_ << ",\"error\":";
      out_.JsonString(subject + " " + error);
    } else {
      out_ << "line ";
      out_.Dec(number) << ": error: " << subject << ' ' << error;
    }
  }

  void WriteSystem(uint64_t number, const SysAnswer& a) {
    const NormalizedAddress& n = a.norm;
    const bool ok = a.verdict == Verdict::Ok;
    if (opts_.json) {
      out_ << "{\"line\":";
      out_.Dec(number) << ",\"direction\":\"system-to-normalized\",\"systemAddress\":\"";
      out_.Hex64(a.address) << "\",\"ok\":" << (ok ? "true" : "false") << ",\"status\":\"";
      out_.Hex(a.status) << '"';
      if (!ok) return Refused(number, SystemSubject(a.address), a.error);
      out_ << ",\"socket\":";
      out_.Dec(n.socketId) << ",\"die\":";
      out_.Dec(n.dieId) << ",\"channel\":";
      out_.Dec(n.channelId) << ",\"node\":";
      out_.Dec(a.node) << ",\"csFabricId\":\"";
      out_.Hex(a.csFabricId) << "\",\"normalizedAddress\":\"";
      out_.Hex64(n.normalizedAddr) << '"';
      const ShownDram dram(a.dram, n.socketId, n.dieId, n.channelId);
      Dram(dram, "dram");
      DramNote(dram);
      out_ << ",\"backToSystem\":\"";
      out_.Hex64(a.back) << '"';
      Dram(ShownDram(a.dramBack, n.socketId, n.dieId, n.channelId), "dramBack");
      if (a.lossyMap) out_ << ",\"note\":\"" << std::string_view(kLossyMapNote) << '"';
    } else {
      if (!ok) return Refused(number, SystemSubject(a.address), a.error);
      out_.Hex64(a.address) << "  socket ";
      out_.Dec(n.socketId) << ", die ";
      out_.Dec(n.dieId) << ", channel ";
      out_.Dec(n.channelId) << "  normalized ";
      out_.Hex64(n.normalizedAddr);
      Dram(ShownDram(a.dram, n.socketId, n.dieId, n.channelId), "dram");
      if (a.lossyMap) {
        out_ << "  (slot 1 gives back ";
        out_.Hex64(a.back) << ": " << std::string_view(kLossyMapNote) << ')';
      }
    }
  }

  void WriteNormalized(uint64_t number, const NormAnswer& a) {
    const bool ok = a.verdict == Verdict::Ok;
    if (opts_.json) {
      out_ << "{\"line\":";
      out_.Dec(number) << ",\"direction\":\"normalized-to-system\",\"normalizedAddress\":\"";
      out_.Hex64(a.normalized) << "\",\"socket\":";
      out_.Dec(a.socket) << ",\"die\":";
      out_.Dec(a.die) << ",\"channel\":";
      out_.Dec(a.channel) << ",\"node\":";
      out_.Dec(a.node) << ",\"ok\":" << (ok ? "true" : "false") << ",\"status\":\"";
      out_.Hex(a.status) << '"';
      if (!ok)
        return Refused(number, NormalizedSubject(a.normalized, a.socket, a.die, a.channel),
                       a.error);
      out_ << ",\"systemAddress\":\"";
      out_.Hex64(a.system) << '"';
      const ShownDram dram(a.dram, a.socket, a.die, a.channel);
      Dram(dram, "dram");
      DramNote(dram);
    } else {
      if (!ok)
        return Refused(number, NormalizedSubject(a.normalized, a.socket, a.die, a.channel),
                       a.error);
      out_.Hex64(a.normalized) << "  socket ";
      out_.Dec(a.socket) << ", die ";
      out_.Dec(a.die) << ", channel ";
      out_.Dec(a.channel) << "  system ";
      out_.Hex64(a.system);
      Dram(ShownDram(a.dram, a.socket, a.die, a.channel), "dram");
    }
  }

  // Ends the line's record; with --diag or --trace, adds the messages and
  // fabric reads of the line's calls.
  void End() {
    if (!session_.ShowMessages()) {
      if (opts_.json) out_ << '}';
      out_.EndLine();
      return;
    }
    const auto reads = session_.TakeFabricReads();
    if (opts_.json) {
      Json extra = Json::object();
      extra["messages"] = session_.TakeMessages();
      if (opts_.trace) extra["fabricReads"] = FabricReadsJson(reads);
      out_ << ',' << std::string_view(extra.dump()).substr(1);
      out_.EndLine();
      return;
    }
    out_.EndLine();
    if (opts_.trace) {
      out_.Flush();
      PrintFabricReads(std::cout, reads);
      std::cout << "\n";
      std::cout.flush();
    }
  }

  const GlobalOptions& opts_;
  BatchDirection direction_;
  TranslateSession session_;
  tools::LineWriter out_;
  uint64_t lines_ = 0, refused_ = 0, unreadable_ = 0, firstFailed_ = 0;
};

}  // namespace

int TranslateBatch(const GlobalOptions& opts, BatchDirection direction, const std::string& path) {
  if (path == "-" && opts.profile == "-")
    throw UserError("standard input cannot hold both the profile and the addresses");
  tools::InputStream input(path, "address list");
  Batch batch(opts, direction);
  std::istream& in = input.get();
  char line[kMaxLine + 1];
  for (uint64_t number = 1;; ++number) {
    size_t length = 0;
    const LineRead got = ReadLine(in, line, sizeof line, length);
    if (got == LineRead::End) break;
    if (got == LineRead::Binary) {
      batch.Bad(number, "", "a NUL byte: this is not a list of addresses; stopped reading");
      break;
    }
    const std::string_view text = Trim(std::string_view(line, length));
    if (text.empty() || text.front() == '#') continue;
    if (got == LineRead::TooLong) {
      batch.Bad(number, text.substr(0, 40),
                "longer than " + std::to_string(kMaxLine) + " characters");
      continue;
    }
    batch.Sync();
    batch.Line(number, text);
  }
  return batch.Finish();
}

}  // namespace platsim
