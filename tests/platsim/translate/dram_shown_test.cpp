// DRAM coordinates as every command shows them: the coordinates where the
// channel has DIMM geometry, and where it has none (its ChannelConfigTable
// slot (socket + die) * 8 + channel is 16 or more) "none" with the reason in
// text and null with the reason in JSON, never the zeros the driver writes.
// The answers of a list have the keys of the one-address answer.
#include "tests/platsim/platsim_run.h"
#include "tests/platsim/records/record_bytes.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <functional>
#include <regex>
#include <set>
#include <sstream>

namespace {

using platsim_test::Exec;
using Json = nlohmann::ordered_json;

// The objects in `j` that hold `key`, depth first.
void Holders(const Json& j, const std::string& key, std::vector<Json>& out) {
  if (j.is_object() && j.contains(key)) out.push_back(j);
  if (j.is_structured())
    for (const Json& v : j) Holders(v, key, out);
}

std::set<std::string> Keys(const Json& j) {
  std::set<std::string> k;
  for (const auto& [key, value] : j.items()) k.insert(key);
  return k;
}

// The JSON documents of an output: one, or one per line (JSON Lines).
std::vector<Json> Documents(const std::string& out) {
  std::vector<Json> docs;
  if (!out.empty() && out[0] == '{' && out.find("\n{") == std::string::npos) {
    docs.push_back(Json::parse(out));
    return docs;
  }
  std::istringstream lines(out);
  for (std::string line; std::getline(lines, line);) docs.push_back(Json::parse(line));
  return docs;
}

TEST(PlatsimDramShown, CoordinatesOrNoneWithTheReasonInEveryCommand) {
  platsim_test::TempDir dir;
  struct Channel {
    const char* name;
    unsigned socket, die, channel;
    const char* system;      // an address the channel owns
    const char* normalized;  // its normalized address
    unsigned slot;           // (socket + die) * 8 + channel
  };
  const Channel channels[] = {
      {"with geometry", 0, 1, 2, "0x723456789", "0xB8D15B89", (0 + 1) * 8 + 2},
      {"without geometry", 1, 1, 2, "0xC50000000", "0x4000000", (1 + 1) * 8 + 2},
  };
  for (const Channel& c : channels) {
    SCOPED_TRACE(c.name);
    const bool has = c.slot < 16;
    const std::string reason = "channel slot " + std::to_string(c.slot) +
                               " is beyond the 16 slots of the channel configuration table: no "
                               "DIMM geometry";
    const std::string where =
        std::to_string(c.socket) + " " + std::to_string(c.die) + " " + std::to_string(c.channel);
    // A BERT region holding one memory error at the system address.
    record_bytes::Memory m;
    m.address = std::stoull(c.system, nullptr, 16);
    const auto entry = record_bytes::Entry(record_bytes::kMemoryGuid, m.Build());
    const std::string entryFile =
        dir.Write(std::string(c.name) + ".entry", std::string(entry.begin(), entry.end()));
    const std::string dump = dir.Path(c.name);
    ASSERT_EQ(
        Exec("acpi append-bert --kind 2 --severity 1 '" + entryFile + "' --dump '" + dump + "'")
            .exit,
        0);
    const std::string region = "'" + dump + "/BERT-region.bin'";

    struct Command {
      std::string args;
      const char* key;  // of the coordinates in JSON
      bool list;        // JSON Lines, one answer per input line
    };
    const std::string norm = std::string(c.normalized) + " --socket " + std::to_string(c.socket) +
                             " --die " + std::to_string(c.die) + " --channel " +
                             std::to_string(c.channel);
    const Command commands[] = {
        {std::string("translate sys ") + c.system, "dram", false},
        {"translate norm " + norm, "dram", false},
        {"translate sys - < " + dir.Write("sys.txt", std::string(c.system) + "\n"), "dram", true},
        {"translate norm - < " + dir.Write("norm.txt", std::string(c.normalized) + " " + where),
         "dram", true},
        {"decode " + region, "dram", false},
        {"map", "dimms", false},
    };
    for (const Command& cmd : commands) {
      SCOPED_TRACE(cmd.args);
      const auto text = Exec(cmd.args);
      ASSERT_EQ(text.exit, 0) << text.err;
      std::string shown = text.out;  // the map: the channel's row only
      if (std::string(cmd.key) == "dimms") {
        std::smatch row;
        const std::regex rowOf("(^|\n)" + std::to_string(c.socket) + " +" + std::to_string(c.die) +
                               " +" + std::to_string(c.channel) + " [^\n]*");
        ASSERT_TRUE(std::regex_search(text.out, row, rowOf)) << text.out;
        shown = row.str();
      }
      const bool none = shown.find("none (" + reason + ")") != std::string::npos;
      EXPECT_EQ(none, !has) << shown;
      EXPECT_EQ(shown.find(has ? "none (" : "chip select"), std::string::npos) << shown;

      const auto json = Exec("--json " + cmd.args);
      ASSERT_EQ(json.exit, 0) << json.err;
      std::vector<Json> holders;
      for (const Json& doc : Documents(json.out)) Holders(doc, cmd.key, holders);
      std::erase_if(holders, [&](const Json& h) {
        return h.contains("socket") &&
               (h["socket"] != c.socket || h["channel"] != c.channel || h["die"] != c.die);
      });
      ASSERT_EQ(holders.size(), 1u) << json.out;
      const Json& h = holders[0];
      if (has) {
        EXPECT_TRUE(h[cmd.key].is_object()) << h;
        EXPECT_FALSE(h.contains("dramNote")) << h;
      } else {
        EXPECT_TRUE(h[cmd.key].is_null()) << h;
        EXPECT_EQ(h.value("dramNote", ""), reason) << h;
        EXPECT_TRUE(h.value("dramBack", Json()).is_null()) << h;
      }
      if (!cmd.list) continue;
      // A list's answer: the keys of the one-address answer, and its line.
      const std::string one = cmd.args.substr(0, cmd.args.find(" - ")) + " " +
                              (cmd.args.find("sys") != std::string::npos ? c.system : norm);
      const auto single = Exec("--json " + one);
      // (The list names the platform once, on standard error.)
      Json answer = h;
      answer.erase("line");
      Json oneAnswer = Json::parse(single.out);
      oneAnswer.erase("platform");
      EXPECT_EQ(Keys(answer), Keys(oneAnswer)) << h << "\n" << single.out;
    }
  }
}

}  // namespace
