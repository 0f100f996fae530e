// fvtool: lists the firmware volumes of a flash image and inserts drivers into
// its DXE volume. Exit codes: 0 done, 1 refused, 2 usage or input error.
#include "tools/fvtool/insertion_request.h"
#include "tools/fvtool/edk2_files.h"
#include "tools/fvtool/errors.h"
#include "tools/fvtool/ffs_builder.h"
#include "tools/fvtool/file_io.h"
#include "tools/fvtool/insert_drivers.h"
#include "tools/fvtool/listing.h"

#include <CLI/CLI.hpp>

#include <chrono>
#include <ctime>
#include <cstdio>
#include <iostream>

namespace fvtool {
namespace {

constexpr std::size_t kMaxFlashBytes = std::size_t{256} << 20;

int List(const std::string& path, bool json) {
  const Bytes flash = ReadFileBytes(path, "flash image", kMaxFlashBytes);
  const FlashImage image = ParseFlash(flash);
  if (image.volumes.empty())
    throw Refusal(path +
                  ": not a firmware image: no volume header (\"_FVH\" with a valid checksum)");
  if (json)
    std::cout << ListJson(image, flash.size()).dump(2) << "\n";
  else
    std::cout << path << ": " << ListText(image, flash.size());
  return 0;
}

int Insert(const std::string& in, const std::string& out, const std::vector<std::string>& decs,
           const std::vector<std::string>& adds, int level) {
  const GuidNames names = ResolveGuidNames(decs);
  std::vector<DriverInsert> drivers;
  for (const std::string& add : adds)
    drivers.push_back(ResolveInsertionRequest(ParseInsertionRequest(add), names));
  const Bytes flash = ReadFileBytes(in, "flash image", kMaxFlashBytes);
  InsertOptions options;
  options.lzmaLevel = level;
  InsertReport report;
  const auto start = std::chrono::steady_clock::now();
  const std::clock_t cpuStart = std::clock();
  Bytes result;
  try {
    result = InsertDrivers(flash, drivers, options, &report);
  } catch (const Refusal& e) {
    throw Refusal(in + ": " + e.what());
  }
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  const double cpuSeconds = static_cast<double>(std::clock() - cpuStart) / CLOCKS_PER_SEC;
  WriteFileBytes(out, result);
  std::cout << "DXE volume: " << report.volume << "\n";
  for (const InsertedFile& f : report.files)
    std::printf("  added %-4s %s %-20s at %s, %s bytes (%s)\n",
                f.driver->fileType == ffs::kFileSmm ? "SMM" : "DXE",
                f.driver->fileGuid.Text().c_str(), f.driver->uiName.c_str(), Hex(f.offset).c_str(),
                Hex(f.size).c_str(), f.driver->source.c_str());
  std::fflush(stdout);
  std::cout << "  free space " << Hex(report.freeBefore) << " -> " << Hex(report.freeAfter)
            << " bytes\n";
  for (const RewrittenFile& r : report.rewritten)
    std::cout << "rebuilt file " << r.name.Text() << " at " << r.where << ": " << Hex(r.oldSize)
              << " -> " << Hex(r.newSize) << " bytes (room " << Hex(r.room) << ")\n";
  for (const std::string& note : report.notes) std::cout << "note: " << note << "\n";
  std::printf("wrote %s (%.1f s, %.1f s of processor time)\n", out.c_str(), seconds, cpuSeconds);
  return 0;
}

int Depex(const std::string& inf, const std::string& expr, const std::vector<std::string>& decs,
          bool smm, bool dxe, const std::string& rawOut) {
  const GuidNames names = ResolveGuidNames(decs);
  std::string text = expr;
  bool smmKind = smm;
  if (!inf.empty()) {
    const InfModule module = ReadInf(inf);
    if (!module.depex) throw InputError(inf + ": no [Depex] section for X64");
    text = *module.depex;
    if (!smm && !dxe) smmKind = module.moduleType == "DXE_SMM_DRIVER";
  }
  const DepexKind kind = smmKind ? DepexKind::kSmm : DepexKind::kDxe;
  const Bytes opcodes = CompileDepex(text, names, kind);
  const Bytes section =
      BuildSection(DepexSectionType(smmKind ? ffs::kFileSmm : ffs::kFileDriver), opcodes);
  std::string hex;
  for (uint8_t b : section) {
    char two[4];
    std::snprintf(two, sizeof two, "%02X ", b);
    hex += two;
  }
  hex.pop_back();
  std::cout << hex << "\n";
  if (!rawOut.empty()) WriteFileBytes(rawOut, opcodes);
  return 0;
}

}  // namespace
}  // namespace fvtool

