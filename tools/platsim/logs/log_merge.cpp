// What every reader's errors go through: the address reading of each
// machine-check bank, by the profile's bank map, and the events that two
// sources both recorded.
#include "tools/common/hex_text.h"
#include "tools/platsim/logs/log_text.h"

#include <map>
#include <tuple>

namespace platsim::logs {

void PlaceAddresses(std::vector<MemoryError>& errors, const std::vector<BankRule>& rules) {
  for (MemoryError& e : errors) {
    e.kind = AddressKind::kSystem;
    e.channel.reset();
    if (!e.mca) {
      e.addressReading = kSystemAsRecorded;
      continue;
    }
    e.addressReading = kSystemAsReported;
    const McaFields& f = *e.mca;
    for (const BankRule& r : rules) {
      const bool match =
          r.ipid ? (f.ipid && *f.ipid == *r.ipid)
                 : (r.bank && *r.bank == f.bank && (!f.socket || *f.socket == r.socket));
      if (!match) continue;
      if (r.normalized) {
        e.kind = AddressKind::kNormalized;
        e.channel = ChannelRef{r.socket, r.die, r.channel};
        e.addressReading = "normalized address of socket " + std::to_string(r.socket) + " die " +
                           std::to_string(r.die) + " channel " + std::to_string(r.channel) +
                           ", translated with slot 1";
      }
      break;
    }
  }
}

void MergeDuplicates(LogRead& read, int64_t seconds) {
  // Machine-check errors by (cpu, bank, status, address): the first of each
  // file stands; one of another file within `seconds` is the same event.
  using Key = std::tuple<uint32_t, uint32_t, uint64_t, uint64_t, bool>;
  std::map<Key, std::vector<size_t>> seen;
  std::vector<MemoryError> kept;
  kept.reserve(read.errors.size());
  for (MemoryError& e : read.errors) {
    if (!e.mca) {
      kept.push_back(std::move(e));
      continue;
    }
    const McaFields& f = *e.mca;
    const Key key{f.cpu, f.bank, f.status, e.address.value_or(0), e.address.has_value()};
    auto& list = seen[key];
    bool merged = false;
    for (const size_t i : list) {
      const MemoryError& k = kept[i];
      if (k.file == e.file) continue;  // one source does not log an event twice
      const bool near = k.time && e.time &&
                        (*k.time > *e.time ? *k.time - *e.time : *e.time - *k.time) <= seconds;
      if (near) {
        read.notes.push_back(
            e.source + " is the event of " + k.source + " (same cpu, bank, status and address, " +
            std::to_string(*k.time > *e.time ? *k.time - *e.time : *e.time - *k.time) +
            " s apart): counted once");
        merged = true;
        break;
      }
      read.notes.push_back(
          e.source + " and " + k.source + " have the same cpu, bank, status and address but " +
          (k.time && e.time ? "times more than " + std::to_string(seconds) + " s apart"
                            : std::string("no time to compare")) +
          ": kept apart");
    }
    if (merged) continue;
    list.push_back(kept.size());
    kept.push_back(std::move(e));
  }
  read.errors = std::move(kept);
}

}  // namespace platsim::logs
