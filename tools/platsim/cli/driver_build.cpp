// Compiled once for each program, with PLATSIM_DRIVER_MESSAGES set to the
// driver build it links (tools/platsim/CMakeLists.txt).
#include "tools/platsim/cli/driver_build.h"

namespace platsim {

const bool kDriverMessagesBuiltIn = PLATSIM_DRIVER_MESSAGES;

}  // namespace platsim
