#include "tools/fvtool/insertion_request.h"

#include "tools/fvtool/edk2_files.h"
#include "tools/fvtool/errors.h"
#include "tools/fvtool/ffs.h"
#include "tools/fvtool/file_io.h"
#include "tools/fvtool/pe_image.h"

namespace fvtool {

namespace {

constexpr std::size_t kMaxImageBytes = std::size_t{16} << 20;

bool ModuleTypeFits(const std::string& moduleType, bool smm) {
  if (smm) return moduleType == "DXE_SMM_DRIVER";
  return moduleType == "DXE_DRIVER" || moduleType == "DXE_RUNTIME_DRIVER" ||
         moduleType == "UEFI_DRIVER";
}

}  // namespace

InsertionRequest ParseInsertionRequest(const std::string& text) {
  InsertionRequest spec;
  spec.text = text;
  const std::string where = "--add '" + text + "'";
  const std::size_t colon = text.find(':');
  if (colon == std::string::npos)
    throw InputError(where + ": expected TYPE:PATH.efi[,key=value]... (TYPE smm or dxe)");
  const std::string type = text.substr(0, colon);
  if (type != "smm" && type != "dxe")
    throw InputError(where + ": type '" + type + "' is neither smm nor dxe");
  spec.smm = type == "smm";
  std::string rest = text.substr(colon + 1);
  std::size_t comma = rest.find(',');
  spec.path = rest.substr(0, comma);
  if (spec.path.empty()) throw InputError(where + ": no image path");
  while (comma != std::string::npos) {
    rest = rest.substr(comma + 1);
    comma = rest.find(',');
    const std::string item = rest.substr(0, comma);
    const std::size_t eq = item.find('=');
    const std::string key = item.substr(0, eq);
    if (eq == std::string::npos || eq + 1 == item.size())
      throw InputError(where + ": '" + item + "' is not key=value");
    std::optional<std::string>* slot = key == "inf"     ? &spec.inf
                                       : key == "guid"  ? &spec.guid
                                       : key == "name"  ? &spec.name
                                       : key == "depex" ? &spec.depex
                                                        : nullptr;
    if (slot == nullptr)
      throw InputError(where + ": unknown key '" + key + "' (inf, guid, name, depex)");
    if (*slot) throw InputError(where + ": " + key + "= given twice");
    *slot = item.substr(eq + 1);
  }
  return spec;
}

DriverInsert ResolveInsertionRequest(const InsertionRequest& spec, const GuidNames& names) {
  const std::string where = "--add '" + spec.text + "'";
  DriverInsert d;
  d.source = spec.path;
  d.fileType = spec.smm ? ffs::kFileSmm : ffs::kFileDriver;
  std::optional<Guid> guid;
  std::optional<std::string> depexText;
  if (spec.inf) {
    const InfModule inf = ReadInf(*spec.inf);
    if (!ModuleTypeFits(inf.moduleType, spec.smm))
      throw InputError(where + ": " + *spec.inf + " describes a " +
                       (inf.moduleType.empty() ? "module without MODULE_TYPE" : inf.moduleType) +
                       ", not " + (spec.smm ? "an SMM driver (DXE_SMM_DRIVER)" : "a DXE driver"));
    guid = inf.fileGuid;
    d.uiName = inf.baseName;
    depexText = inf.depex;
  }
  if (spec.guid) {
    guid = ParseRegistryGuid(*spec.guid);
    if (!guid)
      throw InputError(where + ": guid '" + *spec.guid + "' is not a registry-format GUID");
  }
  if (!guid) throw InputError(where + ": no file GUID (give guid= or inf=)");
  d.fileGuid = *guid;
  if (spec.name) d.uiName = *spec.name;
  for (char c : d.uiName)
    if (c < 0x20 || c > 0x7E) throw InputError(where + ": the UI name must be printable ASCII");
  if (spec.depex) depexText = spec.depex;
  if (depexText)
    d.depex = CompileDepex(*depexText, names, spec.smm ? DepexKind::kSmm : DepexKind::kDxe);
  d.image = ReadFileBytes(spec.path, "driver image", kMaxImageBytes);
  CheckDriverImage(d.image, spec.path);
  return d;
}

}  // namespace fvtool