#ifndef FVTOOL_VERSION
#define FVTOOL_VERSION "unknown"
#endif

// The exit codes at the head of a command's help footer.
constexpr const char* kExitCodes =
    "Exit codes: 0 done, 1 refused (not a firmware image, no DXE volume, unknown compression, no "
    "room, file GUID already present, not PE32+, unknown GUID name; the volume, file or offset "
    "named), 2 usage or input error (a bad --add item, an unreadable file, an expression that "
    "does not parse).";

int main(int argc, char** argv) {
  CLI::App app{
      "fvtool: lists the firmware volumes of a flash image and inserts drivers into its DXE "
      "volume"};
  app.require_subcommand(1);
  app.set_version_flag("--version", "fvtool " FVTOOL_VERSION);
  app.footer(kExitCodes);
  int rc = 0;

  std::string listPath;
  bool listJson = false;
  auto* list = app.add_subcommand("list", "volumes and files, nested volumes included");
  list->add_option("FLASH", listPath, "flash image (.fd)")->required();
  list->add_flag("--json", listJson, "machine-readable output");
  list->callback([&] { rc = fvtool::List(listPath, listJson); });

  std::string in, out;
  std::vector<std::string> decs, adds;
  int level = 6;
  auto* insert = app.add_subcommand("insert", "insert drivers into the DXE volume");
  insert->add_option("FLASH", in, "flash image to start from")->required();
  insert->add_option("-o,--output", out, "the new flash image")->required();
  insert->add_option("--dec", decs, "DEC file declaring GUID names (repeatable)")
      ->expected(1)
      ->allow_extra_args(false)
      ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
  insert
      ->add_option("--add", adds,
                   "TYPE:PATH.efi[,inf=FILE.inf][,guid=GUID][,name=UI][,depex=EXPR], TYPE smm "
                   "or dxe (repeatable; all go in with one recompression)")
      ->required()
      ->expected(1)
      ->allow_extra_args(false)
      ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
  insert->add_option("--level", level, "LZMA preset for the recompressed volume (0-9)")
      ->check(CLI::Range(0, 9));
  insert->callback([&] { rc = fvtool::Insert(in, out, decs, adds, level); });

  std::string inf, expr, rawOut;
  bool smm = false, dxe = false;
  auto* depex = app.add_subcommand("depex", "print a compiled dependency section (hex)");
  auto* infOpt = depex->add_option("--inf", inf, "take the [Depex] section of this INF");
  auto* exprOpt = depex->add_option("--expr", expr, "expression in INF [Depex] syntax");
  infOpt->excludes(exprOpt);
  depex->add_option("--dec", decs, "DEC file declaring GUID names (repeatable)")
      ->expected(1)
      ->allow_extra_args(false)
      ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
  auto* smmFlag = depex->add_flag("--smm", smm, "SMM dependency section (0x1C)");
  depex->add_flag("--dxe", dxe, "DXE dependency section (0x13)")->excludes(smmFlag);
  depex->add_option("-o,--output", rawOut,
                    "also write the expression without the section header (an EDK II .depex file)");
  depex->callback([&] {
    if (inf.empty() && expr.empty()) throw CLI::RequiredError("--inf or --expr");
    rc = fvtool::Depex(inf, expr, decs, smm, dxe, rawOut);
  });

  for (CLI::App* sub : app.get_subcommands([](CLI::App*) { return true; })) sub->footer(kExitCodes);

  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    return app.exit(e) == 0 ? 0 : 2;
  } catch (const fvtool::Refusal& e) {
    std::cerr << "fvtool: refused: " << e.what() << "\n";
    return 1;
  } catch (const fvtool::InputError& e) {
    std::cerr << "fvtool: error: " << e.what() << "\n";
    return 2;
  }
  return rc;
}
