// Memory errors to DRAM faults: every error placed on its DIMM (socket, die,
// channel, DIMM = chip selects 2n and 2n+1) and its cell (chip select, rank
// multiplier, bank, row, column) through the platform's own translations,
// then the errors of each DIMM grouped into faults by the taxonomy of the
// DRAM field studies: single cell, single row, single column, single bank,
// multiple banks, multiple ranks. Corrected and uncorrected errors form
// faults of their own. Each fault says what to do: the pages to offline, the
// coordinates a row repair needs, or that the DIMM is to be replaced.
//
// The library is separate from the command (cmd_faults.cpp) so that the tests
// call it with errors they built themselves.
#pragma once

#include "dram_address.h"
#include "sim/dram/dimm_info.h"
#include "tools/platsim/logs/memory_error.h"
#include "tools/platsim/translate/translate_session.h"

#include <cstdint>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

namespace platsim::faults {

inline constexpr uint64_t kPageSize = 4096;

struct FaultOptions {
  // mcelog's defaults: a page with this many corrected errors within the
  // window is offlined; a DIMM with dimmThreshold corrected errors within it
  // is to be replaced.
  uint32_t pageThreshold = 2;
  uint32_t dimmThreshold = 10;
  int64_t window = 24 * 3600;  // seconds
  // A bank whose errors form this many separate cell, row and column
  // clusters is one bank fault; a rank with clusters in this many banks is
  // one multiple-bank fault.
  uint32_t spread = 3;
};

struct DimmKey {
  uint32_t socket = 0, die = 0, channel = 0, dimm = 0;  // dimm: chip select / 2
  auto operator<=>(const DimmKey&) const = default;
};

// One error on its cell.
struct Placed {
  size_t error = 0;  // index into the errors given to Analyze
  DimmKey dimm;
  DramAddress dram{};
  uint64_t system = 0;  // the system address (slot 1 for a normalized one)
};

struct Unattributed {
  size_t error = 0;
  std::string reason;
};

// Places errors through one TranslateSession (the platform started once).
class Locator {
 public:
  explicit Locator(TranslateSession& session);
  // The error's cell, or the reason it has none on this platform.
  std::optional<Placed> Place(const logs::MemoryError& e, size_t index, std::string& reason);
  // Every 4 KiB system page holding part of a row: the row's columns through
  // the reverse DRAM -> normalized translation, then slot 1. Ascending,
  // distinct.
  std::vector<uint64_t> RowPages(const DimmKey& dimm, const DramAddress& row);
  // Bank bits and bank-group bits of a chip select of a channel.
  unsigned BankBits(const DimmKey& dimm, unsigned chipSelect);
  unsigned GroupBits(const DimmKey& dimm, unsigned chipSelect);
  TranslateSession& Session() { return session_; }

 private:
  std::optional<Placed> PlaceSystem(uint64_t address, std::string& reason);
  // False, with the reason, when the channel has no DIMM geometry.
  bool CheckGeometry(uint32_t socket, uint32_t die, uint32_t channel, std::string& reason);

  TranslateSession& session_;
  // Logs repeat the addresses of a fault: each system address is translated
  // once.
  struct Known {
    std::optional<Placed> placed;
    std::string reason;
  };
  std::unordered_map<uint64_t, Known> known_;
};

enum class Mode { kCell, kRow, kColumn, kBank, kMultiBank, kMultiRank };
const char* ModeName(Mode m);  // "single cell", "single row", ...
const char* ModeKey(Mode m);   // "cell", "row", "column", "bank", "multiBank", "multiRank"

enum class Action { kNone, kOfflinePages, kRepair, kReplaceDimm };

struct Fault {
  Mode mode = Mode::kCell;
  logs::Severity severity = logs::Severity::kCorrected;
  std::vector<size_t> placed;  // indexes into Analysis::placed
  // Extent: the distinct ranks (chip select), banks, rows and columns.
  std::vector<uint32_t> ranks, banks, rows, columns;
  uint64_t errors = 0;        // sum of the errors' counts
  uint64_t peakInWindow = 0;  // most errors within one window
  std::optional<int64_t> first, last;
  // What to do: offline `pages` (cell, row, column faults that reached the
  // page threshold), repair the row or cell at `repair`, replace the DIMM.
  bool offline = false, repair = false, replace = false;
  std::vector<uint64_t> pages;
  std::string why;  // the reason for the action, or why there is none yet
};

struct DimmReport {
  DimmKey key;
  const sim::dram::DimmLabel* label = nullptr;  // of its lowest chip select with errors
  std::vector<Fault> faults;
  uint64_t corrected = 0, uncorrected = 0;
  uint64_t correctedPeak = 0;  // most corrected errors within one window
  bool replace = false;
  std::string why;  // why it is to be replaced
};

struct Analysis {
  std::vector<Placed> placed;
  std::vector<Unattributed> unattributed;
  std::vector<DimmReport> dimms;  // by key
};

// Places and classifies; RowPages for the row faults that are to be offlined.
Analysis Analyze(Locator& locator, const std::vector<logs::MemoryError>& errors,
                 const FaultOptions& options);

// The bank group and bank within the group of a bank number: the group is the
// high `groupBits` of the `bankBits`.
inline uint32_t BankGroupOf(uint32_t bank, unsigned bankBits, unsigned groupBits) {
  return bank >> (bankBits - groupBits);
}
inline uint32_t BankInGroup(uint32_t bank, unsigned bankBits, unsigned groupBits) {
  return bank & ((1u << (bankBits - groupBits)) - 1u);
}

}  // namespace platsim::faults
