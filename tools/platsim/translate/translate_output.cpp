#include "tools/platsim/translate/translate_output.h"

#include "tools/platsim/translate/translate_session.h"
#include "tools/common/hex_text.h"

#include <cstdio>

namespace platsim {

std::string SystemSubject(uint64_t address) {
  return "system address " + tools::Hex64(address);
}

std::string NormalizedSubject(uint64_t normalized, uint64_t socket, uint64_t die,
                              uint64_t channel) {
  return "normalized address " + tools::Hex64(normalized) + " of socket " + std::to_string(socket) +
         " die " + std::to_string(die) + " channel " + std::to_string(channel);
}

void PrintFabricReads(std::ostream& out, const std::vector<sim::fabric::FabricRead>& reads) {
  out << "\nfabric register reads (" << reads.size() << "):\n";
  int i = 0;
  for (const auto& rd : reads) {
    char idx[16];
    std::snprintf(idx, sizeof idx, "%4d  ", ++i);
    out << idx << sim::fabric::ToString(rd) << "\n";
  }
}

sim::profile::Json FabricReadsJson(const std::vector<sim::fabric::FabricRead>& reads) {
  using sim::profile::Json;
  Json list = Json::array();
  for (const auto& rd : reads) {
    Json e = Json::object();
    e["node"] = rd.node;
    e["function"] = rd.function;
    e["offset"] = tools::Hex(rd.offset);
    if (rd.instance == sim::fabric::kBroadcast)
      e["instance"] = "broadcast";
    else
      e["instance"] = rd.instance;
    e["value"] = tools::Hex(rd.value);
    const std::string name = sim::fabric::FabricRegisterName(rd.function, rd.offset);
    if (!name.empty()) e["register"] = name;
    list.push_back(std::move(e));
  }
  return list;
}

}  // namespace platsim
