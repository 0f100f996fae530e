// ReadLogs: each file recognised by its content and read by its reader, the
// time window applied, the events that two sources both recorded counted
// once, and every machine-check address placed by the profile's bank map.
#include "sim/mca/bank_map_section.h"
#include "tools/common/input_file.h"
#include "tools/platsim/cli/platform_load.h"
#include "tools/platsim/logs/log_text.h"

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>

namespace platsim::logs {

namespace {

// Kernel logs may be long; records and snapshots are far below this.
constexpr size_t kLogLimitBytes = size_t{256} << 20;

bool IsSqlite(const std::string& file) {
  // Only a regular file is looked into twice (a pipe would lose what is read).
  std::error_code ec;
  if (!std::filesystem::is_regular_file(file, ec)) return false;
  std::ifstream in(file, std::ios::binary);
  char head[16] = {};
  if (!in.read(head, sizeof head)) return false;
  return std::memcmp(head, "SQLite format 3", 16) == 0;
}

std::vector<BankRule> BankMap(const GlobalOptions& opts) {
  sim::Platform platform;
  LoadPlatform(opts, platform);
  std::vector<BankRule> rules;
  for (const auto& r : sim::mca::BankAddresses(platform).rules)
    rules.push_back(BankRule{r.bank, r.ipid, r.socket, r.die, r.channel, r.normalized});
  return rules;
}

// The first file's errors are taken as they are (a database of a million
// rows is not moved error by error into a list that doubles as it grows).
void Append(LogRead& all, LogRead&& one) {
  if (all.errors.empty()) {
    all.errors = std::move(one.errors);
  } else {
    const size_t need = all.errors.size() + one.errors.size();
    if (need > all.errors.capacity()) all.errors.reserve(std::max(need, 2 * all.errors.capacity()));
    for (auto& e : one.errors) all.errors.push_back(std::move(e));
  }
  for (auto& u : one.unparsed) all.unparsed.push_back(std::move(u));
  for (auto& n : one.notes) all.notes.push_back(std::move(n));
}

}  // namespace

LogRead ReadLogs(const std::vector<std::string>& files, const GlobalOptions& opts,
                 const ReadOptions& options) {
  if (options.since && options.until && *options.since > *options.until)
    throw UserError("--since is after --until: no error can lie between them");
  std::vector<BankRule> rules;
  try {
    rules = BankMap(opts);
  } catch (const sim::profile::ProfileError& e) {
    throw UserError(e.what());
  }
  LogRead all;
  size_t stdinUses = 0;
  for (const std::string& file : files) {
    const std::string name =
        file == "-" ? "<stdin>" : std::filesystem::path(file).filename().string();
    if (file == "-" && ++stdinUses > 1) throw UserError("standard input ('-') given twice");
    if (IsSqlite(file)) {
      Append(all, ReadRasdaemonDb(file, name));
      continue;
    }
    const std::vector<uint8_t> bytes =
        options.preread && options.preread->first == file
            ? options.preread->second
            : tools::ReadInputBytes(file, "log", "platsim", kLogLimitBytes);
    switch (DetectSource(bytes)) {
      case SourceKind::kRasdaemonDb:
        throw UserError("rasdaemon's database cannot be read from standard input: give its path");
      case SourceKind::kKernelLog:
        Append(all, ReadKernelLog(
                        std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()),
                        file, name));
        break;
      case SourceKind::kRecords:
        Append(all, ReadRecordFile(bytes, file, name));
        break;
    }
  }
  ApplyTimeWindow(all, options.since, options.until);
  MergeDuplicates(all);
  PlaceAddresses(all.errors, rules);
  return all;
}

}  // namespace platsim::logs
