// What a driver image must be before it goes into a volume: a PE32+ image for
// x64 whose subsystem is a boot-service or runtime driver.
#pragma once

#include "tools/fvtool/bytes.h"

#include <string>

namespace fvtool {

// Throws Refusal naming `path` and what is wrong.
void CheckDriverImage(ByteView image, const std::string& path);

}  // namespace fvtool
