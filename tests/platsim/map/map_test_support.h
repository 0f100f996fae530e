// What the platsim map tests share: running platsim, writing profiles, and
// reading the picture back (SVG element attributes, PNG pixels).
#pragma once

#include "tests/platsim/platsim_run.h"

#include <gtest/gtest.h>
#include <png.h>

#include <cstdint>
#include <cstdio>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

namespace maptest {

using platsim_test::ExecJoined;
using platsim_test::Platsim;
using platsim_test::Shell;

inline std::string TempPath(const std::string& name) {
  return std::string(TIV_BINARY_DIR) + "/tests/map-" + name;
}

inline std::string WriteFile(const std::string& name, const std::string& text) {
  const std::string path = TempPath(name);
  std::ofstream(path) << text;
  return path;
}

inline std::string ReadFile(const std::string& path) {
  std::ifstream f(path);
  std::stringstream s;
  s << f.rdbuf();
  return s.str();
}

// The attribute `name` of the first element whose id (or other attribute
// text) matches `selector`, e.g. Attr(svg, "id=\"strip\"", "data-x").
inline std::string Attr(const std::string& svg, const std::string& selector,
                        const std::string& name) {
  const size_t at = svg.find(selector);
  if (at == std::string::npos) return "";
  const size_t open = svg.rfind('<', at);
  const size_t close = svg.find('>', at);
  const std::string tag = svg.substr(open, close - open);
  std::smatch m;
  if (!std::regex_search(tag, m, std::regex("\\s" + name + "=\"([^\"]*)\""))) return "";
  return m[1];
}

inline double Num(const std::string& svg, const std::string& selector, const std::string& name) {
  const std::string v = Attr(svg, selector, name);
  EXPECT_FALSE(v.empty()) << selector << " " << name;
  return v.empty() ? 0 : std::stod(v);
}

struct Image {
  unsigned width = 0, height = 0;
  std::vector<uint8_t> rgba;
  // 0xRRGGBB of the pixel at (x, y), rounded down to whole pixels.
  uint32_t At(double x, double y) const {
    const unsigned px = static_cast<unsigned>(x), py = static_cast<unsigned>(y);
    if (px >= width || py >= height) return 0xFFFFFFFF;
    const uint8_t* p = &rgba[(static_cast<size_t>(py) * width + px) * 4];
    return (uint32_t{p[0]} << 16) | (uint32_t{p[1]} << 8) | p[2];
  }
};

inline bool ReadPng(const std::string& path, Image* out) {
  png_image img{};
  img.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_file(&img, path.c_str())) return false;
  img.format = PNG_FORMAT_RGBA;
  out->rgba.resize(PNG_IMAGE_SIZE(img));
  if (!png_image_finish_read(&img, nullptr, out->rgba.data(), 0, nullptr)) return false;
  out->width = img.width;
  out->height = img.height;
  return true;
}

// Draws the address map of `profileArgs` ("" or "--profile F"), renders it
// with rsvg-convert and reads both back.
struct Picture {
  std::string svg;
  Image png;
  std::string log;
};

inline Picture Draw(const std::string& name, const std::string& profileArgs) {
  Picture p;
  const std::string svg = TempPath(name + ".svg"), png = TempPath(name + ".png");
  std::remove(png.c_str());
  const platsim_test::Run map = ExecJoined(profileArgs + " map --svg " + svg);
  const platsim_test::Run render = Shell("rsvg-convert -o " + png + " " + svg + " 2>&1");
  p.log = map.out + render.out;
  EXPECT_EQ(render.exit, 0) << "the renderer refused the picture: " << render.out;
  p.svg = ReadFile(svg);
  EXPECT_TRUE(ReadPng(png, &p.png)) << png;
  return p;
}

}  // namespace maptest
