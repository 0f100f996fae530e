// An insertion request: one --add item of `fvtool insert`,
//   TYPE:PATH.efi[,inf=FILE.inf][,guid=GUID][,name=UI][,depex=EXPR]
// TYPE is smm or dxe. With inf= the file GUID (FILE_GUID), the UI name
// (BASE_NAME) and the [Depex] expression come from the INF; guid=, name= and
// depex= override them.
#pragma once

#include "tools/fvtool/depex.h"
#include "tools/fvtool/insert_drivers.h"

#include <optional>
#include <string>

namespace fvtool {

struct InsertionRequest {
  std::string text;  // as given, for messages
  bool smm = false;
  std::string path;
  std::optional<std::string> inf;
  std::optional<std::string> guid;
  std::optional<std::string> name;
  std::optional<std::string> depex;
};

// Throws InputError for a malformed item.
InsertionRequest ParseInsertionRequest(const std::string& text);

// Reads the image and the INF, checks the image (PE32+), compiles the
// dependency expression. Throws InputError or Refusal.
DriverInsert ResolveInsertionRequest(const InsertionRequest& spec, const GuidNames& names);

}  // namespace fvtool
