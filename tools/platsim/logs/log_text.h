// The readers behind ReadLogs, one per kind of source, each turning its input
// into MemoryErrors and Unparsed lines or rows. They know nothing of the
// profile: ReadLogs places the machine-check addresses afterwards
// (PlaceAddresses). Nothing here reads outside the bytes it is given.
#pragma once

#include "tools/platsim/logs/memory_error.h"

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace platsim::logs {

// Time text in the forms the logs write, to seconds since 1970 UTC:
// "2026-12-01 10:00:00 +0000" (rasdaemon), "2026-12-01T10:00:00.123456+01:00"
// (journalctl -o short-iso / short-iso-precise, "Z" too), "Tue Dec  1
// 10:00:00 2026" (dmesg -T, taken as UTC). No zone: UTC. nullopt otherwise.
std::optional<int64_t> ParseTimeText(std::string_view text);
// Seconds since 1970 as "2026-12-01 10:00:00 UTC", the form every report prints.
std::string UtcTimeText(int64_t seconds);
// "corrected" or "uncorrected".
const char* SeverityName(Severity severity);

// Kernel log text (dmesg, journalctl -k, /var/log/kern.log): the
// machine-check lines of each logged bank, assembled into one error, and the
// firmware-first memory error lines. `name` is how sources are written
// ("kern.log"). Lines that look like those but do not parse are Unparsed;
// other lines are counted in a note.
LogRead ReadKernelLog(std::string_view text, const std::string& file, const std::string& name);

// rasdaemon's database (tables mce_record, mc_event, extlog_event), opened
// read-only. Throws UserError with SQLite's message for a locked or damaged
// database, and names the missing tables of a database that is not
// rasdaemon's.
LogRead ReadRasdaemonDb(const std::string& file, const std::string& name);

// The kernel's packed compact memory error record (extlog_event.cper_data):
// the location fields its validation bits mark valid, or why it cannot be
// read (a length that is neither 54 nor 55 bytes).
struct CompactLocation {
  std::optional<CperLocation> location;
  std::string fault;
};
CompactLocation DecodeCompactMemoryError(std::span<const uint8_t> blob);

// Boot error regions, BERT and HEST tables and machine-check snapshots (the
// records platsim decode already reads): their memory error sections and
// logged banks; a damaged record's faults as Unparsed.
LogRead ReadRecordFile(std::span<const uint8_t> bytes, const std::string& file,
                       const std::string& name);

// Which kind of source the bytes are.
enum class SourceKind { kRasdaemonDb, kKernelLog, kRecords };
SourceKind DetectSource(std::span<const uint8_t> bytes);

// Severity of a machine-check status: UC (bit 61) uncorrected.
inline constexpr uint64_t kMciStatusVal = 1ULL << 63;
inline constexpr uint64_t kMciStatusUc = 1ULL << 61;
inline constexpr uint64_t kMciStatusAddrv = 1ULL << 58;

// A bank's address reading as the profile's bank map gives it.
struct BankRule {
  std::optional<uint32_t> bank;
  std::optional<uint64_t> ipid;
  uint32_t socket = 0, die = 0, channel = 0;
  bool normalized = false;
};
inline constexpr const char* kSystemAsReported = "system address, as the bank reported it";
inline constexpr const char* kSystemAsRecorded = "system address, as the record gives it";
// Sets kind and channel of every error: machine-check errors
// by the first rule that names their bank (a bank rule: the bank number, on
// the rule's socket when the error names one; an ipid rule: the identification
// value), else system as reported; the other errors: system as recorded.
void PlaceAddresses(std::vector<MemoryError>& errors, const std::vector<BankRule>& rules);

// Leaves out the errors whose time lies before `since` or after `until`
// (errors without a time stay), and says how many in a note.
void ApplyTimeWindow(LogRead& read, std::optional<int64_t> since, std::optional<int64_t> until);

// The same event read from two sources (the database and the kernel log):
// same cpu, bank, status and address, times at most `seconds` apart: kept
// once, with a note; same fields but times unknown or further apart: kept
// apart, with a note.
void MergeDuplicates(LogRead& read, int64_t seconds = 5);

}  // namespace platsim::logs
