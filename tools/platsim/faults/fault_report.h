// The fault report as `platsim faults` prints it: text for people, and JSON
// with a versioned schema (docs/platsim/faults.md).
#pragma once

#include "tools/platsim/cli/platform_load.h"
#include "tools/platsim/faults/fault_analysis.h"

#include <ostream>
#include <vector>

namespace platsim::faults {

// The version of the --json schema; raised when a field changes meaning or
// goes away, not when one is added.
inline constexpr int kSchemaVersion = 1;

struct ReportInput {
  const logs::LogRead& read;
  const Analysis& analysis;
  Locator& locator;  // the bank bits of the repair coordinates
  const FaultOptions& options;
  const TranslationPlatform& platform;
};

// The pages of every fault that is to be offlined, ascending, distinct.
std::vector<uint64_t> PagesToOffline(const Analysis& analysis);

sim::profile::Json ReportJson(const ReportInput& in);
void ReportText(const ReportInput& in, std::ostream& out);

}  // namespace platsim::faults
