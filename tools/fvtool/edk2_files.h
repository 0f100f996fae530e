// The EDK II descriptions fvtool reads: DEC files (GUID C names declared in
// [Guids], [Protocols] and [Ppis]) and module INF files (BASE_NAME, FILE_GUID,
// MODULE_TYPE, the [Depex] expression, the packages and the GUID names the
// module uses).
#pragma once

#include "tools/fvtool/depex.h"
#include "tools/fvtool/guid.h"

#include <optional>
#include <string>
#include <vector>

namespace fvtool {

// The standard UEFI and PI GUID names the project's modules depend on, known
// without a DEC file (a platform's own package declares them for its build):
// gEfiMpServiceProtocolGuid, gEfiAcpiTableProtocolGuid, gEfiAcpiSdtProtocolGuid,
// gEfiSmmBase2ProtocolGuid, gEfiSmmAccess2ProtocolGuid,
// gEfiSmmVariableProtocolGuid, gEfiHobListGuid.
const GuidNames& StandardGuidNames();

// The declarations of one DEC file. Throws InputError for an unreadable file,
// a malformed GUID or a name declared twice.
GuidNames ReadDec(const std::string& path);

// The standard names, then the declarations of the DEC files in order: a DEC
// declaration replaces a standard name; two DEC files that give one name
// different values are refused (InputError).
GuidNames ResolveGuidNames(const std::vector<std::string>& decPaths);

struct InfModule {
  std::string path;
  std::string baseName;    // BASE_NAME
  std::string moduleType;  // MODULE_TYPE
  std::optional<Guid> fileGuid;
  std::optional<std::string> depex;   // the [Depex] text for X64, if any
  std::vector<std::string> packages;  // [Packages]: the DEC files, as written
  std::vector<std::string> guids;     // the C names in [Protocols], [Guids] and [Ppis]
};

// Throws InputError for an unreadable file or malformed [Defines].
InfModule ReadInf(const std::string& path);

}  // namespace fvtool
