#include "tools/platsim/cli/platform_load.h"

#include "sim/profile/captured_section.h"
#include "sim/profile/profile.h"
#include "tools/common/input_file.h"

#include <optional>

namespace platsim {

void LoadPlatform(const GlobalOptions& opts, sim::Platform& platform) {
  if (opts.profile.empty()) {
    sim::profile::Load(sim::profile::Default(), platform);
    return;
  }
  if (opts.profile == "-") {
    // Standard input can be read only once.
    static std::optional<std::string> text;
    if (!text) {
      const std::vector<uint8_t> bytes = tools::ReadInputBytes("-", "profile", "platsim");
      text.emplace(bytes.begin(), bytes.end());
    }
    sim::profile::Load(sim::profile::Parse(*text, "<stdin>"), platform);
    return;
  }
  const std::vector<uint8_t> bytes = tools::ReadInputBytes(opts.profile, "profile", "platsim");
  sim::profile::Load(sim::profile::Parse(std::string(bytes.begin(), bytes.end()), opts.profile),
                     platform);
}

namespace {

std::string Field(const sim::profile::Json& captured, const char* key) {
  auto it = captured.find(key);
  return it != captured.end() && it->is_string() ? it->get<std::string>() : std::string();
}

}  // namespace

std::string PlatformDescription(const std::string& profile, const sim::profile::Json& captured) {
  if (profile.empty()) return "the built-in example platform";
  std::string s = "profile " + profile;
  if (!captured.is_object()) return s;
  const std::string source = Field(captured, "source");
  const std::string by = Field(captured, "tool") + " " + Field(captured, "version");
  if (source == "uefi-shell") {
    s += ", captured by " + by + " from the UEFI shell";
  } else if (source == "linux-sysfs") {
    s += ", captured by " + by + " from Linux sysfs";
    if (const std::string host = Field(captured, "hostName"); !host.empty()) s += " on " + host;
  } else {
    s += ", simulated by " + by;
    const std::string from = Field(captured, "capturedFrom");
    if (from == "built-in")
      s += " from the built-in example platform";
    else if (!from.empty())
      s += " from profile " + from;
  }
  if (const std::string time = Field(captured, "time"); !time.empty()) s += " at " + time;
  std::string details;
  const auto add = [&details](const std::string& part) {
    details += (details.empty() ? "" : ", ") + part;
  };
  const std::string vendor = Field(captured, "firmwareVendor");
  const std::string revision = Field(captured, "firmwareRevision");
  if (!vendor.empty() || !revision.empty())
    add("firmware " + vendor + (vendor.empty() || revision.empty() ? "" : " ") + revision);
  if (const std::string cpuid = Field(captured, "cpuidSignature"); !cpuid.empty())
    add("CPUID signature " + cpuid);
  if (const std::string note = Field(captured, "note"); !note.empty()) add("note: " + note);
  if (!details.empty()) s += " (" + details + ")";
  return s;
}

TranslationPlatform PlatformBehindTranslation(const GlobalOptions& opts, sim::Platform& loaded) {
  TranslationPlatform p;
  p.builtIn = opts.profile.empty();
  const std::string name = opts.profile == "-" ? std::string("<stdin>") : opts.profile;
  const std::optional<sim::profile::Json>& captured = sim::profile::CapturedOf(loaded).section;
  p.description = PlatformDescription(name, captured ? *captured : sim::profile::Json());
  p.line = "platform: " + p.description;
  if (p.builtIn) {
    p.phrase =
        "on the built-in example platform (not the machine that logged this record; give "
        "--profile)";
    p.warning = "note: addresses are translated " + p.phrase;
  } else {
    p.phrase = "on the platform of profile " + name;
  }
  p.json = sim::profile::Json::object();
  p.json["profile"] = p.builtIn ? "built-in" : opts.profile;
  p.json["text"] = p.phrase;
  p.json["description"] = p.description;
  if (captured) p.json["captured"] = *captured;
  return p;
}

TranslationPlatform PlatformBehindTranslation(const GlobalOptions& opts) {
  sim::Platform platform;
  platform.trace.Enable(false);
  LoadPlatform(opts, platform);
  return PlatformBehindTranslation(opts, platform);
}

}  // namespace platsim
