// The error-record decoder on random bytes. Input: byte 0 picks what the
// bytes are taken for (auto-detected, boot error region, BERT table with a
// region, HEST, machine-check snapshot), bytes 1-2 split a BERT's table from
// its region, the rest are the record. Table and region each get a buffer of
// their exact size, so the sanitizers catch any read past either. Every
// decode is rendered as text and as JSON; every fault reported must lie
// inside the input it names, and the JSON must serialise.
#include "tools/platsim/records/record_render.h"

#include <cstring>
#include <sstream>
#include <vector>

namespace {

void Check(bool ok) {
  if (!ok) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 3) return 0;
  static const records::Kind kKinds[] = {records::Kind::kAuto, records::Kind::kRegion,
                                         records::Kind::kBert, records::Kind::kHest,
                                         records::Kind::kMca};
  const records::Kind kind = kKinds[data[0] % 5];
  size_t split = data[1] | size_t{data[2]} << 8;
  const uint8_t* rest = data + 3;
  const size_t restSize = size - 3;
  if (split > restSize) split = restSize;
  const bool withRegion = kind == records::Kind::kBert;
  const std::vector<uint8_t> main(rest, rest + (withRegion ? split : restSize));
  const std::vector<uint8_t> region(rest + (withRegion ? split : restSize), rest + restSize);

  const records::Decoded d = records::Decode(
      main, kind, withRegion ? std::optional<std::span<const uint8_t>>(region) : std::nullopt);

  for (const auto& x : d.damage) {
    if (!x.offset) continue;
    const size_t limit = x.input == "region" && withRegion ? region.size() : main.size();
    Check(*x.offset <= limit);
  }
  if (d.region) Check(d.region->size == main.size());
  if (d.bert && d.bert->region) Check(d.bert->region->size <= region.size());

  size_t translated = 0;
  const records::Translator translate = [&](uint64_t address) {
    ++translated;
    records::Translation t;
    t.text = "address " + std::to_string(address) + "\n";
    t.json["systemAddress"] = address;
    return t;
  };
  std::ostringstream text;
  records::RenderText(d, translate, text);
  const size_t textCalls = translated;
  const std::string json =
      records::RenderJson(d, translate)
          .dump(2, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
  Check(translated == 2 * textCalls);  // the same addresses in both forms
  Check(!json.empty());
  return 0;
}
