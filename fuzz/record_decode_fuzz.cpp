// The error-record decoder on random bytes. Input: byte 0 picks what the
// bytes are taken for (auto-detected, boot error region, BERT table with a
// region, HEST, machine-check snapshot, or the section of a generic processor
// or platform memory entry inside a well-formed region), bytes 1-2 split a
// BERT's table from its region (for a section: its Block Status bits and
// the entry's header validation bits and severity), the rest are the record. Table and region each
// get a buffer of their exact size, so the sanitizers catch any read past either. Every decode is
// rendered as text and as JSON; every fault reported must lie inside the input it names, and the
// JSON must serialise.
#include "tools/platsim/records/record_render.h"

#include <algorithm>
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
  const unsigned pick = data[0] % 7;
  const records::Kind kind = pick < 5 ? kKinds[pick] : records::Kind::kRegion;
  size_t split = data[1] | size_t{data[2]} << 8;
  const uint8_t* rest = data + 3;
  const size_t restSize = size - 3;
  if (split > restSize) split = restSize;
  const bool withRegion = kind == records::Kind::kBert;
  std::vector<uint8_t> main(rest, rest + (withRegion ? split : restSize));
  const std::vector<uint8_t> region(rest + (withRegion ? split : restSize), rest + restSize);
  if (pick >= 5) {
    // A status block and one timestamped entry header around the bytes, so
    // that the section decoders see every length and every validation bit.
    const records::GuidBytes& type =
        pick == 5 ? records::kProcessorGenericSection : records::kPlatformMemorySection;
    std::vector<uint8_t> r(20 + 72, 0);
    const auto put = [&](size_t at, uint64_t v, unsigned width) {
      for (unsigned i = 0; i < width; ++i) r[at + i] = static_cast<uint8_t>(v >> (8 * i));
    };
    put(0, data[1] | 1u << 4, 4);   // Block Status, one entry
    put(4, 20 + 72 + restSize, 4);  // Raw Data Offset
    put(12, 72 + restSize, 4);      // Data Length
    put(16, data[2] >> 4, 4);       // Error Severity
    std::memcpy(&r[20], type.data(), 16);
    put(20 + 16, data[2] & 7, 4);                                   // entry Error Severity
    put(20 + 20, 0x300, 2);                                         // Revision
    r[20 + 22] = data[2] >> 3 & 7;                                  // header validation bits
    put(20 + 24, restSize, 4);                                      // Error Data Length
    std::memcpy(&r[20 + 64], rest, std::min<size_t>(restSize, 8));  // timestamp
    r.insert(r.end(), rest, rest + restSize);
    main = std::move(r);
  }

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
