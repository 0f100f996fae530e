// Which build of AddrTranslateDxe this program links: platsim the driver as
// delivered (diagnostic switch off), platsim-diag the one with the switch on,
// whose messages --diag and --trace show.
#pragma once

namespace platsim {

extern const bool kDriverMessagesBuiltIn;

}  // namespace platsim
