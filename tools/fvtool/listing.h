// `fvtool list`: the volumes of a flash image and their files, as text for
// people and as JSON for scripts.
#pragma once

#include "tools/fvtool/firmware_volume.h"

#include <nlohmann/json.hpp>

#include <string>

namespace fvtool {

// One line per volume (offset, size, name, format, files, free space) and per
// file (offset, type, GUID, size, UI name), nested volumes indented under the
// file and section that hold them.
std::string ListText(const FlashImage& image, std::size_t imageSize);

nlohmann::ordered_json ListJson(const FlashImage& image, std::size_t imageSize);

}  // namespace fvtool
