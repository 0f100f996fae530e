#include "sim/mca/bank_map_section.h"

namespace sim::mca {

using profile::Json;

BankAddressMap& BankAddresses(Platform& platform) {
  return platform.Extension<BankAddressMap>();
}

void LoadMcaBanksSection(const Json& section, const std::string& path, Platform& platform) {
  if (!section.is_array()) throw profile::ProfileError(path, "expected an array of banks");
  std::vector<BankAddressRule> rules;
  for (size_t i = 0; i < section.size(); ++i) {
    const std::string p = path + "[" + std::to_string(i) + "]";
    const Json& e = section[i];
    profile::CheckKeys(e, p, {"bank", "ipid", "socket", "die", "channel", "address"});
    BankAddressRule r;
    if (e.contains("bank") == e.contains("ipid"))
      throw profile::ProfileError(p,
                                  "give the bank either by \"bank\" or by \"ipid\", one of them");
    if (e.contains("bank"))
      r.bank = static_cast<uint32_t>(profile::Number(e["bank"], p + ".bank", 0xFFFFFFFF));
    if (e.contains("ipid")) r.ipid = profile::Number(e["ipid"], p + ".ipid");
    if (e.contains("socket"))
      r.socket = static_cast<uint32_t>(profile::Number(e["socket"], p + ".socket", 0xFFFFFFFF));
    if (e.contains("die"))
      r.die = static_cast<uint32_t>(profile::Number(e["die"], p + ".die", 0xFFFFFFFF));
    if (e.contains("channel"))
      r.channel = static_cast<uint32_t>(profile::Number(e["channel"], p + ".channel", 0xFFFFFFFF));
    const Json& a = profile::Required(e, p, "address");
    if (!a.is_string() ||
        (a.get<std::string>() != "system" && a.get<std::string>() != "normalized"))
      throw profile::ProfileError(p + ".address",
                                  "expected \"system\" or \"normalized\", found " + a.dump());
    r.normalized = a.get<std::string>() == "normalized";
    rules.push_back(r);
  }
  BankAddresses(platform).rules = std::move(rules);
}

Json DumpMcaBanksSection(Platform& platform) {
  const auto& rules = BankAddresses(platform).rules;
  if (rules.empty()) return nullptr;
  Json out = Json::array();
  for (const auto& r : rules) {
    Json e = Json::object();
    if (r.bank) e["bank"] = *r.bank;
    if (r.ipid) e["ipid"] = profile::Hex(*r.ipid);
    e["socket"] = r.socket;
    e["die"] = r.die;
    e["channel"] = r.channel;
    e["address"] = r.normalized ? "normalized" : "system";
    out.push_back(e);
  }
  return out;
}

}  // namespace sim::mca
