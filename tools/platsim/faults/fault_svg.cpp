#include "tools/platsim/faults/fault_svg.h"
#include "tools/common/xml_text.h"

#include "sim/dram/channel_config_store.h"
#include "sim/dram/channel_geometry.h"

#include <algorithm>
#include <cstdio>
#include <map>
#include <set>
#include <sstream>

namespace platsim::faults {

namespace {

const char* const kFont = "DejaVu Sans, Verdana, Arial, Helvetica, sans-serif";
const char* const kInk = "#222222";
const char* const kBank = "#ECECEC";         // a bank's column
const char* const kCorrected = "#E69F00";    // orange
const char* const kUncorrected = "#D55E00";  // vermilion
const char* const kFault = "#0072B2";        // blue frame

constexpr double kMargin = 40, kBankWidth = 22, kBankGap = 2, kPanelHeight = 256;
constexpr double kPanelGap = 70, kTick = 3;

std::string Num(double v) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.2f", v);
  std::string s = buf;
  while (s.back() == '0') s.pop_back();
  if (s.back() == '.') s.pop_back();
  return s;
}

std::string Text(double x, double y, double size, const std::string& text) {
  return "<text x=\"" + Num(x) + "\" y=\"" + Num(y) + "\" font-family=\"" + kFont +
         "\" font-size=\"" + Num(size) + "\" fill=\"" + kInk + "\">" + tools::XmlEscape(text) +
         "</text>\n";
}

std::string Rect(double x, double y, double w, double h, const std::string& rest) {
  return "<rect x=\"" + Num(x) + "\" y=\"" + Num(y) + "\" width=\"" + Num(w) + "\" height=\"" +
         Num(h) + "\" " + rest + "/>\n";
}

}  // namespace

