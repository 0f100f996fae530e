// Properties of the geometries the simulator builds, checked through the
// driver's translation: every address of a channel below its capacity decodes
// inside the geometry's bounds, without an error message, and distinct
// addresses give distinct DRAM coordinates.
#include "dram_test_support.h"

#include "addr_translate/driver_globals.h"
#include "sim/dram/channel_config_store.h"
#include "sim/dram/channel_geometry.h"
#include "sim/dram/dram_to_normalized.h"
#include "sim/platform/platform.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <stdexcept>
#include <algorithm>
#include <bit>

namespace {

using sim::dram::ChannelGeometry;
using sim::dram::CsRange;

// Keeps only the error messages (the two informational ones come with every
// translation).
struct ErrorCatcher {
  std::vector<std::string> errors;
  atd::DramMessageSink Sink() { return {&ErrorCatcher::Print, this}; }
  static void Print(void* self, const char* format, va_list args) {
    if (std::strstr(format, "ERROR") == nullptr) return;
    char buf[512];
    std::vsnprintf(buf, sizeof buf, format, args);
    static_cast<ErrorCatcher*>(self)->errors.emplace_back(buf);
  }
};

}  // namespace

namespace sim::dram {

std::string Show(const ChannelGeometry& g) {
  std::string s = sim::dram::Describe(g) + " cs=" + std::to_string(g.chipSelects) +
                  " bank=" + std::to_string(g.bankBits) + " row=" + std::to_string(g.rowBits) +
                  "/" + std::to_string(g.rowHiBits) + " col=" + std::to_string(g.colBits) +
                  " rm=" + std::to_string(g.rmBits) + " csBits=";
  for (unsigned b : g.csSelectBits) s += std::to_string(b) + ",";
  s += " range=" + std::to_string(static_cast<int>(g.range)) +
       " inv=" + std::to_string(g.rowInvEven) + "/" + std::to_string(g.rowInvOdd) +
       (g.csHash ? " csHash" : "") + (g.bankHash ? " bankHash" : "") + (g.rmHash ? " rmHash" : "") +
       " seed=" + std::to_string(g.hashSeed);
  return s;
}

void PrintTo(const ChannelGeometry& g, std::ostream* os) {
  *os << Show(g);
}

}  // namespace sim::dram

