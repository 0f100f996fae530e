// platsim decode: the error records that real systems leave behind, decoded,
// with every physical address in them translated on the profile's platform.
//   platsim decode REGION                       (Linux: /sys/firmware/acpi/tables/data/BERT)
//   platsim decode BERT.dat --region REGION     (acpidump -b, with the region's bytes)
//   platsim decode HEST.dat
//   platsim decode snapshot.json                (platsim mca --json)
//   platsim decode ras-mc_event.db kern.log ...  (rasdaemon, kernel logs; several files)
// A damaged record exits 1 after everything that could be decoded is shown.
#include "sim/profile/profile.h"
#include "tools/platsim/cli/commands.h"
#include "tools/platsim/cli/platform_load.h"
#include "tools/platsim/decode/log_decode.h"
#include "tools/platsim/logs/log_text.h"
#include "tools/common/input_file.h"
#include "tools/platsim/records/record_render.h"
#include "tools/platsim/translate/sys_translator.h"

#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <memory>
#include <optional>

namespace platsim {

namespace {

struct DecodeArgs {
  std::vector<std::string> files;
  std::string file, region, kind = "auto";
};

// `read`: FILE's bytes, when they have been read already (standard input).
void RunDecode(const GlobalOptions& opts, const DecodeArgs& a,
               std::optional<records::Bytes> read = std::nullopt) {
  const auto kind = records::KindFromName(a.kind);
  if (!kind)
    throw UserError("--kind: expected auto, region, bert, hest or mca, found '" + a.kind + "'");
  if (a.file == "-" && a.region == "-")
    throw UserError("FILE and --region cannot both be standard input");
  const records::Bytes bytes =
      read ? std::move(*read) : tools::ReadInputBytes(a.file, "record file", "platsim");
  std::optional<records::Bytes> region;
  if (!a.region.empty()) region = tools::ReadInputBytes(a.region, "boot error region", "platsim");
  const records::Kind k = *kind == records::Kind::kAuto ? records::DetectKind(bytes) : *kind;
  if (region && k != records::Kind::kBert)
    throw UserError("--region goes with a BERT table, and '" + a.file + "' holds " +
                    (k == records::Kind::kRegion ? "a boot error region"
                     : k == records::Kind::kHest ? "a HEST"
                                                 : "a machine-check snapshot"));
  const records::Decoded d = records::Decode(
      bytes, k, region ? std::optional<std::span<const uint8_t>>(*region) : std::nullopt);

  // The platform is started once, before any output; a profile error ends
  // the command (exit 2), a driver that does not start leaves the addresses
  // untranslated (exit 1).
  std::unique_ptr<SysTranslator> translator;
  std::string unavailable;
  try {
    translator = std::make_unique<SysTranslator>(opts);
  } catch (const UserError& e) {
    unavailable = e.what();
  }
  bool untranslated = false;
  bool translated = false;
  const TranslationPlatform platform = PlatformBehindTranslation(opts);
  const records::Translator translate = [&](uint64_t address) {
    translated = true;
    std::string why = unavailable;
    if (translator) {
      try {
        SysTranslation t = translator->Translate(address);
        records::Translation out{std::move(t.text), std::move(t.json), platform.phrase, {}};
        if (!t.refusal.empty())
          out.json["refusal"] = t.refusal;
        else if (out.json.contains("dram") && !out.json.contains("dramNote"))
          out.place = records::Place{
              out.json["node"].get<uint64_t>(), out.json["dram"]["bank"].get<uint64_t>(),
              out.json["dram"]["row"].get<uint64_t>(), out.json["dram"]["col"].get<uint64_t>()};
        return out;
      } catch (const UserError& e) {
        why = e.what();
      }
    }
    untranslated = true;
    records::Translation t{
        "not translated: " + why + "\n", records::Translation{}.json, platform.phrase, {}};
    t.json["error"] = why;
    return t;
  };

  if (opts.json) {
    // The platform right after the kind, before anything translated on it.
    const sim::profile::Json body = records::RenderJson(d, translate);
    sim::profile::Json j = sim::profile::Json::object();
    for (auto it = body.begin(); it != body.end(); ++it) {
      j[it.key()] = it.value();
      if (it.key() == "kind") j["platform"] = platform.json;
    }
    // Bytes from the record that are not UTF-8 (in a damaged snapshot's
    // text) are shown as U+FFFD.
    std::cout << j.dump(2, ' ', false, sim::profile::Json::error_handler_t::replace) << "\n";
  } else {
    std::cout << platform.line << "\n";
    records::RenderText(d, translate, std::cout);
  }
  std::cout.flush();
  if (translated && !platform.warning.empty()) std::cerr << "platsim: " << platform.warning << "\n";
  if (!d.damage.empty() || untranslated) throw Refusal("");  // all said above: exit code 1
}

// One record file (a region, BERT, HEST or snapshot) decodes as it always
// has; several files, or a log of a running machine, as memory errors.
void RunDecodeFiles(const GlobalOptions& opts, DecodeArgs& a) {
  std::error_code ec;
  if (a.files.size() == 1 && a.kind == "auto" && a.region.empty() &&
      (a.files[0] == "-" || (!std::filesystem::is_regular_file(a.files[0], ec) &&
                             !std::filesystem::is_directory(a.files[0], ec) &&
                             std::filesystem::exists(a.files[0], ec)))) {
    // Standard input or a pipe is read once: kernel log text (dmesg |
    // platsim decode -) or a record.
    records::Bytes bytes = tools::ReadInputBytes(a.files[0], "record file", "platsim");
    if (!bytes.empty() && logs::DetectSource(bytes) == logs::SourceKind::kKernelLog)
      return RunLogDecode(opts, a.files, std::move(bytes));
    a.file = a.files[0];
    return RunDecode(opts, a, std::move(bytes));
  }
  if (a.files.size() == 1 && (a.kind != "auto" || !a.region.empty() || !IsLogInput(a.files[0]))) {
    a.file = a.files[0];
    return RunDecode(opts, a);
  }
  if (!a.region.empty() || a.kind != "auto")
    throw UserError(a.files.size() == 1 ? "--region and --kind go with a record file, and '" +
                                              a.files[0] + "' is a log"
                                        : "--region and --kind go with one record file, and " +
                                              std::to_string(a.files.size()) + " files are given");
  RunLogDecode(opts, a.files);
}

}  // namespace

void AddDecodeCommands(CLI::App& app, GlobalOptions& opts) {
  auto* decode = app.add_subcommand(
      "decode",
      "decode boot error regions, BERT and HEST tables and machine-check snapshots, and "
      "translate the physical addresses in them");
  auto args = std::make_shared<DecodeArgs>();
  decode
      ->add_option("FILE", args->files,
                   "a boot error region, a BERT or HEST table, or a `platsim mca --json` "
                   "snapshot ('-': standard input); or, one or more, rasdaemon's database "
                   "and kernel log text (dmesg, journalctl -k) besides those")
      ->required();
  decode->add_option("--region", args->region,
                     "the boot error region of the BERT table in FILE (its bytes; the table "
                     "only gives their physical address)");
  decode->add_option("--kind", args->kind,
                     "what FILE holds: auto (default: by its first bytes), region, bert, hest, "
                     "mca");
  decode->footer(
      "Examples:\n"
      "  platsim decode /sys/firmware/acpi/tables/data/BERT\n"
      "  platsim decode BERT.dat --region BERT-region.bin\n"
      "  platsim mca --cpu 0 --json > mca.json && platsim decode mca.json\n"
      "  platsim --profile my.json --json decode region.bin\n"
      "  platsim --profile my.json decode /var/lib/rasdaemon/ras-mc_event.db kern.log");
  SetExitCodes(decode, "decoded",
               "a record is damaged (each fault with its offset, field, what was expected and "
               "what was found) or an address could not be translated");
  decode->fallthrough();  // --profile, --json... after the subcommand too
  decode->callback([&opts, args] { RunDecodeFiles(opts, *args); });
}

}  // namespace platsim
