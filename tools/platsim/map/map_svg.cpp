#include "tools/platsim/map/map_svg.h"
#include "tools/common/xml_text.h"

#include "addr_translate/fabric/check_dram_hit.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <map>
#include <set>
#include <sstream>

namespace platsim::addrmap {

namespace {

// ---- layout (pixels) ----
constexpr double kWidth = 1240;
constexpr double kBarX = 200, kBarW = 120;
// Below the title, the caption and the two lines that name the platform.
constexpr double kBarTop = 120;
constexpr double kBarHeight = 680;  // the address space, unless breaks cannot make it fit
constexpr double kMinPiece = 10;    // every range at least this tall
constexpr double kMinBroken = 44;   // a shortened range keeps room for its break
constexpr double kLabelX = 356;     // map labels
constexpr double kLineH = 15;       // label line height
constexpr double kStripX = 870;     // strip grid origin
constexpr double kStripTop = 184;
constexpr double kCellW = 44, kCellH = 17;
constexpr unsigned kStripColumns = 8;

const char* const kFont = "DejaVu Sans, Verdana, Arial, Helvetica, sans-serif";
const char* const kMono = "DejaVu Sans Mono, Menlo, Consolas, monospace";

// Socket: hue family; die: shade, darkest first.
const char* const kSocketDie[4][4] = {{"#1F4E99", "#3A78C9", "#6FA0DC", "#A7C6EC"},
                                      {"#A04000", "#D2691E", "#EE9A55", "#F5C28F"},
                                      {"#1D6B3A", "#2E8F52", "#5CB57C", "#97D2A9"},
                                      {"#5B2D8A", "#7E4DB3", "#A27BCF", "#C7AEE3"}};
// Channels of the strip: eight colours told apart also by colour-blind eyes.
const char* const kChannelColours[8] = {"#E69F00", "#56B4E9", "#009E73", "#F0E442",
                                        "#0072B2", "#D55E00", "#CC79A7", "#8C564B"};
const char* const kHole = "#4D4D4D";
const char* const kProblem = "#D62728";
const char* const kInk = "#1A1A1A";
const char* const kMuted = "#5A5A5A";

const char* SocketDieColour(unsigned socket, unsigned die) {
  return kSocketDie[socket % 4][die % 4];
}

// Dark text on light fills, white on dark ones.
const char* TextOn(const std::string& fill) {
  if (fill.size() != 7 || fill[0] != '#') return kInk;
  const unsigned v = std::stoul(fill.substr(1), nullptr, 16);
  const double lum = 0.299 * (v >> 16) + 0.587 * ((v >> 8) & 0xFF) + 0.114 * (v & 0xFF);
  return lum > 150 ? kInk : "#FFFFFF";
}

std::string Num(double v) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.1f", v);
  std::string s = buf;
  if (s.size() > 2 && s.compare(s.size() - 2, 2, ".0") == 0) s.resize(s.size() - 2);
  return s;
}

// ---- the bar ----

struct Piece {
  enum class Kind { Map, Hole, Gap };
  uint64_t from, to;  // [from, to)
  Kind kind;
  const DramMap* owner;  // Kind::Map: the map checkDramHit uses
  bool overlap;          // more than one map covers it
  double y = 0, h = 0;
  bool broken = false;  // drawn shorter than to scale
};

std::vector<Piece> Pieces(const AddressMap& am, uint64_t top) {
  std::set<uint64_t> cuts{0, top};
  for (const DramMap& m : am.maps) {
    cuts.insert(m.map.dramBaseAddr);
    if (m.map.dramLimitAddr + 1 < top) cuts.insert(m.map.dramLimitAddr + 1);
  }
  if (am.hasHole && am.holeBase < top) {
    cuts.insert(am.holeBase);
    if (k4G < top) cuts.insert(k4G);
  }
  std::vector<Piece> out;
  for (auto it = cuts.begin(); std::next(it) != cuts.end(); ++it) {
    Piece p{*it, *std::next(it), Piece::Kind::Gap, nullptr, false};
    unsigned covering = 0;
    for (const DramMap& m : am.maps) {
      if (m.map.dramBaseAddr > p.from || m.map.dramLimitAddr < p.from) continue;
      if (covering++ == 0) p.owner = &m;
    }
    p.overlap = covering > 1;
    if (am.InHole(p.from))
      p.kind = Piece::Kind::Hole;
    else if (p.owner != nullptr)
      p.kind = Piece::Kind::Map;
    out.push_back(p);
  }
  return out;
}

// Heights to scale; when the smallest range would be thinner than kMinPiece,
// the scale grows until it is not, and the longest ranges are shortened
// (all to the same height, each with a break) so the bar keeps its height.
void Scale(std::vector<Piece>& pieces) {
  double total = 0, smallest = 0;
  for (const Piece& p : pieces) {
    const double len = static_cast<double>(p.to - p.from);
    total += len;
    smallest = smallest == 0 ? len : std::min(smallest, len);
  }
  double scale = kBarHeight / total;
  double cap = INFINITY;
  if (smallest * scale < kMinPiece) {
    scale = kMinPiece / smallest;
    auto fill = [&](double c) {
      double sum = 0;
      for (const Piece& p : pieces) sum += std::min(static_cast<double>(p.to - p.from) * scale, c);
      return sum;
    };
    double lo = 0, hi = total * scale;
    for (int i = 0; i < 80; ++i) {
      const double mid = (lo + hi) / 2;
      (fill(mid) < kBarHeight ? lo : hi) = mid;
    }
    cap = std::max(lo, kMinBroken);
  }
  double y = kBarTop;
  for (Piece& p : pieces) {
    const double h = static_cast<double>(p.to - p.from) * scale;
    p.broken = h > cap * 1.0001;
    p.h = p.broken ? cap : h;
    p.y = y;
    y += p.h;
  }
}

// Where address `a` lies on the bar (inside broken pieces: proportionally).
double YOf(const std::vector<Piece>& pieces, uint64_t a) {
  for (const Piece& p : pieces)
    if (a >= p.from && a < p.to)
      return p.y + p.h * static_cast<double>(a - p.from) / static_cast<double>(p.to - p.from);
  return pieces.empty() ? kBarTop : pieces.back().y + pieces.back().h;
}

// Items placed in a column beside the bar: each wants its middle at `anchor`,
// none may overlap the previous one.
struct Item {
  double anchor;
  double height;
  double y = 0;  // top, after placement
};

void Place(std::vector<Item*>& items, double gap, double top) {
  std::sort(items.begin(), items.end(),
            [](const Item* a, const Item* b) { return a->anchor < b->anchor; });
  double next = top;
  for (Item* it : items) {
    it->y = std::max(it->anchor - it->height / 2, next);
    next = it->y + it->height + gap;
  }
}

class Svg {
 public:
  std::ostringstream body, defs;

