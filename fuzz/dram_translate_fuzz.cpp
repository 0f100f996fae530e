// Random ChannelConfigTable contents, normalized addresses and channel slots
// (socket, die, channel bytes) through the DRAM translation, and random
// field selections through decode_dram_fields. The translation may read
// nothing outside the table (the table is an exact-size heap block), may
// write nothing of it but the five bankHashBits bytes, must write the five
// record fields and leave the gap bytes alone, must answer the same for the
// same slot however socket, die and channel add up to it, and every message
// names the translation and ends in a newline.
#include "addr_translate/driver_globals.h"
#include "addr_translate/dram/translate_norm_to_dram_addr.h"
#include "fuzz/dram_fuzz_support.h"
#include "sim/platform/platform.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace {

void Check(bool ok) {
  if (!ok) __builtin_trap();
}

struct Messages {
  std::vector<std::string> lines;
  atd::DramMessageSink Sink() { return {&Messages::Print, this}; }
  static void Print(void* self, const char* format, va_list args) {
    char buf[512];
    std::vsnprintf(buf, sizeof buf, format, args);
    static_cast<Messages*>(self)->lines.emplace_back(buf);
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* input, size_t inputSize) {
  FuzzedDataProvider in(input, inputSize);
  sim::Platform platform;
  platform.stopRequestAnswer = 1;  // a fatal stop returns

  auto table = ChannelTableFromInput(in);
  auto* bytes = reinterpret_cast<uint8_t*>(table.get());

  const unsigned calls = in.ConsumeIntegralInRange<unsigned>(1, 8);
  for (unsigned i = 0; i < calls && in.remaining_bytes() > 0; ++i) {
    const uint64_t a = in.ConsumeIntegral<uint64_t>();
    const uint8_t socket = in.ConsumeIntegral<uint8_t>();
    const uint8_t die = in.ConsumeIntegral<uint8_t>();
    const uint8_t channel = in.ConsumeIntegral<uint8_t>();

    std::vector<uint8_t> before(bytes, bytes + sizeof *table);
    DramAddress out;
    std::memset(&out, 0xC3, sizeof out);
    Messages m;
    atd::TranslateNormToDram(table.get(), a, socket, die, channel, &out, m.Sink());

    Check(out.gap0[0] == 0xC3 && out.gap0[1] == 0xC3 && out.gap1 == 0xC3);
    Check(out.chipSelect < 4 && out.rankMul < 8);
    const size_t hashBits = offsetof(atd::ChannelConfigTable, bankHashBits);
    for (size_t b = 0; b < sizeof *table; ++b)
      if (b < hashBits || b >= hashBits + atd::kBankHashWords) Check(bytes[b] == before[b]);
    for (const std::string& l : m.lines) {
      Check(l.rfind("translate_norm_to_dram_addr: ", 0) == 0);
      Check(!l.empty() && l.back() == '\n');
    }
    const unsigned slot = (unsigned{socket} + die) * 8u + channel;
    if (slot >= atd::kChannelSlots) Check(out.chipSelect == 0 && out.row == 0 && out.bank == 0);

    // The same slot reached another way, and the same call again: same answer.
    DramAddress again;
    std::memset(&again, 0x3C, sizeof again);
    if (unsigned{socket} + die <= 0xFF) {
      atd::TranslateNormToDram(table.get(), a, static_cast<uint8_t>(socket + die), 0, channel,
                               &again, {nullptr, nullptr});
    } else {
      atd::TranslateNormToDram(table.get(), a, socket, die, channel, &again, {nullptr, nullptr});
    }
    Check(SameCoordinates(out, again));
    Check(again.gap0[0] == 0x3C && again.gap1 == 0x3C);
  }

  // The driver's own entry point on the table it keeps, messages compiled out.
  atd::gChannelConfigTable = table.get();
  DramAddress viaDriver{};
  atd::translate_norm_to_dram_addr(in.ConsumeIntegral<uint64_t>(), in.ConsumeIntegral<uint8_t>(),
                                   in.ConsumeIntegral<uint8_t>(), in.ConsumeIntegral<uint8_t>(),
                                   &viaDriver);
  atd::gChannelConfigTable = nullptr;

  // decode_dram_fields on its own, with any selection at all (a match kind
  // outside 0..2 is a claimed fatal stop that returns).
  atd::DramFieldSelect sel{};
  sel.normAddr = in.ConsumeIntegral<uint64_t>();
  sel.csMaskSec = in.ConsumeIntegral<uint32_t>();
  sel.bankBits = in.ConsumeIntegralInRange<uint32_t>(3, 5);
  for (auto& b : sel.bankSel) b = in.ConsumeIntegralInRange<uint8_t>(0, 15);
  sel.rowLoBits = in.ConsumeIntegralInRange<uint32_t>(10, 25);
  sel.rowHiBits = in.ConsumeIntegralInRange<uint32_t>(0, 15);
  sel.colBits = in.ConsumeIntegralInRange<uint32_t>(5, 20);
  sel.rowLoSel = in.ConsumeIntegralInRange<uint8_t>(0, 15);
  sel.rowHiSel = in.ConsumeIntegralInRange<uint8_t>(0, 15);
  sel.colAddrSelLo = in.ConsumeIntegral<uint32_t>();
  sel.colAddrSelHi = in.ConsumeIntegral<uint32_t>();
  sel.noofrm = in.ConsumeIntegralInRange<uint32_t>(0, 3);
  for (auto& b : sel.rmSel) b = in.ConsumeIntegralInRange<uint8_t>(0, 15);
  for (auto& b : sel.rmSelSec) b = in.ConsumeIntegralInRange<uint8_t>(0, 15);
  sel.rowInvEven = in.ConsumeIntegralInRange<uint8_t>(0, 3);
  sel.rowInvOdd = in.ConsumeIntegralInRange<uint8_t>(0, 3);
  sel.rowInvEvenSec = in.ConsumeIntegralInRange<uint8_t>(0, 3);
  sel.rowInvOddSec = in.ConsumeIntegralInRange<uint8_t>(0, 3);
  sel.matchKind = in.ConsumeIntegralInRange<uint32_t>(0, 4);
  sel.chipSelect = in.ConsumeIntegralInRange<uint32_t>(0, 3);
  for (auto& w : sel.bankHashCtl) w = in.ConsumeIntegral<uint32_t>();
  uint8_t bank = 0, rm = 0;
  uint32_t row = 0;
  uint16_t col = 0;
  uint8_t hashBits[atd::kBankHashWords] = {};
  atd::decode_dram_fields(sel, &bank, &row, &col, &rm, hashBits);
  Check(rm < 8);
  if (sel.matchKind > 2) Check(!platform.trace.PortWrites(0x80).empty());
  return 0;
}
