// The platform a command runs on: the profile named by --profile ("-":
// standard input), or the built-in default platform.
#pragma once

#include "sim/platform/platform.h"
#include "sim/profile/profile.h"
#include "tools/platsim/cli/options.h"

#include <string>

namespace platsim {

// Loads the profile into `platform`. A profile on standard input is read once
// and kept: the commands that load the platform more than once (the log
// readers, then the translations) all get the same profile.
void LoadPlatform(const GlobalOptions& opts, sim::Platform& platform);

// Which platform translations are made on, said the same way by every
// command that shows a translation: an address logged on one machine means
// something else on another, and without --profile the platform is the
// built-in example.
struct TranslationPlatform {
  bool builtIn = true;
  // What the platform is, as a noun phrase: "the built-in example platform",
  // "profile FILE", or "profile FILE, captured by TivTool 0.2.0 from the UEFI
  // shell at 2026-12-10T11:55:00 (firmware EDK II 0x00010000, CPUID signature
  // 0x00A00F11)" with what the profile's "captured" section says.
  std::string description;
  // The line of text output that names it: "platform: " + description.
  std::string line;
  // For a translation's own line (decode): "on the built-in example platform
  // (not the machine that logged this record; give --profile)", or "on the
  // platform of profile FILE".
  std::string phrase;
  // The same for standard error, once a command (empty with a profile): "note:
  // addresses are translated on the built-in example platform (...)".
  std::string warning;
  // {"profile": "built-in" or the file, "text": phrase, "description":
  // description, "captured": the profile's "captured" section when it has one}
  sim::profile::Json json;
};
// Of the platform loaded from opts' profile.
TranslationPlatform PlatformBehindTranslation(const GlobalOptions& opts, sim::Platform& loaded);
// Loads the profile to see its "captured" section.
TranslationPlatform PlatformBehindTranslation(const GlobalOptions& opts);

// The description of a platform from its profile's name ("" for the built-in
// one) and "captured" section (null when there is none).
std::string PlatformDescription(const std::string& profile, const sim::profile::Json& captured);

}  // namespace platsim
