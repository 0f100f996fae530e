// The report of one translation, as text for people and as JSON: what the
// one-address commands print and what decode shows for the addresses it
// finds in a record.
#pragma once

#include "dram_address.h"
#include "sim/profile/profile.h"
#include "tools/platsim/cli/options.h"
#include "tools/platsim/translate/dram_format.h"
#include "tools/platsim/translate/translate_session.h"

#include <cstdint>
#include <sstream>
#include <string>

namespace platsim {

struct Report {
  sim::profile::Json json = sim::profile::Json::object();
  std::ostringstream text;
};

// The platform's line, first of the text output, before the driver's
// messages (--json: Emit adds the "platform" object instead).
void NamePlatform(TranslateSession& s, const GlobalOptions& opts);

// The heading and the blank line around the driver's messages (text only).
void BeginMessages(TranslateSession& s, const GlobalOptions& opts);
void EndMessages(TranslateSession& s, const GlobalOptions& opts);

// The "DRAM" line, and `key` in the JSON (null and the reason where there are
// no coordinates).
void AddDram(Report& r, const ShownDram& d, const char* key);

// Completes the report: whether it stands, and what --diag and --trace add.
void Finish(TranslateSession& s, const GlobalOptions& opts, Report& r, const std::string& error);

// Prints the report; refuses with `error` when there is one.
void Emit(TranslateSession& s, const GlobalOptions& opts, Report& r, const std::string& error);

// One system address through slot 2 and back through slot 1, into `r`.
// Returns why there is no answer, empty when there is one; `fatalStop` gets
// the code of a fatal stop the driver took, or 0.
std::string ReportSys(TranslateSession& s, const GlobalOptions& opts, uint64_t address, Report& r,
                      uint32_t* fatalStop = nullptr);

}  // namespace platsim
