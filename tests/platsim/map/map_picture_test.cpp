// platsim map --svg as a person sees it: rendered to PNG by rsvg-convert, the
// image has the size the SVG declares, and pixels at positions computed from
// system addresses have the colour of the map (or the hole) that is there, as
// the picture's own legend shows it. The interleave strip shows the channel
// that the hashed interleave gives each granule.
#include "tests/platsim/map/map_test_support.h"

#include <unistd.h>

namespace {

using maptest::Num;

// The colour of a legend swatch, sampled in its middle.
uint32_t Swatch(const maptest::Picture& p, const std::string& id) {
  const std::string sel = "id=\"" + id + "\"";
  return p.png.At(Num(p.svg, sel, "x") + Num(p.svg, sel, "width") / 2,
                  Num(p.svg, sel, "y") + Num(p.svg, sel, "height") / 2);
}

class PlatsimMapPicture : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(access(maptest::Platsim().c_str(), X_OK), 0) << "platsim not built";
  }
};

uint32_t Bit(uint64_t a, unsigned n) {
  return (a >> n) & 1;
}

TEST_F(PlatsimMapPicture, DefaultPlatformRendersToScaleWithItsColours) {
  const maptest::Picture p = maptest::Draw("default", "");
  ASSERT_FALSE(p.svg.empty()) << p.log;
  const std::string svgTag = "xmlns=\"http://www.w3.org/2000/svg\"";
  EXPECT_EQ(p.png.width, Num(p.svg, svgTag, "width"));
  EXPECT_EQ(p.png.height, Num(p.svg, svgTag, "height"));
  EXPECT_EQ(p.svg.find("class=\"break\""), std::string::npos) << "the default map needs no break";

  // Four 16 GiB maps and the 1 GiB hole: 65 GiB from the top of the bar to
  // its bottom, to scale. Samples stay clear of the map names in the middle.
  const std::string bar = "id=\"address-bar\"";
  const double top = Num(p.svg, bar, "data-top"), bottom = Num(p.svg, bar, "data-bottom");
  const double x = Num(p.svg, bar, "data-x") + 8;
  const auto y = [&](double gib) { return top + (bottom - top) * gib / 65.0; };
  const struct {
    double gib;
    const char* legend;
  } samples[] = {{1, "legend-s0d0"},  {3.5, "legend-hole"}, {10, "legend-s0d0"},
                 {25, "legend-s0d1"}, {41, "legend-s1d0"},  {57, "legend-s1d1"}};
  for (const auto& s : samples)
    EXPECT_EQ(p.png.At(x, y(s.gib)), Swatch(p, s.legend)) << s.gib << " GiB, " << s.legend;
  const char* const legends[] = {"legend-s0d0", "legend-s0d1", "legend-s1d0", "legend-s1d1",
                                 "legend-hole"};
  for (const char* a : legends) {
    for (const char* b : legends) {
      if (a == b) continue;
      EXPECT_NE(Swatch(p, a), Swatch(p, b)) << a << " " << b;
    }
  }

  // The strip: map 0 from 0, 256-byte granules. Four hashed channels from
  // bit 8: channel bit 0 = A[8] ^ hashTerm14, bit 1 = A[12] ^ hashTerm12,
  // every hash term enabled.
  const std::string strip = "id=\"strip\"";
  ASSERT_EQ(maptest::Attr(p.svg, strip, "data-granule"), "0x100");
  const double sx = Num(p.svg, strip, "data-x"), sy = Num(p.svg, strip, "data-y");
  const double cw = Num(p.svg, strip, "data-cell-width"),
               ch = Num(p.svg, strip, "data-cell-height");
  const unsigned cols = static_cast<unsigned>(Num(p.svg, strip, "data-columns"));
  ASSERT_GT(cols, 0u);
  unsigned seen[4] = {};
  for (unsigned k = 0; k < 256; ++k) {
    const uint64_t a = 0x100ULL * k;
    const uint32_t h14 = Bit(a, 14) ^ Bit(a, 18) ^ Bit(a, 23) ^ Bit(a, 32);
    const uint32_t h12 = Bit(a, 12) ^ Bit(a, 16) ^ Bit(a, 21) ^ Bit(a, 30);
    const uint32_t channel = (Bit(a, 8) ^ h14) + 2 * h12;
    ++seen[channel];
    // A corner of the cell: its name is written in the middle.
    const uint32_t got = p.png.At(sx + cw * (k % cols) + 3, sy + ch * (k / cols) + 3);
    EXPECT_EQ(got, Swatch(p, "legend-channel-" + std::to_string(channel))) << "granule " << k;
  }
  for (unsigned c = 0; c < 4; ++c) EXPECT_EQ(seen[c], 64u);
}

TEST_F(PlatsimMapPicture, LongRangeIsBrokenAndTheRestStaysToScale) {
  // One die, two channels of 512 GiB: a 1025 GiB map with the 1 GiB hole at 3 GiB.
  const std::string profile = maptest::WriteFile(
      "big.json",
      R"({"topology": {"sockets": 1, "diesPerSocket": 1, "channelsPerDie": 2, "channels": 2,
          "channelSize": "0x8000000000"}})");
  const maptest::Picture p = maptest::Draw("big", "--profile " + profile);
  ASSERT_FALSE(p.svg.empty()) << p.log;
  EXPECT_NE(p.svg.find("class=\"break\""), std::string::npos);
  const std::string below = "class=\"piece map\" data-map=\"0\" data-from=\"0x0\"";
  const std::string hole = "class=\"piece hole\"";
  const double belowH = Num(p.svg, below, "height"), holeH = Num(p.svg, hole, "height");
  EXPECT_NEAR(belowH / holeH, 3.0, 0.05);  // [0, 3 GiB) against [3 GiB, 4 GiB)
  const double x = Num(p.svg, hole, "x") + 8;
  EXPECT_EQ(p.png.At(x, Num(p.svg, hole, "y") + holeH / 2), Swatch(p, "legend-hole"));
  EXPECT_EQ(p.png.At(x, Num(p.svg, below, "y") + belowH / 2), Swatch(p, "legend-s0d0"));
}

}  // namespace
