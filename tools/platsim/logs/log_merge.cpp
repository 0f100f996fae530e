// What every reader's errors go through: the address reading of each
// machine-check bank, by the profile's bank map, and the events that two
// sources both recorded.
#include "tools/common/hex_text.h"
#include "tools/platsim/logs/log_text.h"

#include <map>
#include <tuple>

namespace platsim::logs {

std::string AddressReading(const MemoryError& e) {
  if (e.kind == AddressKind::kNormalized && e.channel)
    return "normalized address of socket " + std::to_string(e.channel->socket) + " die " +
           std::to_string(e.channel->die) + " channel " + std::to_string(e.channel->channel) +
           ", translated with slot 1";
  return e.mca ? kSystemAsReported : kSystemAsRecorded;
}

void PlaceAddresses(std::vector<MemoryError>& errors, const std::vector<BankRule>& rules) {
  for (MemoryError& e : errors) {
    e.kind = AddressKind::kSystem;
    e.channel.reset();
    if (!e.mca) continue;
    const McaFields& f = *e.mca;
    for (const BankRule& r : rules) {
      const bool match =
          r.ipid ? (f.ipid && *f.ipid == *r.ipid)
                 : (r.bank && *r.bank == f.bank && (!f.socket || *f.socket == r.socket));
      if (!match) continue;
      if (r.normalized) {
        e.kind = AddressKind::kNormalized;
        e.channel = ChannelRef{r.socket, r.die, r.channel};
      }
      break;
    }
  }
}

void ApplyTimeWindow(LogRead& read, std::optional<int64_t> since, std::optional<int64_t> until) {
  if (!since && !until) return;
  size_t before = 0, after = 0, out = 0;
  for (size_t in = 0; in < read.errors.size(); ++in) {
    MemoryError& e = read.errors[in];
    if (e.time && since && *e.time < *since) {
      ++before;
    } else if (e.time && until && *e.time > *until) {
      ++after;
    } else {
      if (out != in) read.errors[out] = std::move(e);
      ++out;
    }
  }
  read.errors.resize(out);
  if (before + after != 0)
    read.notes.push_back(
        std::to_string(before + after) + " error record(s) outside the time window left out (" +
        std::to_string(before) + " before --since, " + std::to_string(after) + " after --until)");
}

void MergeDuplicates(LogRead& read, int64_t seconds) {
  // Machine-check errors by (cpu, bank, status, address): the first of each
  // file stands; one of another file within `seconds` is the same event. One
  // source does not log an event twice, so errors of one file are never
  // compared (nor is anything when all come from one file).
  std::map<std::string, uint32_t, std::less<>> fileIds;
  for (const MemoryError& e : read.errors)
    if (fileIds.find(e.File()) == fileIds.end())
      fileIds.emplace(e.File(), static_cast<uint32_t>(fileIds.size()));
  if (fileIds.size() < 2) return;
  using Key = std::tuple<uint32_t, uint32_t, uint64_t, uint64_t, bool>;
  struct Seen {
    size_t index;
    uint32_t file;
  };
  std::map<Key, std::vector<Seen>> seen;
  std::vector<std::string> notes;
  size_t out = 0;
  for (size_t in = 0; in < read.errors.size(); ++in) {
    MemoryError& e = read.errors[in];
    bool merged = false;
    if (e.mca) {
      const McaFields& f = *e.mca;
      const uint32_t file = fileIds.find(e.File())->second;
      auto& list = seen[Key{f.cpu, f.bank, f.status, e.address.value_or(0), e.address.has_value()}];
      for (const Seen& s : list) {
        if (s.file == file) continue;
        const MemoryError& k = read.errors[s.index];
        const int64_t apart =
            k.time && e.time ? (*k.time > *e.time ? *k.time - *e.time : *e.time - *k.time) : -1;
        if (apart >= 0 && apart <= seconds) {
          notes.push_back(e.Source() + " is the event of " + k.Source() +
                          " (same cpu, bank, status and address, " + std::to_string(apart) +
                          " s apart): counted once");
          merged = true;
          break;
        }
        notes.push_back(e.Source() + " and " + k.Source() +
                        " have the same cpu, bank, status and address but " +
                        (apart >= 0 ? "times more than " + std::to_string(seconds) + " s apart"
                                    : std::string("no time to compare")) +
                        ": kept apart");
      }
      if (!merged) list.push_back(Seen{out, file});
    }
    if (merged) continue;
    if (out != in) read.errors[out] = std::move(e);
    ++out;
  }
  read.errors.resize(out);
  for (auto& n : notes) read.notes.push_back(std::move(n));
}

}  // namespace platsim::logs
