#include "sim/profile/profile.h"
#include "tools/platsim/cli/commands.h"
#include "tools/platsim/cli/driver_build.h"

#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <new>

#ifndef PLATSIM_VERSION
#define PLATSIM_VERSION "unknown"
#endif
#ifndef PLATSIM_DIAG_FROM_BIN
#define PLATSIM_DIAG_FROM_BIN "../libexec/tivfw"
#endif

namespace platsim {

namespace {

void AddOptionsTo(CLI::App& app, GlobalOptions& opts, bool top) {
  CLI::App* to = top ? &app : app.add_option_group("Global options");
  to->add_option("--profile", opts.profile,
                 "platform profile (JSON; - reads standard input); default: the built-in platform");
  to->add_flag("--json", opts.json, "machine-readable output");
  to->add_flag("--trace", opts.trace, "show the register accesses and the drivers' messages");
  to->add_flag("--diag", opts.diag,
               "show the drivers' own diagnostic messages as they reach the UART");
}

void AddToSubcommands(CLI::App& app, GlobalOptions& opts) {
  for (CLI::App* sub : app.get_subcommands([](CLI::App* s) { return !s->get_name().empty(); })) {
    AddOptionsTo(*sub, opts, false);
    AddToSubcommands(*sub, opts);
  }
}

// --diag and --trace show the drivers' own messages, which only the driver
// built with the diagnostic switch on produces. This program links the driver
// as delivered (switch off, nothing formatted); for those two options the
// whole command goes to platsim-diag beside it, the same program linked with
// the other build.
bool WantsDriverMessages(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--") break;
    if (a == "--diag" || a == "--trace") return true;
  }
  return false;
}

// It lies beside this program in the build tree, and in the libexec folder
// of an installation (PLATSIM_DIAG_FROM_BIN, relative to the bin folder, so an
// installation moved to another prefix still finds it).
int RunDiagBuild(char** argv) {
  char self[PATH_MAX];
  const ssize_t n = ::readlink("/proc/self/exe", self, sizeof self - 1);
  std::string dir = ".";
  if (n > 0) {
    self[n] = '\0';
    dir = self;
    dir.erase(dir.rfind('/') == std::string::npos ? 0 : dir.rfind('/'));
  }
  const std::string beside = dir + "/platsim-diag";
  const std::string installed = dir + "/" PLATSIM_DIAG_FROM_BIN "/platsim-diag";
  const std::string& diag = ::access(beside.c_str(), X_OK) == 0 ? beside : installed;
  ::execv(diag.c_str(), argv);
  std::cerr << "platsim: error: --diag and --trace need platsim-diag (platsim with the drivers' "
               "messages built in), beside platsim or as "
            << installed << ": " << std::strerror(errno) << "\n";
  return 2;
}

// A missing or unknown subcommand: the word that is not one, and the
// subcommands of the command it follows. Other parse errors as they are.
std::string SubcommandHint(CLI::App& app, const CLI::ParseError& e) {
  CLI::App* at = &app;
  std::string path = at->get_name();
  for (auto subs = at->get_subcommands(); !subs.empty(); subs = at->get_subcommands()) {
    at = subs.front();
    path += " " + at->get_name();
  }
  const auto known = at->get_subcommands([](CLI::App* s) { return !s->get_name().empty(); });
  if (known.empty() || !at->get_subcommands().empty()) return e.what();
  std::string names;
  for (const CLI::App* s : known) names += (names.empty() ? "" : ", ") + s->get_name();
  std::string word;
  for (const std::string& r : at->remaining())
    if (!r.empty() && r[0] != '-') {
      word = r;
      break;
    }
  if (word.empty()) {
    if (e.get_name() != "RequiredError") return e.what();
    return std::string(e.what()) + ": " + names;
  }
  return "'" + word + "' is not a subcommand of " + path + "; the subcommands are " + names;
}

int Run(int argc, char** argv) {
  if (!kDriverMessagesBuiltIn && WantsDriverMessages(argc, argv)) return RunDiagBuild(argv);
  CLI::App app{"platsim: the simulated platform of AddrTranslateDxe and MemTuneSmm", "platsim"};
  GlobalOptions opts;
  app.set_version_flag("--version", "platsim " PLATSIM_VERSION);
  AddOptionsTo(app, opts, true);
  app.require_subcommand(1);

  AddProfileCommands(app, opts);
  AddTranslateCommands(app, opts);
  AddMcaCommands(app, opts);
  AddAcpiCommands(app, opts);
  AddMailboxCommands(app, opts);
  AddMapCommands(app, opts);
  AddDecodeCommands(app, opts);
  AddFaultsCommands(app, opts);
  AddCaptureCommands(app, opts);
  AddToSubcommands(app, opts);

  try {
    app.parse(argc, argv);
  } catch (const CLI::Success& e) {
    return app.exit(e);  // --help, --version
  } catch (const CLI::ParseError& e) {
    std::cout.flush();
    std::cerr << "platsim: error: " << SubcommandHint(app, e) << "\n"
              << "Run with --help for more information.\n";
    return 2;
  }
  // Output that could not be written (a full disk, /dev/full) is a failure.
  std::cout.flush();
  if (!std::cout || std::fflush(stdout) != 0 || std::ferror(stdout))
    throw UserError("cannot write the output: " + std::string(std::strerror(errno)));
  return 0;
}

}  // namespace

}  // namespace platsim

// Every failure ends here with a message and exit code 1 (the firmware
// refused, or a record failed) or 2 (usage or input); nothing aborts.
int main(int argc, char** argv) {
  const auto fail = [](const std::string& what, int code) {
    std::cout.flush();
    if (!what.empty()) std::cerr << "platsim: " << what << "\n";
    return code;
  };
  try {
    return platsim::Run(argc, argv);
  } catch (const platsim::Refusal& e) {
    return fail(*e.what() ? std::string("error: ") + e.what() : "", 1);
  } catch (const platsim::UserError& e) {
    return fail(*e.what() ? std::string("error: ") + e.what() : "", 2);
  } catch (const sim::profile::ProfileError& e) {
    return fail(std::string("profile error: ") + e.what(), 2);
  } catch (const std::bad_alloc&) {
    return fail("error: out of memory", 2);
  } catch (const std::exception& e) {
    return fail(std::string("error: ") + e.what(), 2);
  } catch (...) {
    return fail("error: an unexpected failure", 2);
  }
}
