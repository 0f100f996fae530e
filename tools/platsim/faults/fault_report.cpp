#include "tools/platsim/faults/fault_report.h"
#include "tools/platsim/logs/log_text.h"

#include "tools/platsim/faults/time_text.h"

#include "tools/common/hex_text.h"

#include <algorithm>
#include <ctime>
#include <set>

namespace platsim::faults {

namespace {

using Json = sim::profile::Json;

constexpr size_t kSourcesShown = 20, kValuesShown = 64;

Json TimeJson(const std::optional<int64_t>& t) {
  return t ? Json(TimeText(t)) : Json(nullptr);
}

std::string DimmName(const DimmKey& k) {
  return "socket " + std::to_string(k.socket) + " die " + std::to_string(k.die) + " channel " +
         std::to_string(k.channel) + " DIMM " + std::to_string(k.dimm) + " (chip selects " +
         std::to_string(k.dimm * 2) + "-" + std::to_string(k.dimm * 2 + 1) + ")";
}

std::string LabelText(const sim::dram::DimmLabel* l) {
  if (!l) return "no label (the profile's \"dimms\" section names none)";
  std::string s = "\"" + l->label + "\"";
  if (!l->serial.empty()) s += ", serial " + l->serial;
  if (!l->part.empty()) s += ", part " + l->part;
  return s;
}

Json LabelJson(const sim::dram::DimmLabel* l) {
  if (!l) return nullptr;
  return Json{{"label", l->label}, {"serial", l->serial}, {"part", l->part}};
}

// "0x10" or "0x10-0x80 (5)" for the extent lines.
std::string ListText(const std::vector<uint32_t>& v, bool hex) {
  auto one = [hex](uint32_t x) { return hex ? tools::Hex(x) : std::to_string(x); };
  if (v.size() == 1) return one(v.front());
  if (v.size() <= 4) {
    std::string s;
    for (uint32_t x : v) s += (s.empty() ? "" : ", ") + one(x);
    return s;
  }
  return one(v.front()) + "-" + one(v.back()) + " (" + std::to_string(v.size()) + " distinct)";
}

struct Repair {
  uint32_t channel, rank, bankGroup, bank, row;
  std::optional<uint32_t> column;
};

Repair RepairOf(Locator& loc, const DimmKey& key, const Fault& f) {
  const uint32_t cs = f.ranks.front();
  const unsigned bits = loc.BankBits(key, cs), groups = loc.GroupBits(key, cs);
  Repair r{key.channel,
           cs,
           BankGroupOf(f.banks.front(), bits, groups),
           BankInGroup(f.banks.front(), bits, groups),
           f.rows.front(),
           std::nullopt};
  if (f.mode == Mode::kCell) r.column = f.columns.front();
  return r;
}

std::string RepairText(const Repair& r) {
  std::string s = "channel=" + std::to_string(r.channel) + " rank=" + std::to_string(r.rank) +
                  " bank_group=" + std::to_string(r.bankGroup) + " bank=" + std::to_string(r.bank) +
                  " row=" + std::to_string(r.row);
  if (r.column) s += " column=" + std::to_string(*r.column);
  return s;
}

Json RepairJson(const Repair& r) {
  Json j{{"action", "repair"},        {"channel", r.channel}, {"rank", r.rank},
         {"bank_group", r.bankGroup}, {"bank", r.bank},       {"row", r.row}};
  j["column"] = r.column ? Json(*r.column) : Json(nullptr);
  return j;
}

}  // namespace

std::vector<uint64_t> PagesToOffline(const Analysis& an) {
  std::set<uint64_t> pages;
  for (const DimmReport& d : an.dimms)
    for (const Fault& f : d.faults)
      if (f.offline) pages.insert(f.pages.begin(), f.pages.end());
  return {pages.begin(), pages.end()};
}

Json ReportJson(const ReportInput& in) {
  Json j = Json::object();
  j["schemaVersion"] = kSchemaVersion;
  j["platform"] = in.platform.json;
  j["options"] = {{"pageThreshold", in.options.pageThreshold},
                  {"dimmThreshold", in.options.dimmThreshold},
                  {"windowSeconds", in.options.window},
                  {"spread", in.options.spread}};
  j["errors"] = {{"read", in.read.errors.size()},
                 {"placed", in.analysis.placed.size()},
                 {"unattributed", in.analysis.unattributed.size()},
                 {"unparsed", in.read.unparsed.size()}};
  Json dimms = Json::array();
  for (const DimmReport& d : in.analysis.dimms) {
    Json dj{{"socket", d.key.socket},
            {"die", d.key.die},
            {"channel", d.key.channel},
            {"dimm", d.key.dimm},
            {"label", LabelJson(d.label)}};
    dj["corrected"] = d.corrected;
    dj["uncorrected"] = d.uncorrected;
    dj["correctedPeakInWindow"] = d.correctedPeak;
    dj["replace"] = d.replace;
    dj["replaceWhy"] = d.replace ? Json(d.why) : Json(nullptr);
    Json fl = Json::array();
    for (const Fault& f : d.faults) {
      Json fj{{"mode", ModeKey(f.mode)},    {"severity", logs::SeverityName(f.severity)},
              {"errors", f.errors},         {"peakInWindow", f.peakInWindow},
              {"first", TimeJson(f.first)}, {"last", TimeJson(f.last)}};
      // Rows and columns: the lowest kValuesShown, and how many in all.
      auto firsts = [](const std::vector<uint32_t>& v) {
        return std::vector<uint32_t>(
            v.begin(), v.begin() + static_cast<std::ptrdiff_t>(std::min(v.size(), kValuesShown)));
      };
      fj["extent"] = {{"ranks", f.ranks},
                      {"banks", f.banks},
                      {"rows", firsts(f.rows)},
                      {"rowsDistinct", f.rows.size()},
                      {"columns", firsts(f.columns)},
                      {"columnsDistinct", f.columns.size()}};
      // Where its errors were read: the first kSourcesShown (a fault of a
      // million errors is not a million lines), and how many more.
      Json sources = Json::array();
      for (size_t k = 0; k < f.placed.size() && k < kSourcesShown; ++k)
        sources.push_back(in.read.errors[in.analysis.placed[f.placed[k]].error].Source());
      fj["sources"] = sources;
      fj["moreSources"] = f.placed.size() > kSourcesShown ? f.placed.size() - kSourcesShown : 0;
      Json actions = Json::array();
      if (f.offline) {
        Json pages = Json::array();
        for (uint64_t p : f.pages) pages.push_back(tools::Hex64(p));
        actions.push_back({{"action", "offlinePages"}, {"pages", pages}});
      }
      if (f.repair) actions.push_back(RepairJson(RepairOf(in.locator, d.key, f)));
      if (f.replace)
        actions.push_back(
            {{"action", "replaceDimm"}, {"label", d.label ? Json(d.label->label) : Json(nullptr)}});
      fj["actions"] = actions;
      fj["why"] = f.why;
      fl.push_back(std::move(fj));
    }
    dj["faults"] = fl;
    dimms.push_back(std::move(dj));
  }
  j["dimms"] = dimms;
  Json un = Json::array();
  for (const Unattributed& u : in.analysis.unattributed) {
    const logs::MemoryError& e = in.read.errors[u.error];
    un.push_back(
        {{"source", e.Source()}, {"file", e.File()}, {"line", e.line}, {"reason", u.reason}});
  }
  j["unattributed"] = un;
  Json up = Json::array();
  for (const logs::Unparsed& u : in.read.unparsed)
    up.push_back({{"file", u.file}, {"line", u.line}, {"text", u.text}, {"reason", u.reason}});
  j["unparsed"] = up;
  j["notes"] = in.read.notes;
  j["pages"] = PagesToOffline(in.analysis).size();
  return j;
}

void ReportText(const ReportInput& in, std::ostream& out) {
  out << in.platform.line << "\n";
  out << "errors        " << in.read.errors.size() << " read, " << in.analysis.placed.size()
      << " placed, " << in.analysis.unattributed.size() << " unattributed";
  if (!in.read.unparsed.empty()) out << ", " << in.read.unparsed.size() << " lines not read";
  out << "\n";
  for (const DimmReport& d : in.analysis.dimms) {
    out << "\nDIMM " << DimmName(d.key) << "\n";
    out << "  label       " << LabelText(d.label) << "\n";
    out << "  errors      " << d.corrected << " corrected, " << d.uncorrected << " uncorrected\n";
    if (d.replace)
      out << "  replace     the DIMM" << (d.label ? " \"" + d.label->label + "\"" : std::string())
          << ": " << d.why << "\n";
    for (size_t i = 0; i < d.faults.size(); ++i) {
      const Fault& f = d.faults[i];
      out << "  fault " << i + 1 << "     " << ModeName(f.mode) << ", "
          << logs::SeverityName(f.severity) << ": " << f.errors << " error"
          << (f.errors == 1 ? "" : "s") << ", first " << TimeText(f.first) << ", last "
          << TimeText(f.last) << "\n";
      out << "    extent    rank " << ListText(f.ranks, false) << ", bank "
          << ListText(f.banks, false) << ", row " << ListText(f.rows, true) << ", column "
          << ListText(f.columns, true) << "\n";
      if (f.offline) {
        out << "    offline   " << f.pages.size() << " page" << (f.pages.size() == 1 ? "" : "s");
        if (f.pages.size() <= 4)
          for (uint64_t p : f.pages) out << " " << tools::Hex64(p);
        out << " (" << f.why << ")\n";
      }
      if (f.repair) out << "    repair    " << RepairText(RepairOf(in.locator, d.key, f)) << "\n";
      if (f.replace)
        out << "    replace   the DIMM" << (d.label ? " \"" + d.label->label + "\"" : std::string())
            << " (" << f.why << ")\n";
      if (!f.offline && !f.replace) out << "    action    none yet (" << f.why << ")\n";
    }
  }
  if (!in.analysis.unattributed.empty()) {
    out << "\nunattributed\n";
    for (const Unattributed& u : in.analysis.unattributed)
      out << "  " << in.read.errors[u.error].Source() << ": " << u.reason << "\n";
  }
  if (!in.read.unparsed.empty()) {
    out << "\nnot read\n";
    for (const logs::Unparsed& u : in.read.unparsed)
      out << "  " << u.file << " line " << u.line << ": " << u.reason << "\n";
  }
  for (const std::string& n : in.read.notes) out << "note: " << n << "\n";
}

}  // namespace platsim::faults