namespace {

using sim::dram::Show;

// Geometries worth checking by name, then random ones that the builder accepts.
std::vector<ChannelGeometry> Geometries() {
  std::vector<ChannelGeometry> out;
  auto add = [&](auto change) {
    ChannelGeometry g;
    g.rowBits = 10;
    g.colBits = 6;
    g.bankBits = 3;
    change(g);
    out.push_back(g);
  };
  add([](ChannelGeometry&) {});
  add([](ChannelGeometry& g) { g.chipSelects = 3; });
  add([](ChannelGeometry& g) {
    g.csSelectBits = {8};
    g.csHash = g.bankHash = true;
  });
  add([](ChannelGeometry& g) {
    g.chipSelects = 1;
    g.rmBits = 1;
    g.rmHash = g.bankHash = true;
    g.rowInvEven = 2;
  });
  add([](ChannelGeometry& g) {
    g.chipSelects = 4;
    g.csSelectBits = {8, 13};
    g.csHash = g.bankHash = true;
  });
  add([](ChannelGeometry& g) {
    g.rmBits = 3;
    g.rmHash = g.bankHash = true;
    g.rowInvEven = 3;
    g.rowInvOdd = 1;
    g.range = CsRange::Both;
  });
  add([](ChannelGeometry& g) {  // high row run
    g.colBits = 10;
    g.bankBits = 4;
    g.rowBits = 14;
    g.rowHiBits = 4;
    g.chipSelects = 4;
    g.csSelectBits = {9, 10};
  });
  // Secondary ranges only: an odd chip select reads 15/16/17 row bits, which
  // fits 10 column and 4 bank bits.
  for (unsigned row : {15u, 16u, 17u})
    add([row](ChannelGeometry& g) {
      g.colBits = 10;
      g.bankBits = 4;
      g.rowBits = row;
      g.range = CsRange::Secondary;
      g.socket = 1;
      g.channel = 2;
    });

  std::mt19937_64 rng(20261208);
  auto pick = [&](unsigned lo, unsigned hi) {
    return lo + static_cast<unsigned>(rng() % (hi - lo + 1));
  };
  while (out.size() < 60) {
    ChannelGeometry g;
    g.socket = static_cast<uint8_t>(pick(0, 1));
    g.die = static_cast<uint8_t>(pick(0, 1 - g.socket));
    g.channel = static_cast<uint8_t>(pick(0, 7));
    g.chipSelects = pick(1, 4);
    g.bankBits = pick(3, 5);
    g.colBits = pick(5, 11);
    g.rmBits = pick(0, 3);
    g.rowHiBits = pick(0, 3) == 0 ? pick(1, 4) : 0;
    g.rowBits = g.rowHiBits + pick(10, 12);
    if ((g.chipSelects == 2 || g.chipSelects == 4) && pick(0, 1)) {
      unsigned b = pick(8, 14);
      for (unsigned n = g.chipSelects; n > 1; n /= 2) {
        g.csSelectBits.push_back(b);
        b += pick(1, 3);
      }
      g.csHash = pick(0, 1);
    }
    g.range = static_cast<CsRange>(pick(0, 2));
    g.rowInvEven = static_cast<uint8_t>(pick(0, 3));
    g.rowInvOdd = static_cast<uint8_t>(pick(0, 3));
    g.bankHash = pick(0, 1);
    g.rmHash = pick(0, 1);
    g.hashSeed = rng();
    try {
      sim::dram::Validate(g);
    } catch (const std::invalid_argument&) {
      continue;
    }
    out.push_back(g);
  }
  return out;
}

uint64_t Pack(const DramAddress& d) {
  return uint64_t{d.chipSelect} | uint64_t{d.bank} << 2 | uint64_t{d.rankMul} << 7 |
         uint64_t{d.col} << 10 | uint64_t{d.row} << 26;
}

class GeometryProperty : public ::testing::TestWithParam<ChannelGeometry> {
 protected:
  void SetUp() override {
    g_ = GetParam();
    sim::dram::BuildChannelGeometry(*table_, g_);
    capacity_ = sim::dram::CapacityOf(g_);
  }

  // Decodes and checks the bounds of one address.
  DramAddress Decode(uint64_t a) {
    DramAddress d{};
    ErrorCatcher c;
    atd::TranslateNormToDram(table_.get(), a, g_.socket, g_.die, g_.channel, &d, c.Sink());
    // Checked as one condition first: the exhaustive walk decodes up to
    // 1.5 million addresses, and five assertions each cost more than the
    // decode itself in the sanitizer build.
    const bool inBounds = d.chipSelect < g_.chipSelects && d.bank < (1u << g_.bankBits) &&
                          uint64_t{d.row} < (1ULL << g_.rowBits) && d.col < (1u << g_.colBits) &&
                          d.rankMul < (1u << g_.rmBits);
    if (c.errors.empty() && inBounds) return d;
    EXPECT_TRUE(c.errors.empty()) << std::hex << "address 0x" << a << ": " << c.errors.front();
    EXPECT_LT(d.chipSelect, g_.chipSelects) << std::hex << a;
    EXPECT_LT(d.bank, 1u << g_.bankBits) << std::hex << a;
    EXPECT_LT(uint64_t{d.row}, 1ULL << g_.rowBits) << std::hex << a;
    EXPECT_LT(d.col, 1u << g_.colBits) << std::hex << a;
    EXPECT_LT(d.rankMul, 1u << g_.rmBits) << std::hex << a;
    return d;
  }

