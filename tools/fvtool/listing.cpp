#include "tools/fvtool/listing.h"

#include "tools/fvtool/errors.h"
#include "tools/fvtool/lzma_stream.h"

#include <cstdio>
#include <sstream>

namespace fvtool {

namespace {

using Json = nlohmann::ordered_json;

std::string TypeText(uint8_t type, const std::string& name) {
  char text[48];
  std::snprintf(text, sizeof text, "%s (0x%02X)", name.c_str(), type);
  return text;
}

std::string Format(const Volume& v) {
  if (!v.holdsFiles) return "file system " + v.fileSystem.Text();
  return v.ffs3 ? "FFS3" : "FFS2";
}

class TextLister {
 public:
  explicit TextLister(std::ostringstream& out) : out_(out) {}

  void Volume(const fvtool::Volume& v, int indent) {
    Line(indent) << v.Describe() << ": " << Hex(v.length) << " bytes, " << Format(v);
    if (v.holdsFiles) {
      out_ << ", " << v.files.size() << (v.files.size() == 1 ? " file" : " files") << ", free "
           << Hex(v.freeSize) << " bytes at " << Hex(v.freeOffset);
      if (!v.freeErased) out_ << " (not erased)";
    }
    out_ << "\n";
    for (const FfsFile& f : v.files) File(f, v.where, indent + 2);
  }

 private:
  std::ostringstream& Line(int indent) {
    out_ << std::string(static_cast<std::size_t>(indent), ' ');
    return out_;
  }

  void File(const FfsFile& f, const std::string& where, int indent) {
    char line[160];
    std::snprintf(line, sizeof line, "%-10s %-26s %s  %s", Hex(f.offset).c_str(),
                  TypeText(f.type, ffs::FileTypeName(f.type)).c_str(), f.name.Text().c_str(),
                  Hex(f.size).c_str());
    Line(indent) << line;
    if (!f.uiName.empty())
      out_ << std::string(Hex(f.size).size() < 9 ? 9 - Hex(f.size).size() : 1, ' ') << f.uiName;
    if (!f.dataChecksumOk) out_ << "  (file checksum wrong)";
    out_ << "\n";
    Sections(f.sections, where, indent + 2);
  }

  // Only what holds volumes or could not be opened: the rest is in --json.
  void Sections(const std::vector<Section>& sections, const std::string& where, int indent) {
    for (const Section& s : sections) {
      if (s.decoded) {
        Line(indent) << "LZMA section at " << Location(where, s.offset) << ": "
                     << Hex(s.size - s.dataOffset) << " bytes, " << Hex(s.decoded->size())
                     << " decompressed\n";
        Sections(s.children, s.decodedName, indent + 2);
      } else {
        Sections(s.children, where, indent);
      }
      if (!s.unopened.empty())
        Line(indent) << TypeText(s.type, ffs::SectionTypeName(s.type)) << " section at "
                     << Location(where, s.offset) << " not opened: " << s.unopened << "\n";
      for (const fvtool::Volume& v : s.volumes) Volume(v, indent);
    }
  }

  std::ostringstream& out_;
};

Json VolumeJson(const Volume& v);

Json SectionsJson(const std::vector<Section>& sections) {
  Json list = Json::array();
  for (const Section& s : sections) {
    Json j = {{"offset", s.offset},
              {"type", s.type},
              {"typeName", ffs::SectionTypeName(s.type)},
              {"size", s.size}};
    if (s.type == ffs::kSectionGuidDefined) j["guid"] = s.definitionGuid.Text();
    if (s.type == ffs::kSectionUserInterface) j["name"] = s.uiName;
    if (s.decoded) {
      j["compression"] = "LZMA";
      j["compressedSize"] = s.size - s.dataOffset;
      j["decompressedSize"] = s.decoded->size();
    }
    if (!s.unopened.empty()) j["unopened"] = s.unopened;
    if (!s.children.empty()) j["sections"] = SectionsJson(s.children);
    if (!s.volumes.empty()) j["volume"] = VolumeJson(s.volumes.front());
    list.push_back(std::move(j));
  }
  return list;
}

Json VolumeJson(const Volume& v) {
  Json files = Json::array();
  for (const FfsFile& f : v.files) {
    files.push_back({{"offset", f.offset},
                     {"type", f.type},
                     {"typeName", ffs::FileTypeName(f.type)},
                     {"guid", f.name.Text()},
                     {"size", f.size},
                     {"name", f.uiName.empty() ? Json(nullptr) : Json(f.uiName)},
                     {"checksumOk", f.dataChecksumOk},
                     {"sections", SectionsJson(f.sections)}});
  }
  return {{"in", v.where},
          {"offset", v.offset},
          {"size", v.length},
          {"name", v.name ? Json(v.name->Text()) : Json(nullptr)},
          {"fileSystem", v.fileSystem.Text()},
          {"format", v.holdsFiles ? Json(Format(v)) : Json(nullptr)},
          {"erasePolarity", v.EraseByte() == 0xFF ? 1 : 0},
          {"freeOffset", v.freeOffset},
          {"free", v.freeSize},
          {"freeErased", v.freeErased},
          {"files", std::move(files)}};
}

}  // namespace

std::string ListText(const FlashImage& image, std::size_t imageSize) {
  std::ostringstream out;
  out << Hex(imageSize) << " bytes, " << image.volumes.size()
      << (image.volumes.size() == 1 ? " volume" : " volumes");
  if (image.skippedCandidates != 0)
    out << " (" << image.skippedCandidates << " other \"_FVH\" signatures without a valid header)";
  out << "\n";
  TextLister lister(out);
  for (const Volume& v : image.volumes) lister.Volume(v, 0);
  return out.str();
}

nlohmann::ordered_json ListJson(const FlashImage& image, std::size_t imageSize) {
  Json volumes = Json::array();
  for (const Volume& v : image.volumes) volumes.push_back(VolumeJson(v));
  return {{"size", imageSize},
          {"skippedCandidates", image.skippedCandidates},
          {"volumes", std::move(volumes)}};
}

}  // namespace fvtool
