#include "tools/platsim/cli/commands.h"

namespace platsim {

void SetExitCodes(CLI::App* command, const std::string& zero, const std::string& one) {
  std::string codes = "Exit codes: 0 " + zero + ", ";
  if (!one.empty()) codes += "1 " + one + ", ";
  codes +=
      "2 usage or input error (an argument, an unreadable file, a profile error, or a profile "
      "without the section the command needs, which the message names).";
  const std::string rest = command->get_footer();
  command->footer(rest.empty() ? codes : codes + "\n" + rest);
}

}  // namespace platsim