  void Rect(double x, double y, double w, double h, const std::string& fill,
            const std::string& extra = "") {
    body << "<rect x=\"" << Num(x) << "\" y=\"" << Num(y) << "\" width=\"" << Num(w)
         << "\" height=\"" << Num(h) << "\" fill=\"" << fill << "\"" << (extra.empty() ? "" : " ")
         << extra << "/>\n";
  }
  void Text(double x, double y, const std::string& text, const std::string& style,
            const char* anchor = "start") {
    body << "<text x=\"" << Num(x) << "\" y=\"" << Num(y) << "\" text-anchor=\"" << anchor << "\" "
         << style << ">" << tools::XmlEscape(text) << "</text>\n";
  }
  void Line(double x1, double y1, double x2, double y2, const std::string& stroke,
            const std::string& extra = "") {
    body << "<line x1=\"" << Num(x1) << "\" y1=\"" << Num(y1) << "\" x2=\"" << Num(x2) << "\" y2=\""
         << Num(y2) << "\" stroke=\"" << stroke << "\"" << (extra.empty() ? "" : " ") << extra
         << "/>\n";
  }
};

std::string Font(double size, const char* colour = kInk, bool bold = false, bool mono = false) {
  return std::string("font-family=\"") + (mono ? kMono : kFont) + "\" font-size=\"" + Num(size) +
         "\" fill=\"" + colour + "\"" + (bold ? " font-weight=\"bold\"" : "");
}

// (socket, die) pairs a map's addresses go to.
std::vector<std::pair<unsigned, unsigned>> Members(const AddressMap& am, const DramMap& m) {
  std::set<std::pair<unsigned, unsigned>> s;
  for (uint32_t t : m.targets)
    if (t != atd::kNoOwner) s.insert({atd::socketIdOf(t, am.masks), atd::dieIdOf(t, am.masks)});
  return {s.begin(), s.end()};
}

// "4 channels, hashed (code 13) from bit 8: bits 8, 12"
std::string InterleaveText(const DramMap& m) {
  std::string s =
      std::to_string(m.routing.channels) + (m.routing.channels == 1 ? " channel" : " channels");
  if (m.dies > 1) s += " x " + std::to_string(m.dies) + " dies";
  if (m.sockets > 1) s += " x " + std::to_string(m.sockets) + " sockets";
  s += m.routing.sixChannel ? " by the six-channel rule" : m.routing.hashed ? ", hashed" : "";
  s += " (code " + std::to_string(m.map.chanIntlvCode) + ")";
  if (!m.interleaveBits.empty()) {
    s += ", interleave bits ";
    for (size_t i = 0; i < m.interleaveBits.size(); ++i)
      s += (i ? ", " : "") + std::to_string(m.interleaveBits[i]);
  } else {
    s += ", not interleaved";
  }
  return s;
}

// ---- the picture, part by part (each appends to the SVG in turn) ----

// The bar's pieces laid out to scale, up to the address space's top.
struct Bar {
  uint64_t top;
  std::vector<Piece> pieces;
  double bottom;
  bool HasHole(const AddressMap& am) const { return am.hasHole && am.holeBase < top; }
};

Bar LayOutBar(const AddressMap& am) {
  Bar bar;
  bar.top = am.top;
  if (am.hasHole && am.holeBase < bar.top) bar.top = std::max(bar.top, k4G);
  if (bar.top != 0) bar.pieces = Pieces(am, bar.top);
  if (!bar.pieces.empty()) Scale(bar.pieces);
  bar.bottom = bar.pieces.empty() ? kBarTop + 40 : bar.pieces.back().y + bar.pieces.back().h;
  return bar;
}

// Fills of the maps: one colour per socket and die; a map spread over
// several dies or sockets is striped with their colours (patterns in defs).
struct Fills {
  std::map<unsigned, std::string> of;                // map index -> fill
  std::set<std::pair<unsigned, unsigned>> legendSd;  // (socket, die) pairs shown
};

Fills MapFills(const AddressMap& am, Svg& svg) {
  Fills fills;
  for (const DramMap& m : am.maps) {
    const auto members = Members(am, m);
    for (const auto& sd : members) fills.legendSd.insert(sd);
    if (members.empty()) {
      fills.of[m.index] = "#FFFFFF";
    } else if (members.size() == 1) {
      fills.of[m.index] = SocketDieColour(members[0].first, members[0].second);
    } else {
      const std::string id = "stripes-" + std::to_string(m.index);
      const double w = 10.0;
      svg.defs << "<pattern id=\"" << id << "\" width=\"" << Num(w * members.size())
               << "\" height=\"10\" patternUnits=\"userSpaceOnUse\" "
                  "patternTransform=\"rotate(45)\">\n";
      for (size_t i = 0; i < members.size(); ++i)
        svg.defs << "<rect x=\"" << Num(w * i) << "\" width=\"" << Num(w)
                 << "\" height=\"10\" fill=\""
                 << SocketDieColour(members[i].first, members[i].second) << "\"/>\n";
      svg.defs << "</pattern>\n";
      fills.of[m.index] = "url(#" + id + ")";
    }
  }
  svg.defs
      << "<pattern id=\"overlap-hatch\" width=\"8\" height=\"8\" patternUnits=\"userSpaceOnUse\" "
         "patternTransform=\"rotate(45)\"><rect width=\"3\" height=\"8\" fill=\""
      << kProblem << "\"/></pattern>\n";
  return fills;
}

// A break across a shortened piece: the range is longer than drawn.
void DrawBreak(Svg& svg, const Piece& p) {
  const double mid = p.y + p.h / 2, x0 = kBarX - 8, x1 = kBarX + kBarW + 8;
  std::ostringstream pts;
  const int teeth = 8;
  const double step = (x1 - x0) / teeth;
  for (int i = 0; i <= teeth; ++i)
    pts << Num(x0 + i * step) << "," << Num(mid - 5 + (i % 2 ? -3 : 3)) << " ";
  for (int i = teeth; i >= 0; --i)
    pts << Num(x0 + i * step) << "," << Num(mid + 5 + (i % 2 ? -3 : 3)) << " ";
  svg.body << "<polygon class=\"break\" points=\"" << pts.str() << "\" fill=\"#FFFFFF\" stroke=\""
           << kInk << "\" stroke-width=\"1\"/>\n";
}

void DrawBar(Svg& svg, const Bar& bar, const Fills& fills) {
  svg.Text(kBarX + kBarW / 2, kBarTop - 12, "system address space", Font(12, kMuted), "middle");
  svg.body << "<g id=\"address-bar\" data-x=\"" << Num(kBarX) << "\" data-width=\"" << Num(kBarW)
           << "\" data-top=\"" << Num(kBarTop) << "\" data-bottom=\"" << Num(bar.bottom)
           << "\" data-from=\"0x0\" data-to=\"" << Hex(bar.top) << "\">\n";
  for (const Piece& p : bar.pieces) {
    const std::string data = "data-from=\"" + Hex(p.from) + "\" data-to=\"" + Hex(p.to) + "\"";
    if (p.kind == Piece::Kind::Hole) {
      svg.Rect(kBarX, p.y, kBarW, p.h, kHole, "class=\"piece hole\" " + data);
    } else if (p.kind == Piece::Kind::Gap) {
      svg.Rect(kBarX + 1, p.y + 1, kBarW - 2, std::max(0.0, p.h - 2), "#FFFFFF",
               "class=\"piece gap\" stroke=\"" + std::string(kProblem) +
                   "\" stroke-width=\"2\" stroke-dasharray=\"6 4\" " + data);
    } else {
      svg.Rect(kBarX, p.y, kBarW, p.h, fills.of.at(p.owner->index),
               "class=\"piece map\" data-map=\"" + std::to_string(p.owner->index) + "\" " + data);
      if (p.overlap) svg.Rect(kBarX, p.y, kBarW, p.h, "url(#overlap-hatch)", "class=\"overlap\"");
    }
    if (p.broken) DrawBreak(svg, p);
  }
  // Thin separators where one map ends and the next begins.
  const std::vector<Piece>& pieces = bar.pieces;
  for (size_t i = 1; i < pieces.size(); ++i)
    if (pieces[i].owner != pieces[i - 1].owner || pieces[i].kind != pieces[i - 1].kind)
      svg.Line(kBarX, pieces[i].y, kBarX + kBarW, pieces[i].y, "#FFFFFF", "stroke-width=\"1\"");
  svg.Rect(kBarX, kBarTop, kBarW, bar.bottom - kBarTop, "none",
           "stroke=\"" + std::string(kInk) + "\" stroke-width=\"1\"");
  svg.body << "</g>\n";
}

// Map names inside the bar, on each map's tallest piece.
void DrawMapNames(Svg& svg, const AddressMap& am, const Bar& bar, const Fills& fills) {
  for (const DramMap& m : am.maps) {
    const Piece* best = nullptr;
    for (const Piece& p : bar.pieces)
      if (p.kind == Piece::Kind::Map && p.owner == &m && (best == nullptr || p.h > best->h))
        best = &p;
    if (best == nullptr || best->h < 15) continue;
    // Clear of the break, which sits in the middle of a shortened range.
    const double at = best->broken ? best->y + best->h / 4 : best->y + best->h / 2;
    const std::string& f = fills.of.at(m.index);
    const char* ink = f[0] == '#' ? TextOn(f) : "#FFFFFF";
    std::string style = Font(13, ink, true);
    if (f[0] != '#') style += " stroke=\"#1A1A1A\" stroke-width=\"3\" paint-order=\"stroke\"";
    svg.Text(kBarX + kBarW / 2, at + 5, "map " + std::to_string(m.index), style, "middle");
  }
}

// Addresses on the left: one tick where each piece starts, and the top.
void DrawAddresses(Svg& svg, const Bar& bar) {
  std::vector<uint64_t> ticks;
  for (const Piece& p : bar.pieces) ticks.push_back(p.from);
  if (!bar.pieces.empty()) ticks.push_back(bar.top);
  std::vector<Item> items;
  for (uint64_t t : ticks) items.push_back({YOf(bar.pieces, t), 13});
  std::vector<Item*> order;
  for (Item& it : items) order.push_back(&it);
  Place(order, 1, kBarTop - 8);
  for (size_t i = 0; i < ticks.size(); ++i) {
    const double ty = items[i].anchor, ly = items[i].y + 10;
    svg.Line(kBarX - 8, ty, kBarX, ty, kInk);
    svg.Line(kBarX - 8, ty, kBarX - 14, ly - 4, "#9A9A9A");
    const uint64_t t = ticks[i];
    svg.Text(kBarX - 16, ly, Addr(t) + (t == 0 ? "" : "  " + SizeText(t)),
             Font(10.5, kInk, false, true), "end");
  }
}

// A label on the right: its lines, the range of the bar it belongs to and
// its swatch.
struct Label {
  Item item;
  std::vector<std::pair<std::string, std::string>> lines;  // text, style
  double fromY, toY;
  std::string swatch;
};

Label MapLabel(const AddressMap& am, const Bar& bar, const Fills& fills, const DramMap& m) {
  Label l;
  const uint64_t end = m.map.dramLimitAddr + 1;
  const double y0 = YOf(bar.pieces, m.map.dramBaseAddr);
  const double y1 = YOf(bar.pieces, end == bar.top ? bar.top : end);
  l.fromY = y0;
  l.toY = std::max(y0 + 1, end >= bar.top ? bar.bottom : y1);
  l.swatch = fills.of.at(m.index);
  l.lines.push_back({"map " + std::to_string(m.index) + "  \u00B7  " + OwnerText(am, m) +
                         "  \u00B7  " + SizeText(m.Size()),
                     Font(12.5, kInk, true)});
  l.lines.push_back({Addr(m.map.dramBaseAddr) + " - " + Addr(m.map.dramLimitAddr),
                     Font(11, kMuted, false, true)});
  l.lines.push_back({InterleaveText(m), Font(11.5, kInk)});
  if (m.secondMap)
    l.lines.push_back({"2nd map of its channels: hiAddrOffset " +
                           (m.hiAddrOffsets.size() == 1 ? Hex(m.hiAddrOffsets[0]) : "(varies)"),
                       Font(11.5, kMuted)});
  if (m.map.holeEn)
    l.lines.push_back(
        {"holeEn: addresses from 4 GiB up are lowered by " + Hex(atd::holeAdjust(am.holeBase)),
         Font(11.5, kMuted)});
  return l;
}

Label HoleLabel(const AddressMap& am, const Bar& bar) {
  Label l;
  l.fromY = YOf(bar.pieces, am.holeBase);
  l.toY = YOf(bar.pieces, std::min(bar.top, k4G));
  l.swatch = kHole;
  l.lines.push_back({"MMIO hole  \u00B7  " + SizeText(k4G - am.holeBase), Font(12.5, kInk, true)});
  l.lines.push_back(
      {Addr(am.holeBase) + " - " + Addr(k4G - 1) + ", not DRAM", Font(11, kMuted, false, true)});
  return l;
}

Label FindingLabel(const Bar& bar, const Finding& f) {
  Label l;
  l.fromY = YOf(bar.pieces, f.from);
  l.toY = f.to + 1 >= bar.top ? bar.bottom : YOf(bar.pieces, f.to + 1);
  l.swatch = f.kind == FindingKind::Gap ? "#FFFFFF" : "url(#overlap-hatch)";
  l.lines.push_back({std::string(f.kind == FindingKind::Gap ? "gap: no map" : "overlap") +
                         "  \u00B7  " + SizeText(f.to - f.from + 1),
                     Font(12.5, kProblem, true)});
  l.lines.push_back({Addr(f.from) + " - " + Addr(f.to), Font(11, kProblem, false, true)});
  return l;
}

// Every map's label, the hole's, and one per gap or overlap range (several
// maps that overlap there share it), placed in a column beside the bar.
std::vector<Label> Labels(const AddressMap& am, const Bar& bar, const Fills& fills) {
  std::vector<Label> labels;
  for (const DramMap& m : am.maps) labels.push_back(MapLabel(am, bar, fills, m));
  if (bar.HasHole(am)) labels.push_back(HoleLabel(am, bar));
  std::set<std::pair<uint64_t, uint64_t>> marked;
  for (const Finding& f : am.findings) {
    if (f.kind != FindingKind::Gap && f.kind != FindingKind::Overlap) continue;
    if (!marked.insert({f.from, f.to}).second) continue;
    labels.push_back(FindingLabel(bar, f));
  }
  std::vector<Item*> order;
  for (Label& l : labels) {
    l.item.height = kLineH * l.lines.size() + 2;
    l.item.anchor = (l.fromY + l.toY) / 2;
    order.push_back(&l.item);
  }
  Place(order, 8, kBarTop - 6);
  return labels;
}

// Draws the labels; returns the bottom of the lowest.
double DrawLabels(Svg& svg, const std::vector<Label>& labels) {
  double labelsBottom = kBarTop;
  for (const Label& l : labels) {
    const double mid = l.item.y + l.item.height / 2;
    // A bracket along the bar for the label's range, and a leader to the label.
    const double bx = kBarX + kBarW + 8;
    svg.body << "<path d=\"M" << Num(bx - 4) << "," << Num(l.fromY + 1) << " H" << Num(bx) << " V"
             << Num(l.toY - 1) << " H" << Num(bx - 4) << "\" fill=\"none\" stroke=\"#8A8A8A\"/>\n";
    svg.body << "<path d=\"M" << Num(bx) << "," << Num((l.fromY + l.toY) / 2) << " C"
             << Num(bx + 14) << "," << Num((l.fromY + l.toY) / 2) << " " << Num(kLabelX - 18) << ","
             << Num(mid) << " " << Num(kLabelX - 4) << "," << Num(mid)
             << "\" fill=\"none\" stroke=\"#8A8A8A\"/>\n";
    for (size_t i = 0; i < l.lines.size(); ++i)
      svg.Text(kLabelX + 16, l.item.y + 12 + kLineH * i, l.lines[i].first, l.lines[i].second);
    svg.Rect(kLabelX, l.item.y + 2, 11, 11, l.swatch,
             "stroke=\"" + std::string(kInk) + "\" stroke-width=\"0.5\"");
    labelsBottom = std::max(labelsBottom, l.item.y + l.item.height);
  }
  return labelsBottom;
}

// The channels the strip shows, their colours and how much of their names
// a cell needs.
struct StripChannels {
  std::map<uint32_t, const StripCell*> owners;  // csFabricId -> a cell it serves
  std::set<unsigned> sockets, dies;
  std::map<uint32_t, size_t> colour;  // csFabricId -> palette index

