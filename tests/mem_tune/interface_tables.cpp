#include "interface_tables.h"

#include <gtest/gtest.h>

#include <fstream>
#include <regex>
#include <sstream>
#include <stdexcept>
#include <string>

namespace mttest {
namespace {

const std::string kNone = "\u2014";  // an em dash: the cell is empty

// Each pattern compiled once: building a std::regex costs more than the
// whole table read, and every test process reads the tables at start-up.
const std::regex& kFieldWidth() {
  static const std::regex re(R"(^(0x[0-9A-F]+) \((\d+)\))");
  return re;
}
const std::regex& kFieldLowByte() {
  static const std::regex re(R"(^(0x[0-9A-F]+) \(low byte)");
  return re;
}
const std::regex& kRegisterBits() {
  static const std::regex re(R"(register (0x[0-9A-F]+) bits? (\d+)(?::(\d+))?)");
  return re;
}
const std::regex& kSettings() {
  static const std::regex re(R"(^settings (0x[0-9A-F]+))");
  return re;
}
const std::regex& kCopyOfByte() {
  static const std::regex re(R"(^copy of mailbox byte (0x[0-9A-F]+))");
  return re;
}
const std::regex& kRunOfBytes() {
  static const std::regex re(R"(^(\d+) \S+ 1$)");
  return re;
}

// The data rows of a table file: cells without their padding. Comment lines
// (#), the heading and the separator line are skipped.
std::vector<std::vector<std::string>> Rows(const std::string& name) {
  const std::string path = std::string(TIV_SOURCE_DIR) + "/tests/mem_tune/data/" + name;
  std::ifstream in(path);
  if (!in) throw std::runtime_error("cannot read " + path);
  std::vector<std::vector<std::string>> rows;
  for (std::string line; std::getline(in, line);) {
    if (line.rfind("| ", 0) != 0 || !std::isdigit(static_cast<unsigned char>(line[2]))) continue;
    std::vector<std::string> cells;
    std::istringstream cellsIn(line.substr(1));
    for (std::string cell; std::getline(cellsIn, cell, '|');) {
      const size_t a = cell.find_first_not_of(' '), b = cell.find_last_not_of(' ');
      cells.push_back(a == std::string::npos ? "" : cell.substr(a, b - a + 1));
    }
    rows.push_back(cells);
  }
  return rows;
}

uint32_t Number(const std::string& s) {
  return static_cast<uint32_t>(std::stoul(s, nullptr, 0));
}

// "0x16 (1)", "0x21 (low byte of the 2-byte field)".
std::optional<FieldRef> Field(const std::string& cell) {
  std::smatch m;
  if (std::regex_search(cell, m, kFieldWidth()))
    return FieldRef{uint16_t(Number(m[1])), uint8_t(Number(m[2]))};
  if (std::regex_search(cell, m, kFieldLowByte())) return FieldRef{uint16_t(Number(m[1])), 1};
  return std::nullopt;
}

std::optional<uint32_t> Optional(const std::string& cell) {
  if (cell == kNone) return std::nullopt;
  return Number(cell);
}

std::vector<ValueField> ReadValueFields() {
  std::vector<ValueField> out;
  for (const auto& r : Rows("mailbox_fields.txt")) {
    std::smatch m;
    ValueField v{};
    const std::string& src = r[2];
    if (std::regex_search(src, m, kRegisterBits())) {
      v.source = src.rfind("`MemClock`", 0) == 0 ? ValueField::Source::Clock
                                                 : ValueField::Source::Register;
      v.from = Number(m[1]);
      v.hi = Number(m[2]);
      v.lo = m[3].matched ? Number(m[3]) : v.hi;
    } else if (std::regex_search(src, m, kSettings())) {
      v.source = ValueField::Source::Settings;
      v.from = Number(m[1]);
    } else if (std::regex_search(src, m, kCopyOfByte())) {
      v.source = ValueField::Source::CopyOfByte;
      v.from = Number(m[1]);
    } else if (src == "set to 0") {
      v.source = ValueField::Source::Zero;
    } else if (src == "not touched") {
      v.source = ValueField::Source::Untouched;
    } else {
      continue;  // the caller's bytes 0xC8 and 0xC9, read only
    }
    v.field.offset = uint16_t(Number(r[0]));
    // "7 × 1": a run of single bytes, one entry each.
    if (std::regex_search(r[1], m, kRunOfBytes())) {
      for (uint32_t i = 0; i < Number(m[1]); ++i) {
        ValueField byte = v;
        byte.field = {uint16_t(v.field.offset + i), 1};
        if (v.source == ValueField::Source::Settings) byte.from = v.from + i;
        out.push_back(byte);
      }
    } else {
      v.field.width = uint8_t(Number(r[1]));
      out.push_back(v);
    }
  }
  return out;
}

}  // namespace

const std::vector<DispatchCommand>& DispatchCommands() {
  static const auto rows = [] {
    std::vector<DispatchCommand> out;
    for (const auto& r : Rows("dispatch_commands.txt"))
      out.push_back({Number(r[0]), Field(r[1]).value(), Optional(r[2]), Number(r[3])});
    return out;
  }();
  return rows;
}

const std::vector<SetupCommand>& SetupCommands() {
  static const auto rows = [] {
    std::vector<SetupCommand> out;
    for (const auto& r : Rows("setup_commands.txt")) {
      const bool clock = r[1].find("`MemClockTable`") != std::string::npos;
      out.push_back({Number(r[0]), Field(r[1]), clock, Field(r[2]), Optional(r[3])});
    }
    return out;
  }();
  return rows;
}

const std::map<uint32_t, std::pair<uint32_t, uint8_t>>& Tokens() {
  static const auto rows = [] {
    std::map<uint32_t, std::pair<uint32_t, uint8_t>> out;
    for (const auto& r : Rows("config_tokens.txt"))
      for (size_t i = 0; i + 2 < r.size() && !r[i].empty(); i += 3)
        out[Number(r[i])] = {Number(r[i + 1]), uint8_t(Number(r[i + 2]))};
    return out;
  }();
  return rows;
}

const std::vector<ValueField>& ValueFields() {
  static const auto rows = ReadValueFields();
  return rows;
}

// The tables as read: row counts and a few cells of each kind, so that a
// parsing fault cannot make the other tests pass vacuously.
TEST(InterfaceTables, ReadAsWritten) {
  EXPECT_EQ(DispatchCommands().size(), 48u);
  EXPECT_EQ(SetupCommands().size(), 60u);
  EXPECT_EQ(Tokens().size(), 67u);
  EXPECT_EQ(Tokens().at(18), (std::pair<uint32_t, uint8_t>{0x6574B2C0, 1}));
  const DispatchCommand& d = DispatchCommands()[6];
  EXPECT_EQ(d.command, 0x4000u);
  EXPECT_EQ(d.value.offset, 0x23);
  EXPECT_EQ(d.value.width, 2);
  EXPECT_EQ(d.enableItem, 44u);
  EXPECT_FALSE(DispatchCommands()[0].enableItem);
  EXPECT_TRUE(SetupCommands()[0].throughClockTable);
  EXPECT_EQ(SetupCommands()[6].source->width, 1);  // 0x3000: the low byte
  EXPECT_FALSE(SetupCommands()[38].setup);         // 0x600000: no change
  size_t registers = 0, settings = 0, runs = 0;
  for (const ValueField& v : ValueFields()) {
    registers += v.source == ValueField::Source::Register;
    settings += v.source == ValueField::Source::Settings;
    runs += v.field.offset >= 0x56 && v.field.offset <= 0x5C;
  }
  EXPECT_EQ(registers, 32u);
  EXPECT_EQ(settings, 26u);
  EXPECT_EQ(runs, 7u);
}

}  // namespace mttest
