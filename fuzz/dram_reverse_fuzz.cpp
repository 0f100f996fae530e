// Random ChannelConfigTable slots through the reverse of the DRAM mapping:
// coordinates that a random normalized address decodes to must lead back to
// at least one address, and every address found must decode (through the
// driver's own translation) to exactly those coordinates.
#include "addr_translate/dram/translate_norm_to_dram_addr.h"
#include "sim/dram/dram_to_normalized.h"
#include "fuzz/dram_fuzz_support.h"
#include "sim/platform/platform.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <cstring>
#include <memory>
#include <vector>

namespace {

void Check(bool ok) {
  if (!ok) __builtin_trap();
}

DramAddress Decode(atd::ChannelConfigTable& t, uint64_t a, uint8_t channel) {
  DramAddress d{};
  atd::TranslateNormToDram(&t, a, 0, 0, channel, &d, {nullptr, nullptr});
  return d;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* input, size_t inputSize) {
  FuzzedDataProvider in(input, inputSize);
  sim::Platform platform;
  platform.stopRequestAnswer = 1;  // a fatal stop returns

  auto table = ChannelTableFromInput(in);
  const auto channel = in.ConsumeIntegralInRange<uint8_t>(0, atd::kChannelSlots - 1);

  const unsigned tries = in.ConsumeIntegralInRange<unsigned>(1, 4);
  for (unsigned i = 0; i < tries && in.remaining_bytes() > 0; ++i) {
    const uint64_t a = in.ConsumeIntegral<uint64_t>() & ((1ULL << 40) - 1);
    DramAddress want = Decode(*table, a, channel);
    // Half the time, coordinates of no particular address.
    if (in.ConsumeBool()) {
      want.chipSelect = in.ConsumeIntegral<uint8_t>();
      want.bank = in.ConsumeIntegral<uint8_t>();
      want.row = in.ConsumeIntegral<uint32_t>();
      want.col = in.ConsumeIntegral<uint16_t>();
      want.rankMul = in.ConsumeIntegral<uint8_t>();
    } else {
      // The address matched a chip select (nothing matched decodes as
      // zeros): the coordinates lead somewhere.
      const auto found = sim::dram::NormalizedFromDram(*table, channel, want, 4);
      bool matched = false;
      for (unsigned cs = 0; cs < 4; ++cs) {
        const uint32_t cfg = table->addrCfg[channel][cs / 2];
        for (unsigned sec : {0u, 24u}) {
          const uint32_t keep =
              ~(sec ? table->csMaskSec[channel][cs / 2] : table->csMask[channel][cs / 2]);
          const uint32_t base = sec ? table->csBaseSec[channel][cs] : table->csBase[channel][cs];
          matched = matched || (((cfg >> (sec + (cs & 1))) & 1) &&
                                (static_cast<uint32_t>(a >> 8) & keep) == (base & keep));
        }
      }
      if (matched && ((table->csPresent[channel] >> 0) & 0xF) == 0xF) Check(found.count >= 1);
    }
    const auto found = sim::dram::NormalizedFromDram(*table, channel, want, 4);
    Check(found.count >= found.addresses.size());
    Check(found.count != 0 || !found.reason.empty());
    for (uint64_t b : found.addresses) Check(SameCoordinates(Decode(*table, b, channel), want));
  }
  return 0;
}