  explicit StripChannels(const Strip& strip) {
    for (const StripCell& c : strip.cells) {
      if (c.kind != StripCell::Kind::Channel) continue;
      owners.emplace(c.fabricId, &c);
      sockets.insert(c.socket);
      dies.insert(c.die);
    }
    for (const auto& [id, cell] : owners) colour.emplace(id, colour.size());
  }
  std::string ShortName(const StripCell& c) const {
    std::string s;
    if (sockets.size() > 1) s += "s" + std::to_string(c.socket);
    if (dies.size() > 1) s += "d" + std::to_string(c.die);
    return s + (s.empty() ? "ch" : "c") + std::to_string(c.channel);
  }
};

constexpr double kStripTextX = kStripX - 70;

void DrawStripCells(Svg& svg, const Strip& strip, const StripChannels& ch) {
  svg.body << "<g id=\"strip\" data-map=\"" << strip.map << "\" data-x=\"" << Num(kStripX)
           << "\" data-y=\"" << Num(kStripTop) << "\" data-cell-width=\"" << Num(kCellW)
           << "\" data-cell-height=\"" << Num(kCellH) << "\" data-columns=\"" << kStripColumns
           << "\" data-base=\"" << Hex(strip.base) << "\" data-granule=\"" << Hex(strip.granule)
           << "\">\n";
  for (size_t k = 0; k < strip.cells.size(); ++k) {
    const StripCell& c = strip.cells[k];
    const double x = kStripX + kCellW * static_cast<double>(k % kStripColumns);
    const double y = kStripTop + kCellH * static_cast<double>(k / kStripColumns);
    std::string f = "#FFFFFF", label = "-";
    if (c.kind == StripCell::Kind::Channel) {
      f = kChannelColours[ch.colour.at(c.fabricId) % 8];
      label = ch.ShortName(c);
    } else if (c.kind == StripCell::Kind::Hole) {
      f = kHole;
      label = "MMIO";
    }
    svg.Rect(x, y, kCellW, kCellH, f,
             "stroke=\"#FFFFFF\" stroke-width=\"1\" data-address=\"" + Hex(c.address) + "\"");
    svg.Text(x + kCellW / 2, y + kCellH / 2 + 3.5, label, Font(9.5, TextOn(f)), "middle");
  }
  svg.body << "</g>\n";
}

// Offsets from the map's base: of each column on top, of each row on the
// left. Returns the grid's bottom.
double DrawStripOffsets(Svg& svg, const Strip& strip) {
  for (unsigned col = 0; col < kStripColumns; ++col)
    svg.Text(kStripX + kCellW * (col + 0.5), kStripTop - 5, "+" + Hex(strip.granule * col),
             Font(9, kMuted, false, true), "middle");
  const size_t rows = (strip.cells.size() + kStripColumns - 1) / kStripColumns;
  for (size_t r = 0; r < rows; ++r)
    svg.Text(kStripX - 5, kStripTop + kCellH * static_cast<double>(r) + kCellH / 2 + 3.5,
             "+" + Hex(strip.granule * kStripColumns * r), Font(9, kMuted, false, true), "end");
  const double bottom = kStripTop + kCellH * static_cast<double>(rows);
  svg.Text(kStripTextX, bottom + 18,
           "offsets from the map's base " + Hex(strip.base) + "; a row is " +
               SizeText(strip.granule * kStripColumns),
           Font(10.5, kMuted));
  return bottom;
}

// The strip's legend, one line per channel; returns where it ends.
double DrawStripLegend(Svg& svg, const StripChannels& ch, double ly) {
  for (const auto& [id, idx] : ch.colour) {
    const StripCell& c = *ch.owners.at(id);
    char name[112];
    if (c.listed)
      std::snprintf(name, sizeof name, "%s = socket %u, die %u, channel %u (csFabricId 0x%X)",
                    ch.ShortName(c).c_str(), c.socket, c.die, c.channel, id);
    else
      std::snprintf(name, sizeof name, "%s = socket %u, die %u, channel %u (no such channel)",
                    ch.ShortName(c).c_str(), c.socket, c.die, c.channel);
    char sid[48];
    std::snprintf(sid, sizeof sid, "id=\"legend-channel-%X\"", id);
    svg.Rect(kStripTextX, ly - 10, 12, 12, kChannelColours[idx % 8], sid);
    svg.Text(kStripTextX + 18, ly, name, Font(11.5));
    ly += 17;
  }
  return ly;
}

// The interleave strip; returns its bottom (kStripTop without one).
double DrawStrip(Svg& svg, const Strip* strip) {
  if (strip == nullptr || strip->cells.empty()) return kStripTop;
  const uint64_t span = strip->granule * strip->cells.size();
  svg.Text(kStripTextX, kStripTop - 66,
           "Interleave of map " + std::to_string(strip->map) + ": its first " + SizeText(span),
           Font(13, kInk, true));
  svg.Text(kStripTextX, kStripTop - 49,
           "one cell per " + SizeText(strip->granule) +
               " granule, coloured by the channel that serves it;",
           Font(11.5, kMuted));
  svg.Text(kStripTextX, kStripTop - 34, "each granule translated by TranslationProtocol slot 2",
           Font(11.5, kMuted));
  const StripChannels channels(*strip);
  DrawStripCells(svg, *strip, channels);
  const double gridBottom = DrawStripOffsets(svg, *strip);
  return DrawStripLegend(svg, channels, gridBottom + 40);
}

// The colour legend below the bar and the labels; returns where the next
// line goes.
double DrawLegend(Svg& svg, const AddressMap& am, const Bar& bar, const Fills& fills,
                  double legendY) {
  svg.Text(40, legendY, "Colours:", Font(12, kInk, true));
  double lx = 110;
  auto swatch = [&](const std::string& id, const std::string& f, const std::string& text,
                    const std::string& extra = "") {
    const double w = 16 + 8 + text.size() * 7.0 + 18;
    if (lx + w > kWidth - 20) {
      lx = 110;
      legendY += 22;
    }
    svg.Rect(lx, legendY - 12, 16, 16, f,
             "id=\"" + id + "\" stroke=\"" + std::string(kInk) + "\" stroke-width=\"0.5\"" +
                 (extra.empty() ? "" : " " + extra));
    svg.Text(lx + 22, legendY + 1, text, Font(12));
    lx += w;
  };
  for (const auto& [s, d] : fills.legendSd)
    swatch("legend-s" + std::to_string(s) + "d" + std::to_string(d), SocketDieColour(s, d),
           "socket " + std::to_string(s) + " die " + std::to_string(d));
  if (bar.HasHole(am)) swatch("legend-hole", kHole, "MMIO hole");
  bool gaps = false, overlaps = false;
  for (const Finding& f : am.findings) {
    gaps = gaps || f.kind == FindingKind::Gap;
    overlaps = overlaps || f.kind == FindingKind::Overlap;
  }
  if (gaps) swatch("legend-gap", "#FFFFFF", "gap (in no map)", "stroke-dasharray=\"4 3\"");
  if (overlaps) swatch("legend-overlap", "url(#overlap-hatch)", "overlap (first map wins)");
  bool broken = false;
  for (const Piece& p : bar.pieces) broken = broken || p.broken;
  double y = legendY + 24;
  if (broken) {
    svg.Text(110, y, "Ranges with a break are longer than drawn; all others are to scale.",
             Font(11.5, kMuted));
    y += 18;
  }
  return y;
}

// The consistency check's findings (at most twelve; the table lists them
// all); returns where the picture ends.
double DrawFindings(Svg& svg, const AddressMap& am, double y) {
  if (am.findings.empty()) {
    svg.Text(40, y + 8,
             "Consistency check: no overlaps, no gaps, every channel has a map and every map its "
             "channels.",
             Font(12, "#2E7D32"));
    return y + 26;
  }
  svg.Text(40, y + 8,
           "Consistency check: " + std::to_string(am.findings.size()) +
               (am.findings.size() == 1 ? " finding" : " findings"),
           Font(12.5, kProblem, true));
  y += 26;
  constexpr size_t kShown = 12;
  for (size_t i = 0; i < am.findings.size() && i < kShown; ++i) {
    const Finding& f = am.findings[i];
    svg.Text(56, y, std::string(FindingName(f.kind)) + ": " + f.text, Font(11, kProblem));
    y += 16;
  }
  if (am.findings.size() > kShown) {
    svg.Text(56, y,
             "... and " + std::to_string(am.findings.size() - kShown) +
                 " more: platsim map lists them all",
             Font(11, kProblem));
    y += 16;
  }
  return y;
}

// The platform's line in at most two lines of the picture's width, broken
// at blanks; what does not fit ends in "...". The full line is the
// document's <desc>.
std::vector<std::string> PlatformLines(const std::string& line) {
  constexpr size_t kMax = 160;  // characters of 11 px across the picture
  std::vector<std::string> lines(1);
  size_t at = 0;
  while (at < line.size()) {
    size_t end = line.find(' ', at);
    if (end == std::string::npos) end = line.size();
    const std::string word = line.substr(at, end - at);
    std::string& last = lines.back();
    if (!last.empty() && last.size() + 1 + word.size() > kMax) {
      if (lines.size() == 2) {
        last = last.substr(0, kMax - 3) + "...";
        return lines;
      }
      lines.push_back(word);
    } else {
      last += (last.empty() ? "" : " ") + word;
    }
    at = end + 1;
  }
  if (lines.back().size() > kMax) lines.back() = lines.back().substr(0, kMax - 3) + "...";
  return lines;
}

// The document around the drawn parts: size, title, defs, the caption and
// the platform.
std::string Document(const AddressMap& am, const Svg& svg, double height, const std::string& title,
                     const std::string& platform) {
  std::ostringstream out;
  out << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
      << "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" << Num(kWidth) << "\" height=\""
      << Num(height) << "\" viewBox=\"0 0 " << Num(kWidth) << " " << Num(height) << "\">\n"
      << "<title>" << tools::XmlEscape(title) << "</title>\n"
      << "<desc>" << tools::XmlEscape(platform) << "</desc>\n"
      << "<defs>\n"
      << svg.defs.str() << "</defs>\n"
      << "<rect width=\"100%\" height=\"100%\" fill=\"#FFFFFF\"/>\n"
      << "<text x=\"40\" y=\"34\" " << Font(18, kInk, true) << ">" << tools::XmlEscape(title)
      << "</text>\n"
      << "<text x=\"40\" y=\"56\" " << Font(12, kMuted) << ">"
      << tools::XmlEscape(std::to_string(am.maps.size()) +
                          (am.maps.size() == 1 ? " DRAM address map, " : " DRAM address maps, ") +
                          std::to_string(am.channels.size()) +
                          (am.channels.size() == 1 ? " channel; maps" : " channels; maps") +
                          " in the order checkDramHit " +
                          "searches them, coloured by the socket and die they serve")
      << "</text>\n"
      << "<text id=\"platform\" x=\"40\" y=\"74\" " << Font(11, kMuted) << ">";
  double y = 74;
  for (const std::string& line : PlatformLines(platform)) {
    out << "<tspan x=\"40\" y=\"" << Num(y) << "\">" << tools::XmlEscape(line) << "</tspan>";
    y += 15;
  }
  out << "</text>\n" << svg.body.str() << "</svg>\n";
  return out.str();
}

}  // namespace

std::string RenderSvg(const AddressMap& am, const Strip* strip, const std::string& title,
                      const std::string& platform) {
  Svg svg;
  const Bar bar = LayOutBar(am);
  const Fills fills = MapFills(am, svg);
  DrawBar(svg, bar, fills);
  DrawMapNames(svg, am, bar, fills);
  DrawAddresses(svg, bar);
  const double labelsBottom = DrawLabels(svg, Labels(am, bar, fills));
  const double stripBottom = DrawStrip(svg, strip);
  const double legendEnd = DrawLegend(svg, am, bar, fills, std::max(bar.bottom, labelsBottom) + 34);
  const double end = DrawFindings(svg, am, legendEnd);
  return Document(am, svg, std::ceil(std::max(end, stripBottom) + 16), title, platform);
}

}  // namespace platsim::addrmap
