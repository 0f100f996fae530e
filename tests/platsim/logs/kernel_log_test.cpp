// The kernel log reader on the lines the kernel prints: machine-check banks
// with and without dmesg/journalctl prefixes, firmware-first memory errors in
// both location forms, broken lines (Unparsed, with their line numbers) and
// a log of both kinds mixed with unrelated lines.
#include "tools/platsim/logs/log_text.h"

#include <gtest/gtest.h>

namespace {

using platsim::logs::LogRead;
using platsim::logs::ReadKernelLog;
using platsim::logs::Severity;

// 2026-12-01 10:00:00 UTC: 20788 days after 1970-01-01.
constexpr int64_t kDec1 = 20788LL * 86400 + 10 * 3600;

const char* const kMceBank =
    "mce: [Hardware Error]: CPU 3: Machine Check: 0 Bank 5: 9c00000000000000\n"
    "mce: [Hardware Error]: TSC 0 ADDR 8002240 MISC d012000100000000 SYND 4d000000 IPID "
    "1002e00000000\n"
    "mce: [Hardware Error]: PROCESSOR 2:a20f10 TIME 1796119200 SOCKET 1 APIC 6 microcode a201016\n";

struct Expect {
  size_t errors;
  std::vector<uint64_t> unparsedLines;
  // The first error:
  std::optional<uint64_t> address;
  uint64_t line = 0;
  std::optional<int64_t> time;
  Severity severity = Severity::kCorrected;
};

struct Case {
  const char* name;
  std::string text;
  Expect want;
};

std::string Prefixed(const std::string& prefix, const std::string& lines) {
  std::string out;
  size_t at = 0;
  while (at < lines.size()) {
    const size_t end = lines.find('\n', at);
    out += prefix + lines.substr(at, end - at) + "\n";
    at = end + 1;
  }
  return out;
}

TEST(KernelLog, ReadsWhatTheKernelPrints) {
  const std::string ff1 =
      "{1}[Hardware Error]: Hardware error from APEI Generic Hardware Error Source: 1\n"
      "{1}[Hardware Error]: event severity: recoverable\n"
      "{1}[Hardware Error]:  Error 0, type: recoverable\n"
      "{1}[Hardware Error]:   section_type: memory error\n"
      "{1}[Hardware Error]:   physical_address: 0x000000b50c68ce80\n"
      "{1}[Hardware Error]:   node: 1 card: 4 module: 0 rank: 0 bank: 1 device: 14 row: 58165 "
      "column: 816\n"
      "{1}[Hardware Error]:   error_type: 2, single-bit ECC\n";
  const std::vector<Case> cases = {
      {"bare machine check", kMceBank, {1, {}, 0x8002240, 1, 1796119200}},
      {"dmesg seconds since boot",
       Prefixed("[  100.123456] ", kMceBank),
       {1, {}, 0x8002240, 1, 1796119200}},
      {"journalctl short-iso",
       Prefixed("2026-12-01T10:00:00+0000 host kernel: ", kMceBank),
       {1, {}, 0x8002240, 1, 1796119200}},
      {"uncorrected, no ADDRV: no address",
       "mce: [Hardware Error]: CPU 0: Machine Check Exception: 5 Bank 1: b200000000000000\n"
       "mce: [Hardware Error]: TSC 1 ADDR 1234\n"
       "mce: [Hardware Error]: PROCESSOR 2:a20f10 TIME 1796119200 SOCKET 0 APIC 0 microcode 1\n",
       {1, {}, std::nullopt, 1, 1796119200, Severity::kUncorrected}},
      {"firmware first, spaced location, dmesg -T time",
       Prefixed("[Tue Dec  1 10:00:00 2026] ", ff1),
       {1, {}, 0xb50c68ce80, 5, kDec1, Severity::kUncorrected}},
      {"broken lines are listed with their numbers",
       "mce: [Hardware Error]: CPU x: Machine Check: 0 Bank 5: 9c00000000000000\n"
       "mce: [Hardware Error]: TSC 0 ADDR 8002240\n"
       "{1}[Hardware Error]:   physical_address: 0xzz\n"
       "{1}[Hardware Error]:   node:1 card:x\n"
       "{1}[Hardware Error]: event severity: odd\n",
       {0, {1, 2, 3, 4, 5}, std::nullopt, 0, std::nullopt}},
      {"a bank without its PROCESSOR line is kept",
       "mce: [Hardware Error]: CPU 3: Machine Check: 0 Bank 5: 9c00000000000000\n"
       "mce: [Hardware Error]: TSC 0 ADDR 8002240\n",
       {1, {}, 0x8002240, 1, std::nullopt}},
      {"VAL clear is not an error",
       "mce: [Hardware Error]: CPU 3: Machine Check: 0 Bank 5: 1c00000000000000\n",
       {0, {1}, std::nullopt, 0, std::nullopt}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const LogRead r = ReadKernelLog(c.text, "kern.log", "kern.log");
    ASSERT_EQ(r.errors.size(), c.want.errors);
    std::vector<uint64_t> lines;
    for (const auto& u : r.unparsed) lines.push_back(u.line);
    EXPECT_EQ(lines, c.want.unparsedLines);
    if (c.want.errors == 0) continue;
    EXPECT_EQ(r.errors[0].address, c.want.address);
    EXPECT_EQ(r.errors[0].line, c.want.line);
    EXPECT_EQ(r.errors[0].time, c.want.time);
    EXPECT_EQ(r.errors[0].severity, c.want.severity);
  }
}

TEST(KernelLog, FieldsAndBothLocationForms) {
  const LogRead r = ReadKernelLog(
      std::string(kMceBank) +
          "{1}[Hardware Error]:   section_type: memory error\n"
          "{1}[Hardware Error]:   physical_address: 0x000000b50c68ce80\n"
          "{1}[Hardware Error]:   node:6 card:1 module:0 rank:1 bank:2 device:11 row:40948 "
          "column:560\n"
          "{2}[Hardware Error]:   section_type: memory error\n"
          "{2}[Hardware Error]:   node: 1 card: 4 module: 0 rank: 0 bank: 1 device: 14 row: 58165 "
          "column: 816\n",
      "kern.log", "kern.log");
  ASSERT_EQ(r.errors.size(), 3u);
  const auto& m = *r.errors[0].mca;
  EXPECT_EQ(m.cpu, 3u);
  EXPECT_EQ(m.bank, 5u);
  EXPECT_EQ(m.status, 0x9c00000000000000u);
  EXPECT_EQ(m.socket, 1u);
  EXPECT_EQ(m.apic, 6u);
  EXPECT_EQ(m.misc, 0xd012000100000000u);
  EXPECT_EQ(m.synd, 0x4d000000u);
  EXPECT_EQ(m.ipid, 0x1002e00000000u);
  const auto& a = *r.errors[1].location;
  EXPECT_EQ(std::vector<std::optional<uint32_t>>(
                {a.node, a.card, a.module, a.rank, a.bank, a.device, a.row, a.column}),
            std::vector<std::optional<uint32_t>>({6, 1, 0, 1, 2, 11, 40948, 560}));
  EXPECT_EQ(r.errors[1].address, 0xb50c68ce80u);
  const auto& b = *r.errors[2].location;
  EXPECT_EQ(std::vector<std::optional<uint32_t>>(
                {b.node, b.card, b.module, b.rank, b.bank, b.device, b.row, b.column}),
            std::vector<std::optional<uint32_t>>({1, 4, 0, 0, 1, 14, 58165, 816}));
  EXPECT_FALSE(r.errors[2].address);
}

TEST(KernelLog, MixedLogCountsWhatItDoesNotRead) {
  const std::string log = "[    0.000000] Linux version 6.1.0\n" + Prefixed("[ 5.1] ", kMceBank) +
                          "[    6.0] EDAC MC0: 1 CE on unknown memory\n"
                          "[    7.0] {3}[Hardware Error]:   physical_address: 0x0000000012345000\n"
                          "[    8.0] mce: [Hardware Error]: TSC 0 ADDR 1\n";
  const LogRead r = ReadKernelLog(log, "/var/log/kern.log", "kern.log");
  ASSERT_EQ(r.errors.size(), 2u);
  EXPECT_EQ(r.errors[1].address, 0x12345000u);
  EXPECT_EQ(r.errors[1].Source(), "kern.log line 6");
  ASSERT_EQ(r.unparsed.size(), 1u);
  EXPECT_EQ(r.unparsed[0].line, 7u);
  EXPECT_EQ(r.unparsed[0].where, "kern.log line 7");
  ASSERT_EQ(r.notes.size(), 1u);
  EXPECT_NE(r.notes[0].find("2 lines"), std::string::npos) << r.notes[0];
}

TEST(KernelLog, TimeText) {
  const std::vector<std::pair<const char*, std::optional<int64_t>>> cases = {
      {"2026-12-01 10:00:00 +0000", kDec1},   {"2026-12-01 11:30:00 +0130", kDec1},
      {"2026-12-01T10:00:00.123456Z", kDec1}, {"2026-12-01T12:00:00+02:00", kDec1},
      {"Tue Dec  1 10:00:00 2026", kDec1},    {"1970-01-01 00:00:00", 0},
      {"2026-02-29 00:00:00", std::nullopt},  // 2026 is no leap year
      {"2026-13-01 00:00:00", std::nullopt},  {"yesterday", std::nullopt},
  };
  for (const auto& [text, want] : cases)
    EXPECT_EQ(platsim::logs::ParseTimeText(text), want) << text;
}

}  // namespace
