// "processors": [ { "number": 1, "info": "01 00 02 00 00",
//                   "bankCount": 3,            (optional; default: banks given)
//                   "banks": [ { "msr1": "0x...", "msr5": "0x..." }, ... ] } ]
// Bank registers are named msr0..msr9 and msrA after n in
// MSR 0xC0002000 + 16 * bank + n; registers not named read 0.
#include "sim/mca/processors_section.h"

#include "sim/acpi/acpi_tables.h"
#include "sim/mca/mca_banks.h"

namespace sim::mca {

namespace {

using profile::Json;

const char* const kRegisterKeys[kBankRegisters] = {"msr0", "msr1", "msr2", "msr3", "msr4", "msr5",
                                                   "msr6", "msr7", "msr8", "msr9", "msrA"};

std::array<uint8_t, 5> LoadInfo(const Json& v, const std::string& path) {
  std::array<uint8_t, 5> info{};
  if (v.is_string()) {
    std::vector<uint8_t> bytes;
    try {
      bytes = acpi::ParseHexBytes(v.get<std::string>());
    } catch (const std::invalid_argument& e) {
      throw profile::ProfileError(path, e.what());
    }
    if (bytes.size() != 5) throw profile::ProfileError(path, "expected 5 bytes");
    for (unsigned i = 0; i < 5; ++i) info[i] = bytes[i];
  } else if (v.is_array()) {
    if (v.size() != 5) throw profile::ProfileError(path, "expected 5 bytes");
    for (unsigned i = 0; i < 5; ++i)
      info[i] =
          static_cast<uint8_t>(profile::Number(v[i], path + "[" + std::to_string(i) + "]", 0xFF));
  } else {
    throw profile::ProfileError(path, "expected 5 bytes as a hex string or an array");
  }
  return info;
}

}  // namespace

void LoadProcessorsSection(const Json& section, const std::string& path, Platform& platform) {
  if (!section.is_array()) throw profile::ProfileError(path, "expected an array of processors");
  for (size_t i = 0; i < section.size(); ++i) {
    const std::string p = path + "[" + std::to_string(i) + "]";
    const Json& cpu = section[i];
    profile::CheckKeys(cpu, p, {"number", "info", "bankCount", "banks"});
    const uint64_t number =
        profile::Number(profile::Required(cpu, p, "number"), p + ".number", 1023);
    std::array<uint8_t, 5> info{};
    if (cpu.contains("info")) info = LoadInfo(cpu["info"], p + ".info");
    AddProcessor(platform, number, info);
    const unsigned n = static_cast<unsigned>(number);

    size_t banks = 0;
    if (cpu.contains("banks")) {
      const Json& list = cpu["banks"];
      if (!list.is_array()) throw profile::ProfileError(p + ".banks", "expected an array of banks");
      if (list.size() > 255) throw profile::ProfileError(p + ".banks", "at most 255 banks");
      banks = list.size();
      for (size_t b = 0; b < list.size(); ++b) {
        const std::string bp = p + ".banks[" + std::to_string(b) + "]";
        profile::CheckKeys(list[b], bp,
                           {"msr0", "msr1", "msr2", "msr3", "msr4", "msr5", "msr6", "msr7", "msr8",
                            "msr9", "msrA"});
        for (unsigned r = 0; r < kBankRegisters; ++r) {
          if (list[b].contains(kRegisterKeys[r]))
            SetBankRegister(
                platform, n, static_cast<unsigned>(b), r,
                profile::Number(list[b][kRegisterKeys[r]], bp + "." + kRegisterKeys[r]));
        }
      }
    }
    const uint64_t count = cpu.contains("bankCount")
                               ? profile::Number(cpu["bankCount"], p + ".bankCount", 255)
                               : banks;
    SetBankCount(platform, n, static_cast<unsigned>(count));
  }
  PublishProcessorList(platform);
}

Json DumpProcessorsSection(Platform& platform) {
  const auto& list = Processors(platform).entries;
  if (list.empty()) return nullptr;
  Json out = Json::array();
  for (const auto& e : list) {
    Json cpu = Json::object();
    cpu["number"] = e.processorNumber;
    cpu["info"] = acpi::HexBytes({e.info, e.info + 5});
    const unsigned n = static_cast<unsigned>(e.processorNumber);
    const unsigned count = n < platform.cpus.size() ? BankCount(platform, n) : 0;
    cpu["bankCount"] = count;
    Json banks = Json::array();
    for (unsigned b = 0; b < count; ++b) {
      Json bank = Json::object();
      for (unsigned r = 0; r < kBankRegisters; ++r) {
        const uint64_t v = BankRegister(platform, n, b, r);
        if (v != 0) bank[kRegisterKeys[r]] = profile::Hex(v);
      }
      banks.push_back(bank);
    }
    cpu["banks"] = banks;
    out.push_back(cpu);
  }
  return out;
}

Json DefaultProcessorsSection() {
  // Two processors. Processor 0: bank 0 present and quiet, bank 1 with no
  // hardware behind it, bank 2 holding a corrected error with address and
  // misc, bank 3 present and quiet. Processor 1: an uncorrected error with
  // processor context corrupt in bank 1.
  return Json::parse(R"([
    { "number": 0, "info": "00 00 00 00 00",
      "banks": [
        { "msr0": "0xFFFFFFFFFFFFFFFF", "msr5": "0x000000B000000000" },
        { },
        { "msr0": "0xFFFFFFFFFFFFFFFF", "msr1": "0x9C2040000000011B", "msr2": "0x00000001234567C0",
          "msr3": "0xD01A0FFF01000000", "msr4": "0x00000000000001E5", "msr5": "0x001000B000000000",
          "msr6": "0x0000005F00000000", "msrA": "0x00000000D0000000" },
        { "msr0": "0xFFFFFFFFFFFFFFFF", "msr5": "0x0000002E00000000" }
      ] },
    { "number": 1, "info": "01 00 00 01 00",
      "banks": [
        { "msr0": "0xFFFFFFFFFFFFFFFF", "msr5": "0x000000B000000000" },
        { "msr0": "0xFFFFFFFFFFFFFFFF", "msr1": "0xB600000000080135", "msr2": "0x0000000076543210",
          "msr3": "0xD000000000000000", "msr4": "0x00000000000001E5", "msr5": "0x0001009600000000",
          "msr6": "0x0000000000000000", "msr8": "0xB400000000000000", "msr9": "0x0000000076543200" }
      ] }
  ])");
}

}  // namespace sim::mca
