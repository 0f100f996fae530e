// Decoded records for people (text) and for programs (JSON). Each physical
// address found (a memory error section's, a machine-check bank's address
// register) is handed to the caller's translator, whose answer is shown with
// it; where a memory error section records DRAM coordinates of its own, the
// two are set side by side.
#pragma once

#include "tools/platsim/records/record_decode.h"

#include <nlohmann/json.hpp>

#include <functional>
#include <optional>
#include <ostream>

namespace records {

// Where a translation put an address: the owner's node and the DRAM
// coordinates, to set beside the ones a memory error section records.
struct Place {
  uint64_t node = 0, bank = 0, row = 0, column = 0;
};

struct Translation {
  std::string text;  // lines, each ending in '\n'
  nlohmann::ordered_json json;
  std::string platform;        // the platform it was made on, as a phrase; empty: not said
  std::optional<Place> place;  // empty when the address was not translated to DRAM
};
// Empty: addresses are shown untranslated.
using Translator = std::function<Translation(uint64_t address)>;

void RenderText(const Decoded& d, const Translator& translate, std::ostream& out);
nlohmann::ordered_json RenderJson(const Decoded& d, const Translator& translate);

}  // namespace records
