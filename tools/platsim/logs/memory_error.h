// Memory errors as the logs of a running machine report them: rasdaemon's
// database, the kernel's log text, and the boot error regions and snapshots
// that decode already reads. Each reader turns its source into the same
// MemoryError, so that the fault analysis never needs to know where an error
// was read, and every error keeps the place it came from for the report.
#pragma once

#include "tools/platsim/cli/options.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace platsim::logs {

// Which address a record carries. A machine-check bank of a memory
// controller may log the channel's normalized address instead of a system
// address; the profile's bank map says which (never assumed silently).
enum class AddressKind { kSystem, kNormalized };

enum class Severity { kCorrected, kUncorrected };

// The channel a normalized address belongs to.
struct ChannelRef {
  uint32_t socket = 0, die = 0, channel = 0;
};

// The machine-check fields of a bank, as the kernel or rasdaemon logged them.
struct McaFields {
  uint32_t cpu = 0, bank = 0;
  std::optional<uint32_t> socket, apic;
  uint64_t status = 0;
  std::optional<uint64_t> addr, misc, synd, ipid;  // ipid: the bank's identification register
};

// A firmware-first memory error's location (the CPER memory error section:
// the kernel's "node: card: module: rank: bank: device: row: column:" line,
// or extlog_event's cper_data). Only the fields the record marked valid.
struct CperLocation {
  std::optional<uint32_t> node, card, module, rank, bank, device, row, column, bitPosition;
};

// A log of a fleet machine holds a million errors: what repeats from error
// to error (the input file's name, the head of the place it was read, the
// source's text) is shared, what few
// records have (a firmware-first location) is held apart, and what follows
// from other fields (the address reading) is not stored but derived
// (AddressReading).
struct MemoryError {
  // Where it was read (Source()): `where` and then `line` when `numbered`
  // ("ras-mc_event.db mce_record id " and 17, "kern.log line " and 42), else
  // `where` alone ("region.bin data entry at 0x14").
  std::shared_ptr<const std::string> where;
  std::shared_ptr<const std::string> file;  // the input file it came from (shared by its errors)
  uint64_t line = 0;                // line number (text) or row id (database); 0 when neither
  std::optional<int64_t> time;      // seconds since 1970-01-01 UTC, when the source gives one
  std::optional<uint64_t> address;  // none: the record carries no usable address
  AddressKind kind = AddressKind::kSystem;
  bool numbered = false;
  std::optional<ChannelRef> channel;  // set for kNormalized
  Severity severity = Severity::kCorrected;
  uint32_t count = 1;  // errors this one record stands for (mc_event err_count)
  std::optional<McaFields> mca;
  std::shared_ptr<const CperLocation> location;
  std::shared_ptr<const std::string> message;  // the source's own text (error_msg, err_msg)

  std::string Source() const {
    if (!where) return "";
    return numbered ? *where + std::to_string(line) : *where;
  }
  void SetSource(std::string text) {
    where = std::make_shared<const std::string>(std::move(text));
    numbered = false;
  }
  const std::string& File() const {
    static const std::string kNone;
    return file ? *file : kNone;
  }
  const std::string& Message() const {
    static const std::string kNone;
    return message ? *message : kNone;
  }
};

// Which address the error carries, as the output says it: "system address,
// as the bank reported it" (a machine-check bank), "system address, as the
// record gives it" (any other record), or "normalized address of socket 0 die
// 1 channel 2, translated with slot 1" (a bank the profile maps to a channel).
std::string AddressReading(const MemoryError& e);

// A line or row that could not be read as an error: counted and listed,
// never dropped.
struct Unparsed {
  std::string file;
  uint64_t line = 0;  // line number or row id
  std::string text;
  std::string reason;
  std::string where;  // "kern.log line 7", "ras-mc_event.db mce_record id 3"
};

struct LogRead {
  std::vector<MemoryError> errors;
  std::vector<Unparsed> unparsed;
  std::vector<std::string> notes;  // duplicates merged or kept apart, and why
};

struct ReadOptions {
  std::optional<int64_t> since, until;  // seconds since 1970 UTC; errors without a time are kept
  // A file the caller has already read (standard input "-", or a pipe), and
  // its bytes: ReadLogs does not read it again.
  std::optional<std::pair<std::string, std::vector<uint8_t>>> preread;
};

// Reads every file (each recognised by its content: rasdaemon's database,
// kernel log text, a boot error region, BERT or HEST table, a machine-check
// snapshot), placing machine-check addresses by the profile's bank map.
// Throws UserError for a file that cannot be read or is of no known kind.
LogRead ReadLogs(const std::vector<std::string>& files, const GlobalOptions& opts,
                 const ReadOptions& options);

}  // namespace platsim::logs
