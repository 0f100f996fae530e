#include "tools/platsim/faults/fault_analysis.h"

#include "addr_translate/dram/translate_norm_to_dram_addr.h"
#include "sim/dram/channel_config_store.h"
#include "sim/dram/channel_geometry.h"
#include "sim/dram/dram_to_normalized.h"
#include "tools/common/hex_text.h"
#include "tools/platsim/translate/dram_format.h"

#include <algorithm>
#include <map>
#include <set>
#include <tuple>

namespace platsim::faults {

namespace {

std::string ChannelText(uint32_t socket, uint32_t die, uint32_t channel) {
  return "socket " + std::to_string(socket) + " die " + std::to_string(die) + " channel " +
         std::to_string(channel);
}

bool SameCell(const DramAddress& a, const DramAddress& b) {
  return a.chipSelect == b.chipSelect && a.bank == b.bank && a.row == b.row && a.col == b.col &&
         a.rankMul == b.rankMul;
}

// The table's own copy for the reverse solver and the direct decode, which
// write its bankHashBits: the driver's table is never touched.
atd::ChannelConfigTable& TableCopy(TranslateSession& s) {
  struct Copy {
    bool taken = false;
    atd::ChannelConfigTable table{};
  };
  Copy& c = s.Platform().Extension<Copy>();
  if (!c.taken) {
    c.table = sim::dram::ChannelConfigOf(s.Platform());
    c.taken = true;
  }
  return c.table;
}

}  // namespace

const char* ModeName(Mode m) {
  switch (m) {
    case Mode::kCell:
      return "single cell";
    case Mode::kRow:
      return "single row";
    case Mode::kColumn:
      return "single column";
    case Mode::kBank:
      return "single bank";
    case Mode::kMultiBank:
      return "multiple banks";
    case Mode::kMultiRank:
      return "multiple ranks";
  }
  return "?";
}

const char* ModeKey(Mode m) {
  switch (m) {
    case Mode::kCell:
      return "cell";
    case Mode::kRow:
      return "row";
    case Mode::kColumn:
      return "column";
    case Mode::kBank:
      return "bank";
    case Mode::kMultiBank:
      return "multiBank";
    case Mode::kMultiRank:
      return "multiRank";
  }
  return "?";
}

Locator::Locator(TranslateSession& session) : session_(session) {}

std::optional<Placed> Locator::Place(const logs::MemoryError& e, size_t index,
                                     std::string& reason) {
  if (!e.address) {
    reason = "the record carries no address";
    return std::nullopt;
  }
  const uint64_t a = *e.address;
  if (e.kind == logs::AddressKind::kSystem) {
    auto it = known_.find(a);
    if (it == known_.end()) {
      if (known_.size() >= (1u << 16)) known_.clear();  // bounded: a log of scattered errors
      Known k;
      k.placed = PlaceSystem(a, k.reason);
      it = known_.emplace(a, std::move(k)).first;
    }
    reason = it->second.reason;
    if (!it->second.placed) return std::nullopt;
    Placed p = *it->second.placed;
    p.error = index;
    return p;
  }
  if (!e.channel) {
    reason = "normalized address " + tools::Hex64(a) + " without the channel it belongs to";
    return std::nullopt;
  }
  const uint32_t socket = e.channel->socket, die = e.channel->die, channel = e.channel->channel;
  Placed p;
  p.error = index;
  const std::string subject =
      "normalized address " + tools::Hex64(a) + " of " + ChannelText(socket, die, channel);
  try {
    const NormAnswer n = session_.Normalized(a, socket, die, channel);
    if (n.verdict != Verdict::Ok) {
      reason = subject + " " + n.error;
      return std::nullopt;
    }
    p.system = n.system;
  } catch (const UserError& x) {
    reason = subject + ": " + x.what();
    return std::nullopt;
  }
  if (!CheckGeometry(socket, die, channel, reason)) return std::nullopt;
  // The coordinates from the channel's table slot itself.
  atd::TranslateNormToDram(&TableCopy(session_), a, static_cast<uint8_t>(socket),
                           static_cast<uint8_t>(die), static_cast<uint8_t>(channel), &p.dram,
                           atd::DramMessageSink{nullptr, nullptr});
  p.dimm = {socket, die, channel, p.dram.chipSelect / 2u};
  return p;
}

std::optional<Placed> Locator::PlaceSystem(uint64_t address, std::string& reason) {
  const SysAnswer s = session_.System(address);
  if (s.verdict != Verdict::Ok) {
    reason = "system address " + tools::Hex64(address) + " " + s.error;
    return std::nullopt;
  }
  Placed p;
  p.dram = s.dram;
  p.system = address;
  if (!CheckGeometry(s.norm.socketId, s.norm.dieId, s.norm.channelId, reason)) return std::nullopt;
  p.dimm = {s.norm.socketId, s.norm.dieId, s.norm.channelId, p.dram.chipSelect / 2u};
  return p;
}

bool Locator::CheckGeometry(uint32_t socket, uint32_t die, uint32_t channel, std::string& reason) {
  const std::string none = NoDramReason(socket, die, channel);
  const unsigned slot = sim::dram::SlotOf(socket, die, channel);
  if (!none.empty())
    reason = none;
  else if (TableCopy(session_).csPresent[slot] == 0)
    reason =
        "channel slot " + std::to_string(slot) + " has no chip select populated: no DIMM geometry";
  if (reason.empty()) return true;
  reason = ChannelText(socket, die, channel) + ": " + reason;
  return false;
}

unsigned Locator::BankBits(const DimmKey& d, unsigned chipSelect) {
  const unsigned slot = sim::dram::SlotOf(d.socket, d.die, d.channel);
  const uint32_t cfg = TableCopy(session_).addrCfg[slot][chipSelect / 2];
  return atd::AddrCfg::BankBits(atd::AddrCfg::Noofbank::Get(cfg));
}

unsigned Locator::GroupBits(const DimmKey& d, unsigned chipSelect) {
  return sim::dram::BankGroupBits(sim::dram::DimmInfoOf(session_.Platform()),
                                  sim::dram::SlotOf(d.socket, d.die, d.channel),
                                  BankBits(d, chipSelect));
}

std::vector<uint64_t> Locator::RowPages(const DimmKey& d, const DramAddress& row) {
  const unsigned slot = sim::dram::SlotOf(d.socket, d.die, d.channel);
  atd::ChannelConfigTable& table = TableCopy(session_);
  const uint32_t cfg = table.addrCfg[slot][row.chipSelect / 2];
  const unsigned colBits = atd::AddrCfg::Noofcol::Get(cfg) + 5;
  std::set<uint64_t> pages;
  for (uint32_t col = 0; col < (1u << colBits); ++col) {
    DramAddress want = row;
    want.col = static_cast<uint16_t>(col);
    const sim::dram::DramToNormalized found = sim::dram::NormalizedFromDram(table, slot, want, 64);
    for (uint64_t n : found.addresses) {
      const NormAnswer a = session_.Normalized(n, d.socket, d.die, d.channel);
      if (a.verdict != Verdict::Ok || !SameCell(a.dram, want)) continue;
      // The bytes of one access; beyond a page they may cross into the next.
      const uint64_t bytes = uint64_t{1} << found.offsetBits;
      for (uint64_t off = 0; off < bytes; off += kPageSize)
        pages.insert((a.system + off) & ~(kPageSize - 1));
    }
  }
  return {pages.begin(), pages.end()};
}

namespace {

// A cell's errors, and the clusters of cells the classification builds.
using CellKey =
    std::tuple<uint32_t, uint32_t, uint32_t, uint32_t, uint32_t>;  // cs, rm, bank, row, col
using BankKey = std::tuple<uint32_t, uint32_t, uint32_t>;          // cs, rm, bank
using RankKey = std::pair<uint32_t, uint32_t>;                     // cs, rm

CellKey CellOf(const DramAddress& d) {
  return {d.chipSelect, d.rankMul, d.bank, d.row, d.col};
}

struct Cluster {
  Mode mode;
  std::vector<CellKey> cells;
};

// A bank's cells as row clusters (one row, several columns), then column
// clusters of what is left (one column, several rows), then single cells.
std::string WindowText(int64_t window) {
  if (window % 3600 == 0) return std::to_string(window / 3600) + " h";
  return std::to_string(window) + " s";
}

// Greedily, the largest structure first: the row or column that holds the
// most of the cells not yet taken (two or more; a row wins a tie), then each
// cell left on its own. A column fault crossed by a stray cell stays a column
// fault. Stops at `limit` clusters: the bank is then one bank fault.
std::vector<Cluster> ClustersOf(const std::vector<CellKey>& cells, size_t limit) {
  std::vector<Cluster> out;
  std::vector<CellKey> left = cells;
  while (out.size() < limit && !left.empty()) {
    std::map<uint32_t, size_t> rows, cols;
    for (const CellKey& c : left) {
      ++rows[std::get<3>(c)];
      ++cols[std::get<4>(c)];
    }
    auto most = [](const std::map<uint32_t, size_t>& m) {
      return *std::max_element(m.begin(), m.end(),
                               [](const auto& x, const auto& y) { return x.second < y.second; });
    };
    const auto row = most(rows), col = most(cols);
    if (std::max(row.second, col.second) < 2) break;
    const bool byRow = row.second >= col.second;
    Cluster c{byRow ? Mode::kRow : Mode::kColumn, {}};
    std::vector<CellKey> rest;
    for (const CellKey& k : left)
      ((byRow ? std::get<3>(k) == row.first : std::get<4>(k) == col.first) ? c.cells : rest)
          .push_back(k);
    out.push_back(std::move(c));
    left = std::move(rest);
  }
  for (size_t i = 0; i < left.size() && out.size() < limit; ++i)
    out.push_back({Mode::kCell, {left[i]}});
  return out;
}

// Most errors within any window of `window` seconds; errors without a time
// count in every window.
uint64_t PeakInWindow(std::vector<std::pair<int64_t, uint64_t>> timed, uint64_t untimed,
                      int64_t window) {
  std::sort(timed.begin(), timed.end());
  uint64_t best = 0, sum = 0;
  size_t from = 0;
  for (size_t i = 0; i < timed.size(); ++i) {
    sum += timed[i].second;
    while (timed[i].first - timed[from].first >= window) sum -= timed[from++].second;
    best = std::max(best, sum);
  }
  return best + untimed;
}

template <class T>
void AddSorted(std::vector<T>& v, T x) {
  auto it = std::lower_bound(v.begin(), v.end(), x);
  if (it == v.end() || *it != x) v.insert(it, x);
}

}  // namespace

Analysis Analyze(Locator& locator, const std::vector<logs::MemoryError>& errors,
                 const FaultOptions& options) {
  Analysis out;
  out.placed.reserve(errors.size());
  for (size_t i = 0; i < errors.size(); ++i) {
    std::string reason;
    if (auto p = locator.Place(errors[i], i, reason))
      out.placed.push_back(*p);
    else
      out.unattributed.push_back({i, reason});
  }

  // Per DIMM and severity, the placed errors of each cell.
  using Group = std::map<CellKey, std::vector<size_t>>;
  std::map<DimmKey, std::map<logs::Severity, Group>> dimms;
  for (size_t i = 0; i < out.placed.size(); ++i) {
    const Placed& p = out.placed[i];
    dimms[p.dimm][errors[p.error].severity][CellOf(p.dram)].push_back(i);
  }

  const sim::dram::DimmInfo& info = sim::dram::DimmInfoOf(locator.Session().Platform());
  for (auto& [key, bySeverity] : dimms) {
    DimmReport r;
    r.key = key;
    std::vector<std::pair<int64_t, uint64_t>> correctedTimes;
    uint64_t correctedUntimed = 0;
    uint32_t lowestCs = 255;
    for (auto& [severity, cells] : bySeverity) {
      // Cells by bank, banks by rank.
      std::map<BankKey, std::vector<CellKey>> banks;
      for (const auto& [cell, list] : cells) {
        banks[{std::get<0>(cell), std::get<1>(cell), std::get<2>(cell)}].push_back(cell);
        lowestCs = std::min(lowestCs, std::get<0>(cell));
      }
      std::map<RankKey, std::vector<BankKey>> ranks;
      for (const auto& [bank, list] : banks)
        ranks[{std::get<0>(bank), std::get<1>(bank)}].push_back(bank);

      std::vector<Cluster> found;
      // Faults that span a bank or more: two ranks with one make a
      // multi-rank fault.
      std::vector<Cluster> wideFaults;
      for (const auto& [rank, bankList] : ranks) {
        std::vector<CellKey> rankCells;
        for (const BankKey& b : bankList)
          rankCells.insert(rankCells.end(), banks[b].begin(), banks[b].end());
        if (bankList.size() >= options.spread) {
          wideFaults.push_back({Mode::kMultiBank, rankCells});
          continue;
        }
        for (const BankKey& b : bankList) {
          std::vector<Cluster> cl = ClustersOf(banks[b], options.spread);
          if (cl.size() >= options.spread)
            wideFaults.push_back({Mode::kBank, banks[b]});
          else
            found.insert(found.end(), cl.begin(), cl.end());
        }
      }
      std::set<uint32_t> wideRankSet;
      for (const Cluster& c : wideFaults)
        wideRankSet.insert(std::get<0>(c.cells.front()) << 8 | std::get<1>(c.cells.front()));
      if (wideRankSet.size() >= 2) {
        // Every cell of those ranks is one fault.
        std::vector<CellKey> all;
        for (const auto& [cell, list] : cells)
          if (wideRankSet.count(std::get<0>(cell) << 8 | std::get<1>(cell))) all.push_back(cell);
        std::vector<Cluster> kept;
        for (Cluster& c : found)
          if (!wideRankSet.count(std::get<0>(c.cells.front()) << 8 | std::get<1>(c.cells.front())))
            kept.push_back(std::move(c));
        found = std::move(kept);
        found.push_back({Mode::kMultiRank, all});
      } else {
        found.insert(found.end(), wideFaults.begin(), wideFaults.end());
      }

      for (const Cluster& c : found) {
        Fault f;
        f.mode = c.mode;
        f.severity = severity;
        std::vector<std::pair<int64_t, uint64_t>> times;
        uint64_t untimed = 0;
        for (const CellKey& cell : c.cells) {
          AddSorted(f.ranks, std::get<0>(cell));
          AddSorted(f.banks, std::get<2>(cell));
          AddSorted(f.rows, std::get<3>(cell));
          AddSorted(f.columns, std::get<4>(cell));
          for (size_t pi : cells[cell]) {
            f.placed.push_back(pi);
            const logs::MemoryError& e = errors[out.placed[pi].error];
            f.errors += e.count;
            if (e.time) {
              times.emplace_back(*e.time, e.count);
              f.first = f.first ? std::min(*f.first, *e.time) : *e.time;
              f.last = f.last ? std::max(*f.last, *e.time) : *e.time;
            } else {
              untimed += e.count;
            }
          }
        }
        f.peakInWindow = PeakInWindow(times, untimed, options.window);
        if (severity == logs::Severity::kCorrected) {
          correctedTimes.insert(correctedTimes.end(), times.begin(), times.end());
          correctedUntimed += untimed;
          r.corrected += f.errors;
        } else {
          r.uncorrected += f.errors;
        }

        const bool local = f.mode == Mode::kCell || f.mode == Mode::kRow || f.mode == Mode::kColumn;
        const bool uncorrected = severity == logs::Severity::kUncorrected;
        if (local && (uncorrected || f.peakInWindow >= options.pageThreshold)) {
          f.offline = true;
          f.repair = f.mode != Mode::kColumn;
          if (f.mode == Mode::kRow) {
            const Placed& p = out.placed[f.placed.front()];
            f.pages = locator.RowPages(key, p.dram);
          } else {
            for (size_t pi : f.placed) AddSorted(f.pages, out.placed[pi].system & ~(kPageSize - 1));
          }
          f.why = uncorrected ? "uncorrected errors"
                              : std::to_string(f.peakInWindow) + " corrected errors within " +
                                    WindowText(options.window) + " (threshold " +
                                    std::to_string(options.pageThreshold) + ")";
        } else if (local) {
          f.why = std::to_string(f.peakInWindow) + " corrected error" +
                  (f.peakInWindow == 1 ? "" : "s") + " within " + WindowText(options.window) +
                  ", below the threshold of " + std::to_string(options.pageThreshold) + ": watch";
        }
        if (uncorrected || !local) {
          f.replace = true;
          f.why = uncorrected ? "uncorrected errors" : std::string(ModeName(f.mode)) + " fault";
        }
        r.faults.push_back(std::move(f));
      }
    }
    r.correctedPeak = PeakInWindow(correctedTimes, correctedUntimed, options.window);
    for (const Fault& f : r.faults)
      if (f.replace && !r.replace) {
        r.replace = true;
        r.why = f.why;
      }
    if (!r.replace && r.correctedPeak >= options.dimmThreshold) {
      r.replace = true;
      r.why = std::to_string(r.correctedPeak) + " corrected errors within " +
              WindowText(options.window) + " (threshold " + std::to_string(options.dimmThreshold) +
              ")";
    }
    r.label = sim::dram::FindDimmLabel(info, key.socket, key.die, key.channel,
                                       lowestCs == 255 ? key.dimm * 2 : lowestCs);
    out.dimms.push_back(std::move(r));
  }
  return out;
}

}  // namespace platsim::faults
