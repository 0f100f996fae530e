#include "sim/profile/profile.h"
#include "tools/platsim/commands.h"

#include <cerrno>
#include <cstdlib>
#include <iostream>

namespace platsim {

uint64_t ParseNumber(const std::string& text, const std::string& what) {
  if (text.empty()) throw UserError(what + ": empty");
  const bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
  if (text[0] == '-' || text[0] == '+' || text[0] == ' ')
    throw UserError(what + ": not a number: '" + text + "'");
  errno = 0;
  char* end = nullptr;
  const unsigned long long v = std::strtoull(text.c_str(), &end, hex ? 16 : 10);
  if (errno == ERANGE) throw UserError(what + ": out of range: '" + text + "'");
  if (end == text.c_str() + (hex ? 2 : 0) || *end != '\0')
    throw UserError(what + ": not a number: '" + text + "'");
  return v;
}

}  // namespace platsim

int main(int argc, char** argv) {
  CLI::App app{"platsim: the simulated platform of AddrTranslateDxe and MemTuneSmm"};
  platsim::GlobalOptions opts;
  app.add_option("--profile", opts.profile,
                 "platform profile (JSON); default: the built-in platform")
      ->check(CLI::ExistingFile);
  app.add_flag("--json", opts.json, "machine-readable output");
  app.add_flag("--trace", opts.trace, "show the register accesses and the drivers' messages");
  app.add_flag("--diag", opts.diag,
               "show the drivers' own diagnostic messages as they reach the UART");
  app.require_subcommand(1);

  platsim::AddProfileCommands(app, opts);
  platsim::AddTranslateCommands(app, opts);
  platsim::AddMcaCommands(app, opts);
  platsim::AddAcpiCommands(app, opts);
  platsim::AddMailboxCommands(app, opts);
  platsim::AddMapCommands(app, opts);
  platsim::AddDecodeCommands(app, opts);

  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    return app.exit(e);
  } catch (const platsim::UserError& e) {
    std::cerr << "platsim: error: " << e.what() << "\n";
    return 2;
  } catch (const sim::profile::ProfileError& e) {
    std::cerr << "platsim: profile error: " << e.what() << "\n";
    return 2;
  }
  return 0;
}