std::string RenderFaultSvg(Locator& locator, const Analysis& an,
                           const std::vector<logs::MemoryError>& errors, const std::string& title,
                           const std::string& subtitle) {
  // The panels: every (DIMM, chip select) with errors, in key order.
  std::set<std::pair<DimmKey, uint32_t>> panels;
  for (const Placed& p : an.placed) panels.insert({p.dimm, p.dram.chipSelect});
  const atd::ChannelConfigTable& table = sim::dram::ChannelConfigOf(locator.Session().Platform());

  std::ostringstream body;
  double y = kMargin + 74, width = std::max(720.0, subtitle.size() * 6.0 + 2 * kMargin);
  std::map<std::pair<DimmKey, uint32_t>, std::pair<double, double>> origin;
  std::map<std::pair<DimmKey, uint32_t>, uint64_t> rowsOf;
  for (const auto& panel : panels) {
    const DimmKey& k = panel.first;
    const uint32_t cs = panel.second;
    const unsigned banks = 1u << locator.BankBits(k, cs);
    const uint32_t cfg = table.addrCfg[sim::dram::SlotOf(k.socket, k.die, k.channel)][cs / 2];
    const unsigned rowBits =
        atd::AddrCfg::Noofrwolo::Get(cfg) + 10 + atd::AddrCfg::Noofrowhi::Get(cfg);
    const uint64_t rows = uint64_t{1} << rowBits;
    const double x0 = kMargin, y0 = y;
    origin[panel] = {x0, y0};
    rowsOf[panel] = rows;
    const std::string id = "panel-s" + std::to_string(k.socket) + "d" + std::to_string(k.die) +
                           "c" + std::to_string(k.channel) + "cs" + std::to_string(cs);
    body << "<g id=\"" << id << "\" data-x=\"" << Num(x0) << "\" data-y=\"" << Num(y0)
         << "\" data-bank-width=\"" << Num(kBankWidth + kBankGap) << "\" data-height=\""
         << Num(kPanelHeight) << "\" data-rows=\"" << rows << "\">\n";
    std::string label;
    for (const DimmReport& d : an.dimms)
      if (d.key == k && d.label) label = " \"" + d.label->label + "\"";
    body << Text(x0, y0 - 10, 13,
                 "socket " + std::to_string(k.socket) + " die " + std::to_string(k.die) +
                     " channel " + std::to_string(k.channel) + " DIMM " + std::to_string(k.dimm) +
                     label + ", chip select " + std::to_string(cs) + ": banks 0-" +
                     std::to_string(banks - 1) + " by rows 0-" + std::to_string(rows - 1));
    for (unsigned b = 0; b < banks; ++b)
      body << Rect(x0 + b * (kBankWidth + kBankGap), y0, kBankWidth, kPanelHeight,
                   std::string("fill=\"") + kBank + "\"");
    body << "</g>\n";
    width = std::max(width, x0 + banks * (kBankWidth + kBankGap) + kMargin);
    y += kPanelHeight + kPanelGap;
  }
  auto rowY = [&](const std::pair<DimmKey, uint32_t>& panel, uint32_t row) {
    return origin[panel].second +
           kPanelHeight * static_cast<double>(row) / static_cast<double>(rowsOf[panel]);
  };
  auto bankX = [&](const std::pair<DimmKey, uint32_t>& panel, uint32_t bank) {
    return origin[panel].first + bank * (kBankWidth + kBankGap);
  };
  // Fault frames below the ticks, so that a tick shows through.
  for (const DimmReport& d : an.dimms)
    for (const Fault& f : d.faults)
      for (uint32_t cs : f.ranks) {
        const auto panel = std::make_pair(d.key, cs);
        const double x = bankX(panel, f.banks.front()) - 1;
        const double w = bankX(panel, f.banks.back()) + kBankWidth + 1 - x;
        const double top = rowY(panel, f.rows.front()) - 3;
        const double h = std::max(rowY(panel, f.rows.back()) + kTick + 3 - top, kTick + 6);
        body << Rect(x, top, w, h,
                     std::string("class=\"fault\" data-mode=\"") + ModeKey(f.mode) +
                         "\" fill=\"none\" stroke=\"" + kFault + "\" stroke-width=\"2\"");
      }
  for (const Placed& p : an.placed) {
    const auto panel = std::make_pair(p.dimm, uint32_t{p.dram.chipSelect});
    const bool ue = errors[p.error].severity == logs::Severity::kUncorrected;
    body << Rect(bankX(panel, p.dram.bank) + 3, rowY(panel, p.dram.row), kBankWidth - 6, kTick,
                 "class=\"error\" data-bank=\"" + std::to_string(p.dram.bank) + "\" data-row=\"" +
                     std::to_string(p.dram.row) + "\" fill=\"" + (ue ? kUncorrected : kCorrected) +
                     "\"");
  }
  const double height = std::max(y, kMargin + 120);

  std::ostringstream svg;
  svg << "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" << Num(width) << "\" height=\""
      << Num(height) << "\" viewBox=\"0 0 " << Num(width) << " " << Num(height) << "\">\n"
      << Rect(0, 0, width, height, "fill=\"#FFFFFF\"") << Text(kMargin, 24, 16, title)
      << Text(kMargin, 38, 11, subtitle);
  // The legend.
  const struct {
    const char* id;
    const char* colour;
    const char* text;
  } legend[] = {{"legend-corrected", kCorrected, "corrected error"},
                {"legend-uncorrected", kUncorrected, "uncorrected error"},
                {"legend-fault", kFault, "fault: a frame round its banks and rows"},
                {"legend-bank", kBank, "bank"}};
  double lx = kMargin;
  for (const auto& l : legend) {
    svg << Rect(lx, 48, 14, 14, std::string("id=\"") + l.id + "\" fill=\"" + l.colour + "\"")
        << Text(lx + 20, 60, 12, l.text);
    lx += std::string(l.text).size() * 6.5 + 44;
  }
  if (panels.empty()) svg << Text(kMargin, 100, 13, "no error placed on a DIMM");
  svg << body.str() << "</svg>\n";
  return svg.str();
}

}  // namespace platsim::faults
