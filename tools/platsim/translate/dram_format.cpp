#include "tools/platsim/translate/dram_format.h"

#include "registers/channel_config.h"
#include "sim/dram/channel_geometry.h"
#include "tools/common/hex_text.h"

namespace platsim {

namespace {

// The writer interface of tools::LineWriter on a string.
class StringOut {
 public:
  StringOut& operator<<(std::string_view s) {
    text_ += s;
    return *this;
  }
  StringOut& operator<<(char c) {
    text_ += c;
    return *this;
  }
  StringOut& Dec(uint64_t v) { return *this << std::string_view(std::to_string(v)); }
  StringOut& Hex(uint64_t v) { return *this << std::string_view(tools::Hex(v)); }
  std::string Take() { return std::move(text_); }

 private:
  std::string text_;
};

}  // namespace

std::string NoDramReason(unsigned socket, unsigned die, unsigned channel) {
  const unsigned slot = sim::dram::SlotOf(socket, die, channel);
  if (slot < atd::kChannelSlots) return "";
  return "channel slot " + std::to_string(slot) + " is beyond the " +
         std::to_string(atd::kChannelSlots) +
         " slots of the channel configuration table: no DIMM geometry";
}

std::string DramText(const ShownDram& s) {
  StringOut out;
  WriteDramText(out, s);
  return out.Take();
}

sim::profile::Json DramJson(const ShownDram& s) {
  StringOut out;
  WriteDramJson(out, s);
  return sim::profile::Json::parse(out.Take());
}

void AddDramJson(sim::profile::Json& j, const char* key, const ShownDram& s) {
  j[key] = DramJson(s);
  if (!s.Has()) j[kDramNoteKey] = s.none;
}

}  // namespace platsim