  ChannelGeometry g_;
  std::unique_ptr<atd::ChannelConfigTable> table_ = dramtest::NewTable();
  uint64_t capacity_ = 0;
};

TEST_P(GeometryProperty, EveryAddressBelowTheCapacityDecodesInBoundsAndDistinctly) {
  // Bits 2:0 are the byte within a 64-bit beat: one DRAM location per 8 bytes.
  const uint64_t locations = capacity_ / 8;
  if (locations <= (3u << 19)) {
    std::vector<uint64_t> packed;
    packed.reserve(locations);
    for (uint64_t i = 0; i < locations && !HasFailure(); ++i) packed.push_back(Pack(Decode(i * 8)));
    ASSERT_FALSE(HasFailure());
    std::sort(packed.begin(), packed.end());
    EXPECT_EQ(std::adjacent_find(packed.begin(), packed.end()), packed.end())
        << "two addresses decode to the same coordinates";
    return;
  }
  if (!std::has_single_bit(capacity_)) {
    // Random addresses, each against every neighbour one address bit away.
    std::mt19937_64 rng(g_.hashSeed);
    for (int n = 0; n < 2000 && !HasFailure(); ++n) {
      const uint64_t a = (rng() % locations) * 8;
      const uint64_t mine = Pack(Decode(a));
      for (unsigned b = 3; (1ULL << b) < capacity_; ++b) {
        if ((a ^ (1ULL << b)) >= capacity_) continue;
        ASSERT_NE(Pack(Decode(a ^ (1ULL << b))), mine) << std::hex << "0x" << a << " bit " << b;
      }
    }
    return;
  }
  // Too many to walk. Over a power-of-two capacity every decoded bit is an XOR
  // of address bits (plus a constant): the effect of flipping address bit b
  // is then the same from every starting address, and the decode is one to
  // one exactly when these effects are linearly independent.
  const unsigned width = static_cast<unsigned>(std::countr_zero(capacity_));
  std::vector<uint64_t> effect(width, 0);
  std::mt19937_64 rng(g_.hashSeed);
  for (int base = 0; base < 64 && !HasFailure(); ++base) {
    const uint64_t a = (rng() % locations) * 8;
    const uint64_t mine = Pack(Decode(a));
    for (unsigned b = 3; b < width; ++b) {
      const uint64_t e = Pack(Decode(a ^ (1ULL << b))) ^ mine;
      if (base == 0) effect[b] = e;
      ASSERT_EQ(e, effect[b]) << std::hex << "flipping bit " << std::dec << b << " of 0x"
                              << std::hex << a << " acts differently";
    }
  }
  uint64_t basis[64] = {};  // by highest set bit
  unsigned rank = 0;
  for (unsigned b = 3; b < width; ++b) {
    uint64_t v = effect[b];
    for (int top = 63; top >= 0 && v; --top) {
      if (((v >> top) & 1) == 0) continue;
      if (basis[top] == 0) {
        basis[top] = v;
        ++rank;
        break;
      }
      v ^= basis[top];
    }
  }
  EXPECT_EQ(rank, width - 3) << "some address bits cancel out";
}

TEST_P(GeometryProperty, TheLastAddressUsesTheLastChipSelectUnlessHashed) {
  SCOPED_TRACE(Show(g_));
  const DramAddress first = Decode(0);
  const DramAddress last = Decode(capacity_ - 1);
  if (!g_.csHash) {
    EXPECT_EQ(first.chipSelect, 0);
    EXPECT_EQ(last.chipSelect, g_.chipSelects - 1);
  }
  // The first address past the end matches no chip select (when it is still
  // below the 2^40 the chip-select match sees).
  if (capacity_ < (1ULL << 40) && g_.csSelectBits.empty()) {
    DramAddress d{};
    ErrorCatcher c;
    atd::TranslateNormToDram(table_.get(), capacity_, g_.socket, g_.die, g_.channel, &d, c.Sink());
    EXPECT_EQ(c.errors, std::vector<std::string>{
                            "translate_norm_to_dram_addr: ERROR: Rank is out of bounds\n"});
  }
}

// The reverse mapping finds exactly the address that decodes to the
// coordinates, less its byte-within-the-beat bits.
TEST_P(GeometryProperty, DramCoordinatesLeadBackToTheirOneAddress) {
  SCOPED_TRACE(Show(g_));
  const unsigned slot = sim::dram::SlotOf(g_.socket, g_.die, g_.channel);
  std::mt19937_64 rng(g_.hashSeed + 1);
  for (int n = 0; n < 200 && !HasFailure(); ++n) {
    const uint64_t a = n == 0 ? 0 : n == 1 ? capacity_ - 1 : rng() % capacity_;
    const DramAddress d = Decode(a);
    const sim::dram::DramToNormalized r = sim::dram::NormalizedFromDram(*table_, slot, d);
    ASSERT_EQ(r.count, 1u) << std::hex << "0x" << a << ": " << r.reason;
    EXPECT_EQ(r.addresses, std::vector<uint64_t>{a & ~7ULL}) << std::hex << "0x" << a;
    EXPECT_EQ(r.offsetBits, 3u);
  }
}

INSTANTIATE_TEST_SUITE_P(Dram, GeometryProperty, ::testing::ValuesIn(Geometries()));

// ---- the driver's own entry point on the platform's table ------------------------

class DriverTable : public ::testing::Test {
 protected:
  void TearDown() override { atd::gChannelConfigTable = nullptr; }
  sim::Platform platform_;
};

TEST_F(DriverTable, EntryPointReadsThePlatformTableAndWritesFieldsOnly) {
  atd::ChannelConfigTable& t = sim::dram::ChannelConfigOf(platform_);
  EXPECT_EQ(reinterpret_cast<uintptr_t>(&t) % 8, 0u);
  sim::dram::BuildChannelConfig(t, {{0, 0, 0, 16ULL << 30}, {0, 1, 5, 3ULL << 30}});
  atd::gChannelConfigTable = &t;
  for (uint64_t a : {0ULL, 0x123456780ULL, (16ULL << 30) - 8}) {
    DramAddress viaDriver;
    std::memset(&viaDriver, 0x5A, sizeof viaDriver);
    atd::translate_norm_to_dram_addr(a, 0, 0, 0, &viaDriver);
    DramAddress direct{};
    ErrorCatcher c;
    atd::TranslateNormToDram(&t, a, 0, 0, 0, &direct, c.Sink());
    EXPECT_EQ(viaDriver.chipSelect, direct.chipSelect);
    EXPECT_EQ(viaDriver.bank, direct.bank);
    EXPECT_EQ(viaDriver.row, direct.row);
    EXPECT_EQ(viaDriver.col, direct.col);
    EXPECT_EQ(viaDriver.rankMul, direct.rankMul);
    EXPECT_EQ(viaDriver.gap0[0], 0x5A);
    EXPECT_EQ(viaDriver.gap0[1], 0x5A);
    EXPECT_EQ(viaDriver.gap1, 0x5A);
    EXPECT_TRUE(c.errors.empty());
  }
  // 16 GiB over two chip selects: the upper half is chip select 1.
  DramAddress d{};
  atd::translate_norm_to_dram_addr(8ULL << 30, 0, 0, 0, &d);
  EXPECT_EQ(d.chipSelect, 1);
  // Three chip selects of 1 GiB on slot 13.
  atd::translate_norm_to_dram_addr((2ULL << 30) + 64, 0, 1, 5, &d);
  EXPECT_EQ(d.chipSelect, 2);
}

TEST_F(DriverTable, EntryPointWithoutTableWritesZeros) {
  atd::gChannelConfigTable = nullptr;
  DramAddress d;
  std::memset(&d, 0x5A, sizeof d);
  atd::translate_norm_to_dram_addr(0x1000, 0, 0, 0, &d);
  EXPECT_EQ(d.chipSelect, 0);
  EXPECT_EQ(d.bank, 0);
  EXPECT_EQ(d.row, 0u);
  EXPECT_EQ(d.col, 0);
  EXPECT_EQ(d.rankMul, 0);
  EXPECT_EQ(d.gap1, 0x5A);
}

// ---- what the builder refuses -------------------------------------------------------

struct Refusal {
  const char* name;
  void (*change)(ChannelGeometry&);
  const char* because;
};

const Refusal kRefusals[] = {
    {"SlotBeyondTheTable", [](ChannelGeometry& g) { g.socket = 2; }, "only 16 channel slots"},
    {"FiveChipSelects", [](ChannelGeometry& g) { g.chipSelects = 5; }, "chipSelects must be 1..4"},
    {"SixBankBits", [](ChannelGeometry& g) { g.bankBits = 6; }, "bankBits must be 3..5"},
    {"ChipSelectBitInsideTheRow", [](ChannelGeometry& g) { g.csSelectBits = {30}; },
     "below the row bits"},
    {"ChipSelectBitBelowTheMatch", [](ChannelGeometry& g) { g.csSelectBits = {7}; },
     "address bits 8..39"},
    {"OneSelectBitForFourChipSelects",
     [](ChannelGeometry& g) {
       g.chipSelects = 4;
       g.csSelectBits = {9};
     },
     "one address bit per chip-select bit"},
    {"ChipSelectHashWithThreeChipSelects",
     [](ChannelGeometry& g) {
       g.chipSelects = 3;
       g.csHash = true;
     },
     "needs 2 or 4 chip selects"},
    {"SecondaryOnlyRowWidthMismatch",
     [](ChannelGeometry& g) {
       g.range = CsRange::Secondary;
       g.rowBits = 14;
     },
     "decodes 17 row bits, not 14"},
    {"RankMultiplierBelowItsSelectorReach",
     [](ChannelGeometry& g) {
       g.colBits = 5;
       g.bankBits = 3;
       g.rmBits = 1;
     },
     "outside 12..27"},
    {"LowRowRunTooLong", [](ChannelGeometry& g) { g.rowBits = 26; }, "must be 10..25"},
    {"BeyondTheAddressRange",
     [](ChannelGeometry& g) {
       g.rowBits = 24;
       g.chipSelects = 4;
       g.colBits = 12;
     },
     "more than 2^40 bytes"},
};

void PrintTo(const Refusal& r, std::ostream* os) {
  *os << r.name;
}

class BuilderRefuses : public ::testing::TestWithParam<Refusal> {};

TEST_P(BuilderRefuses, WithAReason) {
  ChannelGeometry g;
  GetParam().change(g);
  try {
    sim::dram::Validate(g);
    FAIL() << "accepted";
  } catch (const std::invalid_argument& e) {
    EXPECT_NE(std::string(e.what()).find(GetParam().because), std::string::npos) << e.what();
  }
}

INSTANTIATE_TEST_SUITE_P(Dram, BuilderRefuses, ::testing::ValuesIn(kRefusals),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(BuildChannelConfig, DefaultGeometriesCoverTheirCapacity) {
  for (uint64_t cap :
       {4ULL << 20, 256ULL << 20, 512ULL << 20, 3ULL << 30, 16ULL << 30, 96ULL << 30, 1ULL << 40}) {
    const ChannelGeometry g = sim::dram::DefaultGeometry(0, 0, 1, cap);
    EXPECT_EQ(sim::dram::CapacityOf(g), cap) << cap;
  }
  for (uint64_t cap : {0ULL, 5ULL << 30, 2ULL << 20, 2ULL << 40})
    EXPECT_THROW(sim::dram::DefaultGeometry(0, 0, 1, cap), std::invalid_argument) << cap;
}

TEST(BuildChannelConfig, ChannelsSharingASlotMustAgree) {
  auto t = dramtest::NewTable();
  // (socket 1, die 0) and (socket 0, die 1) share slots 8..15.
  EXPECT_NO_THROW(
      sim::dram::BuildChannelConfig(*t, {{1, 0, 2, 8ULL << 30}, {0, 1, 2, 8ULL << 30}}));
  EXPECT_THROW(sim::dram::BuildChannelConfig(*t, {{1, 0, 2, 8ULL << 30}, {0, 1, 2, 4ULL << 30}}),
               std::invalid_argument);
  EXPECT_THROW(sim::dram::BuildChannelConfig(*t, {{2, 0, 0, 8ULL << 30}}), std::invalid_argument);
}

TEST(BuildChannelConfig, RebuildingASlotClearsWhatTheOldGeometryLeft) {
  auto t = dramtest::NewTable();
  ChannelGeometry big;
  big.chipSelects = 4;
  big.csHash = big.bankHash = true;
  big.rmBits = 2;
  big.rmHash = true;
  sim::dram::BuildChannelGeometry(*t, big);
  ChannelGeometry small;
  small.chipSelects = 1;
  sim::dram::BuildChannelGeometry(*t, small);
  auto fresh = dramtest::NewTable();
  sim::dram::BuildChannelGeometry(*fresh, small);
  EXPECT_EQ(std::memcmp(t.get(), fresh.get(), sizeof *t), 0);
}

}  // namespace
