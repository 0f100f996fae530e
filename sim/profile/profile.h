// Platform profiles: JSON descriptions of a simulated platform. Each top-level
// key is a section with its own loader; a wrong key or value is an error that
// names its JSON path, and nothing is silently ignored.
#pragma once

#include "sim/platform/platform.h"

#include "tools/common/hex_text.h"

#include <nlohmann/json.hpp>

#include <cstdint>
#include <initializer_list>
#include <stdexcept>
#include <string>

namespace sim::profile {

using Json = nlohmann::ordered_json;

struct ProfileError : std::runtime_error {
  ProfileError(const std::string& path, const std::string& what)
      : std::runtime_error(path + ": " + what), path(path) {}
  std::string path;
};

// A JSON library error inside a section loader: the loader used a value it
// had not checked. Reported like any ProfileError, at the section's path; the
// profile fuzz target treats it as the loader fault it is.
struct UncheckedValueError : ProfileError {
  using ProfileError::ProfileError;
};

// A number written as a JSON integer or as a string ("0x1F", "31"), at most
// `max`.
uint64_t Number(const Json& v, const std::string& path, uint64_t max = UINT64_MAX);
// "0x..." text for dumps.
using tools::Hex;
// Throws unless `v` is an object whose keys are all in `allowed`.
void CheckKeys(const Json& v, const std::string& path, std::initializer_list<const char*> allowed);
// The member `key` of object `v`, or throws naming the path when it is absent.
const Json& Required(const Json& v, const std::string& path, const char* key);

struct Section {
  const char* key;
  // Applies the section to the platform (sections load in table order).
  void (*load)(const Json& section, const std::string& path, Platform& platform);
  // The section as the platform now holds it (expanded), or null to omit it.
  Json (*dump)(Platform& platform);
  // The section of the built-in default platform, or null to omit it.
  Json (*defaults)();
};

// The sections known to this build, in load order.
const Section* Sections();
size_t SectionCount();

// Parses JSON text. Text that is not JSON (named by `name`, with its line and
// column), a number too large for the parser (at its JSON path, or "$" for a
// lone number), and an object that holds the same key twice (where one of the
// two would be ignored) are ProfileErrors.
Json Parse(const std::string& text, const std::string& name);

// Loads a whole profile into `platform`.
void Load(const Json& profile, Platform& platform);
void LoadFile(const std::string& file, Platform& platform);
// The built-in default platform's profile.
Json Default();
// The expanded profile of what `platform` holds.
Json Dump(Platform& platform);

}  // namespace sim::profile
