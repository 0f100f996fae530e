// platsim acpi: the driver's BERT and HEST appends on the profile's tables,
// and the tables written out as binary files that acpica's iasl reads.
//   platsim acpi append-bert --kind K --severity S FILE [--dump DIR]
//   platsim acpi add-hest FILE [--count N] [--dump DIR]
//   platsim acpi dump --out DIR
// Every invocation starts from the profile; --dump writes the tables as they
// stand after the append.
#include "addr_translate/errors/error_slots.h"
#include "harness/driver_bindings.h"
#include "sim/acpi/acpi_tables.h"
#include "sim/profile/profile.h"
#include "tools/platsim/cli/commands.h"
#include "tools/common/input_file.h"
#include "tools/platsim/cli/platform_load.h"
#include "tools/platsim/records/record_decode.h"
#include "tools/common/efi_status_name.h"
#include "tools/common/severity_name.h"
#include "tools/common/byte_view.h"

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <memory>

namespace platsim {

namespace {

using sim::profile::Json;
namespace fs = std::filesystem;

bool ChecksumOk(const std::vector<uint8_t>& t) {
  return t.size() >= sizeof(EFI_ACPI_SDT_HEADER) && sim::acpi::ByteSum(t.data(), t.size()) == 0;
}

uint32_t U32(const std::vector<uint8_t>& b, size_t off) {
  return tools::ByteView(b).Get<uint32_t>(off);
}

Json BertSummary(sim::Platform& platform) {
  const auto bert = sim::acpi::TableBytes(platform, kBertSignature);
  if (bert.empty()) return nullptr;
  Json j = Json::object();
  j["length"] = U32(bert, 4);
  j["checksumOk"] = ChecksumOk(bert);
  j["bootErrorRegionLength"] = U32(bert, 36);
  const auto region = sim::acpi::BootErrorRegion(platform);
  if (region.size() >= sizeof(GenericErrorStatusBlock)) {
    GenericErrorStatusBlock b;
    std::memcpy(&b, region.data(), sizeof b);
    Json bits = Json::array();
    const std::pair<uint32_t, const char*> names[] = {
        {kBlockUncorrectableValid, "uncorrectable valid"},
        {kBlockCorrectableValid, "correctable valid"},
        {kBlockMultipleUncorrectable, "multiple uncorrectable"},
        {kBlockMultipleCorrectable, "multiple correctable"}};
    for (auto& [bit, name] : names)
      if (b.BlockStatus & bit) bits.push_back(name);
    j["blockStatus"] = sim::profile::Hex(b.BlockStatus);
    j["blockStatusBits"] = bits;
    j["entryCount"] = (b.BlockStatus & kBlockEntryCountMask) >> kBlockEntryCountShift;
    j["rawDataOffset"] = b.RawDataOffset;
    j["rawDataLength"] = b.RawDataLength;
    j["dataLength"] = b.DataLength;
    j["errorSeverity"] = b.ErrorSeverity;
    const char* severity = tools::SeverityName(b.ErrorSeverity);
    j["errorSeverityName"] = severity ? severity : "?";
  }
  return j;
}

Json HestSummary(sim::Platform& platform) {
  const auto hest = sim::acpi::TableBytes(platform, kHestSignature);
  if (hest.empty()) return nullptr;
  Json j = Json::object();
  j["length"] = U32(hest, 4);
  j["checksumOk"] = ChecksumOk(hest);
  j["errorSourceCount"] = U32(hest, 36);
  // The source structures by type, as far as their types' lengths are known.
  Json types = Json::array();
  records::Decoded unused;
  const records::Hest walked = records::DecodeHest(hest, unused);
  for (const auto& s : walked.sources) types.push_back(s.type);
  const uint64_t walkedTo = walked.sources.empty()
                                ? sizeof(AcpiHestHeader)
                                : walked.sources.back().offset + walked.sources.back().length;
  if (!walked.walkComplete) types.push_back("unknown from offset " + std::to_string(walkedTo));
  j["sourceTypes"] = types;
  return j;
}

void PrintSummary(const Json& bert, const Json& hest) {
  if (!bert.is_null()) {
    std::cout << "BERT: length " << bert["length"] << ", checksum "
              << (bert["checksumOk"].get<bool>() ? "ok" : "WRONG") << ", boot error region "
              << bert["bootErrorRegionLength"] << " bytes\n";
    if (bert.contains("blockStatus")) {
      std::string bits;
      for (const auto& b : bert["blockStatusBits"])
        bits += (bits.empty() ? "" : ", ") + b.get<std::string>();
      std::cout << "  block status " << bert["blockStatus"].get<std::string>() << " ("
                << (bits.empty() ? "-" : bits) << "), entry count " << bert["entryCount"] << "\n";
      std::cout << "  data length " << bert["dataLength"] << ", raw data offset "
                << bert["rawDataOffset"] << ", raw data length " << bert["rawDataLength"]
                << ", error severity " << bert["errorSeverity"] << " ("
                << bert["errorSeverityName"].get<std::string>() << ")\n";
    }
  }
  if (!hest.is_null()) {
    std::cout << "HEST: length " << hest["length"] << ", checksum "
              << (hest["checksumOk"].get<bool>() ? "ok" : "WRONG") << ", error sources "
              << hest["errorSourceCount"] << "\n";
    if (!hest["sourceTypes"].empty()) {
      std::cout << "  structures by type:";
      for (const auto& t : hest["sourceTypes"]) std::cout << " " << t.dump();
      std::cout << "\n";
    }
  }
}

// Where a written BERT says its boot error region lies (BERT-region.bin).
constexpr size_t kBertRegionField = 40;
constexpr uint64_t kDumpedRegionAddress = 0x7F000000;

// What the profile lacks when an append ends in a lookup failure: the two
// ACPI protocols and the table, in the order the driver looks for them. A
// profile without the section the command needs is an input error (exit 2).
std::string WhatTheProfileLacks(sim::Platform& platform, uint32_t signature) {
  auto& store = sim::acpi::Store(platform);
  if (!store.tableProtocolInstalled)
    return "the profile installs no EFI_ACPI_TABLE_PROTOCOL (section \"acpi\", key "
           "\"protocols\")";
  if (!store.sdtProtocolInstalled)
    return "the profile installs no EFI_ACPI_SDT_PROTOCOL (section \"acpi\", key "
           "\"protocols\")";
  if (store.Find(signature) == nullptr)
    return "the profile has no " + sim::acpi::SignatureText(signature) +
           " table (section \"acpi\", key \"" + (signature == kBertSignature ? "bert" : "hest") +
           "\")";
  return "";
}

// Writes each installed table as <SIGNATURE>.dat (a second table with the
// same signature gets a number), and the boot error region as
// BERT-region.bin.
std::vector<std::string> DumpTables(sim::Platform& platform, const std::string& dir) {
  std::error_code ec;
  fs::create_directories(dir, ec);
  if (ec) throw UserError("cannot create '" + dir + "': " + ec.message());
  std::vector<std::string> written;
  std::map<std::string, int> seen;
  auto write = [&](const std::string& name, const std::vector<uint8_t>& bytes) {
    const fs::path file = fs::path(dir) / name;
    std::ofstream out(file, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    if (!out) throw UserError("cannot write '" + file.string() + "'");
    written.push_back(file.string());
  };
  for (auto& t : sim::acpi::Store(platform).tables) {
    const uint32_t signature = U32(t->bytes, 0);
    std::string sig = sim::acpi::SignatureText(signature);
    for (char& c : sig)
      if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
    const int n = seen[sig]++;
    std::vector<uint8_t> bytes = t->bytes;
    if (signature == kBertSignature && bytes.size() >= kBertRegionField + 8) {
      // The simulated BERT points at its region with a host address, which
      // changes from run to run; the file gets a fixed one instead, so the
      // same tables give the same bytes.
      std::memcpy(bytes.data() + kBertRegionField, &kDumpedRegionAddress, 8);
      sim::acpi::SetChecksum(bytes);
    }
    write(sig + (n ? "-" + std::to_string(n) : "") + ".dat", bytes);
  }
  const auto region = sim::acpi::BootErrorRegion(platform);
  if (!region.empty()) write("BERT-region.bin", region);
  return written;
}

struct Outcome {
  const char* operation;
  EFI_STATUS status;
  uint32_t signature;  // of the table the operation works on
};

void Report(const GlobalOptions& opts, sim::Platform& platform, const Outcome& o,
            const std::string& dumpDir) {
  std::vector<std::string> files;
  if (!dumpDir.empty()) files = DumpTables(platform, dumpDir);
  const Json bert = BertSummary(platform), hest = HestSummary(platform);
  const std::string lacks =
      o.status == EFI_NOT_FOUND ? WhatTheProfileLacks(platform, o.signature) : "";
  if (opts.json) {
    Json out = Json::object();
    out["operation"] = o.operation;
    out["status"] = tools::EfiStatusText(o.status);
    if (!lacks.empty()) out["error"] = lacks;
    out["bert"] = bert;
    out["hest"] = hest;
    if (!dumpDir.empty()) out["files"] = files;
    if (opts.trace) out["calls"] = platform.calls;
    std::cout << out.dump(2) << "\n";
  } else {
    std::cout << o.operation << ": " << tools::EfiStatusText(o.status) << "\n";
    PrintSummary(bert, hest);
    for (const auto& f : files) std::cout << "wrote " << f << "\n";
    if (opts.trace) {
      std::cout << "platform calls:";
      for (const auto& c : platform.calls) std::cout << " " << c;
      std::cout << "\n";
    }
  }
  std::cout.flush();
  if (!lacks.empty()) throw UserError(lacks);
  if (o.status != EFI_SUCCESS) throw Refusal("");
}

struct AcpiArgs {
  std::string kind, severity, file, count, dump, out;
};

}  // namespace

void AddAcpiCommands(CLI::App& app, GlobalOptions& opts) {
  auto* acpi = app.add_subcommand("acpi", "BERT and HEST appends, ACPI table dump");
  acpi->require_subcommand(1);
  auto args = std::make_shared<AcpiArgs>();

  auto* bert = acpi->add_subcommand("append-bert", "append a record to the boot error region");
  bert->add_option("--kind", args->kind, "1 = raw data, 2 = one generic error data entry")
      ->required();
  bert->add_option("--severity", args->severity,
                   "0 recoverable, 1 fatal, 2 corrected (other values: count only)")
      ->required();
  bert->add_option("FILE", args->file, "the record's bytes")->required();
  bert->add_option("--dump", args->dump, "write the tables afterwards into this directory");
  SetExitCodes(bert, "appended", "the driver refused the append (its status is shown)");
  bert->callback([&opts, args] {
    const uint64_t kind = ParseNumber(args->kind, "--kind");
    const uint64_t severity = ParseNumber(args->severity, "--severity");
    if (kind > 0xFF) throw UserError("--kind: above 255");
    if (severity > 0xFF) throw UserError("--severity: above 255");
    const auto data = tools::ReadInputBytes(args->file, "record file", "platsim");
    sim::Platform platform;
    LoadPlatform(opts, platform);
    EFI_STATUS s;
    {
      const sim::AddrTranslateBindings bound(platform);
      platform.calls.clear();
      s = atd::AppendBertRecord(data.empty() ? nullptr : data.data(),
                                static_cast<uint32_t>(data.size()), static_cast<uint8_t>(kind),
                                static_cast<uint8_t>(severity));
    }
    Report(opts, platform, {"AppendBertRecord", s, kBertSignature}, args->dump);
  });

  auto* hest = acpi->add_subcommand("add-hest", "append error source structures to the HEST");
  hest->add_option("FILE", args->file, "the error source structures' bytes")->required();
  hest->add_option("--count", args->count,
                   "number of error sources in FILE (default: one, through AddHestErrorSource)");
  hest->add_option("--dump", args->dump, "write the tables afterwards into this directory");
  SetExitCodes(hest, "appended", "the driver refused the append (its status is shown)");
  hest->callback([&opts, args] {
    const bool counted = !args->count.empty();
    const uint64_t count = counted ? ParseNumber(args->count, "--count") : 1;
    if (count > 0xFFFFFFFFull) throw UserError("--count: above 0xFFFFFFFF");
    const auto data = tools::ReadInputBytes(args->file, "record file", "platsim");
    sim::Platform platform;
    LoadPlatform(opts, platform);
    const VOID* p = data.empty() ? nullptr : data.data();
    const auto size = static_cast<uint32_t>(data.size());
    EFI_STATUS s;
    {
      const sim::AddrTranslateBindings bound(platform);
      platform.calls.clear();
      s = counted ? atd::AddHestErrorSources(p, size, static_cast<uint32_t>(count), 0)
                  : atd::AddHestErrorSource(p, size, 0, 0);
    }
    Report(opts, platform,
           {counted ? "AddHestErrorSources" : "AddHestErrorSource", s, kHestSignature}, args->dump);
  });

  auto* dump = acpi->add_subcommand("dump", "write the ACPI tables as binary files");
  dump->add_option("--out", args->out, "directory")->required();
  SetExitCodes(dump, "the tables were written", "");
  dump->callback([&opts, args] {
    sim::Platform platform;
    LoadPlatform(opts, platform);
    // Nothing to write is said, not left to an empty directory.
    if (sim::acpi::Store(platform).tables.empty())
      throw UserError(
          "the profile has no ACPI tables (section \"acpi\", keys \"bert\" and "
          "\"hest\"): nothing written to '" +
          args->out + "'");
    const auto files = DumpTables(platform, args->out);
    if (opts.json) {
      Json out = Json::object();
      out["files"] = files;
      out["bert"] = BertSummary(platform);
      out["hest"] = HestSummary(platform);
      std::cout << out.dump(2) << "\n";
    } else {
      PrintSummary(BertSummary(platform), HestSummary(platform));
      for (const auto& f : files) std::cout << "wrote " << f << "\n";
    }
  });
}

}  // namespace platsim
