// Decoded records for people (text) and for programs (JSON). Each physical
// address found (a memory error section's, a machine-check bank's address
// register) is handed to the caller's translator, whose answer is shown with
// it.
#pragma once

#include "tools/platsim/records/record_decode.h"

#include <nlohmann/json.hpp>

#include <functional>
#include <ostream>

namespace records {

struct Translation {
  std::string text;  // lines, each ending in '\n'
  nlohmann::ordered_json json;
};
// Empty: addresses are shown untranslated.
using Translator = std::function<Translation(uint64_t address)>;

void RenderText(const Decoded& d, const Translator& translate, std::ostream& out);
nlohmann::ordered_json RenderJson(const Decoded& d, const Translator& translate);

}  // namespace records
