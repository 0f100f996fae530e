#include "tools/fvtool/edk2_files.h"

#include "tools/fvtool/errors.h"

#include <algorithm>
#include <cctype>
#include <fstream>
#include <map>
#include <vector>

namespace fvtool {

namespace {

std::string Trim(std::string_view s) {
  std::size_t b = 0, e = s.size();
  while (b < e && std::isspace(static_cast<unsigned char>(s[b]))) ++b;
  while (e > b && std::isspace(static_cast<unsigned char>(s[e - 1]))) --e;
  return std::string(s.substr(b, e - b));
}

std::string Upper(std::string s) {
  std::transform(s.begin(), s.end(), s.begin(),
                 [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
  return s;
}

std::vector<std::string> Split(std::string_view s, char sep) {
  std::vector<std::string> parts;
  while (true) {
    const std::size_t at = s.find(sep);
    parts.push_back(Trim(s.substr(0, at)));
    if (at == std::string_view::npos) return parts;
    s.remove_prefix(at + 1);
  }
}

// One line of an EDK II metadata file, comment removed, with its number.
struct Line {
  std::size_t number;
  std::string text;
};

std::vector<Line> ReadLines(const std::string& path, const char* what) {
  std::ifstream in(path);
  if (!in) throw InputError(std::string("cannot read ") + what + " '" + path + "'");
  std::vector<Line> lines;
  std::string raw;
  for (std::size_t n = 1; std::getline(in, raw); ++n) {
    std::string text = Trim(raw.substr(0, raw.find('#')));
    if (!text.empty()) lines.push_back({n, std::move(text)});
  }
  return lines;
}

// "[Depex.X64.DXE_DRIVER, Depex.IA32]" -> each item split at '.', upper case.
std::vector<std::vector<std::string>> SectionItems(const std::string& header) {
  std::vector<std::vector<std::string>> items;
  for (const std::string& item : Split(header.substr(1, header.size() - 2), ','))
    items.push_back(Split(Upper(item), '.'));
  return items;
}

bool IsCName(const std::string& s) {
  if (s.empty() || std::isdigit(static_cast<unsigned char>(s[0]))) return false;
  return std::all_of(s.begin(), s.end(),
                     [](unsigned char c) { return std::isalnum(c) || c == '_'; });
}

}  // namespace

const GuidNames& StandardGuidNames() {
  static const GuidNames kNames = [] {
    GuidNames n;
    auto add = [&n](const char* name, const char* guid) { n[name] = *ParseRegistryGuid(guid); };
    add("gEfiMpServiceProtocolGuid", "3FDDA605-A76E-4F46-AD29-12F4531B3D08");
    add("gEfiAcpiTableProtocolGuid", "FFE06BDD-6107-46A6-7BB2-5A9C7EC5275C");
    add("gEfiAcpiSdtProtocolGuid", "EB97088E-CFDF-49C6-BE4B-D906A5B20E86");
    add("gEfiSmmBase2ProtocolGuid", "F4CCBFB7-F6E0-47FD-9DD4-10A8F150C191");
    add("gEfiSmmAccess2ProtocolGuid", "C2702B74-800C-4131-8746-8FB5B89CE4AC");
    add("gEfiSmmVariableProtocolGuid", "ED32D533-99E6-4209-9CC0-2D72CDD998A7");
    add("gEfiHobListGuid", "7739F24C-93D7-11D4-9A3A-0090273FC14D");
    return n;
  }();
  return kNames;
}

GuidNames ReadDec(const std::string& path) {
  static const std::vector<std::string> kGuidSections = {"GUIDS", "PROTOCOLS", "PPIS"};
  GuidNames names;
  bool inGuids = false;
  for (const Line& line : ReadLines(path, "DEC file")) {
    const std::string where = path + ":" + std::to_string(line.number);
    if (line.text.front() == '[') {
      if (line.text.back() != ']') throw InputError(where + ": malformed section header");
      inGuids = false;
      for (const auto& item : SectionItems(line.text))
        if (std::find(kGuidSections.begin(), kGuidSections.end(), item[0]) != kGuidSections.end())
          inGuids = true;
      continue;
    }
    if (!inGuids) continue;
    const std::size_t eq = line.text.find('=');
    const std::string name = Trim(line.text.substr(0, eq));
    if (eq == std::string::npos || !IsCName(name))
      throw InputError(where + ": expected 'gName = {GUID}'");
    const std::string value = Trim(line.text.substr(eq + 1));
    std::optional<Guid> guid = ParseCGuid(value);
    if (!guid) guid = ParseRegistryGuid(value);
    if (!guid) throw InputError(where + ": " + name + " has a malformed GUID '" + value + "'");
    if (!names.emplace(name, *guid).second)
      throw InputError(where + ": " + name + " is declared twice");
  }
  return names;
}

GuidNames ResolveGuidNames(const std::vector<std::string>& decPaths) {
  GuidNames names = StandardGuidNames();
  std::map<std::string, std::string, std::less<>> declaredBy;
  for (const std::string& path : decPaths) {
    for (const auto& [name, guid] : ReadDec(path)) {
      const auto earlier = declaredBy.find(name);
      if (earlier != declaredBy.end() && names[name] != guid)
        throw InputError(path + ": " + name + " = " + guid.Text() + ", but " + earlier->second +
                         " declares it " + names[name].Text());
      declaredBy[name] = path;
      names[name] = guid;
    }
  }
  return names;
}

InfModule ReadInf(const std::string& path) {
  InfModule m;
  m.path = path;
  enum class In { kOther, kDefines, kDepex, kPackages, kGuids } in = In::kOther;
  struct DepexSection {
    std::string moduleType;  // empty: any
    std::string text;
    std::size_t line;
  };
  std::vector<DepexSection> depex;
  for (const Line& line : ReadLines(path, "INF file")) {
    const std::string where = path + ":" + std::to_string(line.number);
    if (line.text.front() == '[') {
      if (line.text.back() != ']') throw InputError(where + ": malformed section header");
      in = In::kOther;
      for (const auto& item : SectionItems(line.text)) {
        if (item[0] == "DEFINES") in = In::kDefines;
        if (item[0] == "PACKAGES") in = In::kPackages;
        if (item[0] == "PROTOCOLS" || item[0] == "GUIDS" || item[0] == "PPIS") in = In::kGuids;
        if (item[0] != "DEPEX") continue;
        const std::string arch = item.size() > 1 ? item[1] : "COMMON";
        if (arch != "COMMON" && arch != "X64") continue;
        in = In::kDepex;
        depex.push_back({item.size() > 2 ? item[2] : "", "", line.number});
      }
      continue;
    }
    if (in == In::kDepex) {
      depex.back().text += (depex.back().text.empty() ? "" : " ") + line.text;
    } else if (in == In::kPackages) {
      m.packages.push_back(line.text);
    } else if (in == In::kGuids) {
      // "gName", "gName | FeatureFlag", "gName  ## usage" (the comment is gone)
      const std::string name = Trim(line.text.substr(0, line.text.find('|')));
      if (!IsCName(name))
        throw InputError(where + ": expected a GUID C name, found '" + name + "'");
      if (std::find(m.guids.begin(), m.guids.end(), name) == m.guids.end()) m.guids.push_back(name);
    } else if (in == In::kDefines) {
      const std::size_t eq = line.text.find('=');
      if (eq == std::string::npos) throw InputError(where + ": expected 'NAME = value'");
      const std::string key = Trim(line.text.substr(0, eq));
      const std::string value = Trim(line.text.substr(eq + 1));
      if (key == "BASE_NAME") m.baseName = value;
      if (key == "MODULE_TYPE") m.moduleType = value;
      if (key == "FILE_GUID") {
        m.fileGuid = ParseRegistryGuid(value);
        if (!m.fileGuid) throw InputError(where + ": FILE_GUID '" + value + "' is not a GUID");
      }
    }
  }
  const DepexSection* chosen = nullptr;
  for (const DepexSection& d : depex) {
    if (!d.moduleType.empty() && d.moduleType != Upper(m.moduleType)) continue;
    if (chosen != nullptr)
      throw InputError(path + ":" + std::to_string(d.line) + ": a second [Depex] section for " +
                       (m.moduleType.empty() ? std::string("this module") : m.moduleType) +
                       " (the first is at line " + std::to_string(chosen->line) + ")");
    chosen = &d;
  }
  if (chosen != nullptr) m.depex = chosen->text;
  return m;
}

}  // namespace fvtool
