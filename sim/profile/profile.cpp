#include "sim/profile/profile.h"

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace sim::profile {

uint64_t Number(const Json& v, const std::string& path, uint64_t max) {
  uint64_t n = 0;
  if (v.is_number_unsigned()) {
    n = v.get<uint64_t>();
  } else if (v.is_number_integer()) {
    if (v.get<int64_t>() < 0) throw ProfileError(path, "negative number");
    n = static_cast<uint64_t>(v.get<int64_t>());
  } else if (v.is_string()) {
    const std::string s = v.get<std::string>();
    if (s.empty()) throw ProfileError(path, "empty string where a number belongs");
    errno = 0;
    char* end = nullptr;
    const bool hex = s.size() > 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X');
    if (s[0] == '-' || s[0] == '+' || s[0] == ' ')
      throw ProfileError(path, "not a number: \"" + s + "\"");
    n = std::strtoull(s.c_str(), &end, hex ? 16 : 10);
    if (errno == ERANGE) throw ProfileError(path, "number out of range: \"" + s + "\"");
    if (end == s.c_str() + (hex ? 2 : 0) || *end != '\0')
      throw ProfileError(path, "not a number: \"" + s + "\"");
  } else if (v.is_number_float()) {
    throw ProfileError(path, "expected a whole number of at most 64 bits, found " + v.dump());
  } else {
    throw ProfileError(path,
                       "expected a number (or a hex string), found " + std::string(v.type_name()));
  }
  if (n > max) throw ProfileError(path, "value " + Hex(n) + " above the maximum " + Hex(max));
  return n;
}

void CheckKeys(const Json& v, const std::string& path, std::initializer_list<const char*> allowed) {
  if (!v.is_object())
    throw ProfileError(path, "expected an object, found " + std::string(v.type_name()));
  for (auto it = v.begin(); it != v.end(); ++it) {
    bool ok = false;
    for (const char* a : allowed) ok = ok || it.key() == a;
    if (!ok) {
      std::string list;
      for (const char* a : allowed) list += std::string(list.empty() ? "" : ", ") + a;
      throw ProfileError(path + "." + it.key(), "unknown key (expected one of: " + list + ")");
    }
  }
}

const Json& Required(const Json& v, const std::string& path, const char* key) {
  auto it = v.find(key);
  if (it == v.end()) throw ProfileError(path + "." + key, "missing");
  return *it;
}

void Load(const Json& profile, Platform& platform) {
  if (!profile.is_object()) throw ProfileError("$", "a profile is a JSON object");
  for (auto it = profile.begin(); it != profile.end(); ++it) {
    bool known = false;
    for (size_t i = 0; i < SectionCount(); ++i) known = known || it.key() == Sections()[i].key;
    if (!known) throw ProfileError("$." + it.key(), "unknown section");
  }
  for (size_t i = 0; i < SectionCount(); ++i) {
    const Section& s = Sections()[i];
    auto it = profile.find(s.key);
    if (it == profile.end()) continue;
    const std::string path = std::string("$.") + s.key;
    try {
      s.load(*it, path, platform);
    } catch (const nlohmann::json::exception& e) {
      throw UncheckedValueError(path,
                                std::string("a value the loader did not expect: ") + e.what());
    }
  }
}

void LoadFile(const std::string& file, Platform& platform) {
  std::ifstream in(file, std::ios::binary);
  if (!in) throw ProfileError(file, "cannot open the profile");
  std::ostringstream text;
  text << in.rdbuf();
  Load(Parse(text.str(), file), platform);
}

Json Default() {
  Json j = Json::object();
  for (size_t i = 0; i < SectionCount(); ++i) {
    const Section& s = Sections()[i];
    if (s.defaults) j[s.key] = s.defaults();
  }
  return j;
}

Json Dump(Platform& platform) {
  Json j = Json::object();
  for (size_t i = 0; i < SectionCount(); ++i) {
    const Section& s = Sections()[i];
    if (!s.dump) continue;
    Json d = s.dump(platform);
    if (!d.is_null()) j[s.key] = std::move(d);
  }
  return j;
}

}  // namespace sim::profile
