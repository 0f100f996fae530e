// ReadControllerConfig through the read command: channel search (other buses
// included), field extraction, register order, settings copy.
#include "fixture.h"
#include "interface_tables.h"
#include "mem_tune/controller_readout.h"

namespace mttest {
namespace {

using sim::MmioR;
using sim::MmioW;

// Registers in the order the readout reads them.
const uint32_t kReadOrder[] = {0x200, 0x204, 0x208, 0x21C, 0x208, 0x260, 0x210, 0x20C,
                               0x218, 0x214, 0x254, 0x220, 0x224, 0x228, 0x200, 0x12C};

uint32_t Field(const uint8_t* bytes, uint8_t offset, uint8_t width) {
  uint32_t v = 0;
  for (uint8_t i = 0; i < width; ++i) v |= uint32_t(bytes[offset + i]) << (8 * i);
  return v;
}

class Readout : public MemTuneTest {
 protected:
  void SetUp() override {
    MemTuneTest::SetUp();
    ASSERT_EQ(Boot(), EFI_SUCCESS);
  }
  void SetRegs(uint8_t bus, uint32_t channel, uint32_t seed) {
    for (uint32_t r : kReadOrder) {
      seed = seed * 1103515245u + 12345u;
      sim::smm::SetChannelRegister(p, bus, channel, r, seed);
    }
  }
  uint32_t Reg(uint8_t bus, uint32_t block, uint32_t r) {
    return sim::smm::MemoryController(p, bus).Indirect().at(block + r);
  }
  // The config-space accesses of reading indirect register `address`.
  std::vector<sim::TraceEvent> Indirect(uint8_t bus, uint32_t address, uint32_t value) {
    return {MmioW(IndexRegister(bus), 4, address), MmioR(IndexRegister(bus) + 4, 4, value)};
  }
  static uint64_t IndexRegister(uint8_t bus) { return 0xE0000000ull + bus * 0x100000ull + 0xB8; }
  // The readout keeps the index register of each bus it uses for the agents
  // it interrupted: one read before its first index write there, one write
  // of that value before it returns.
  static sim::TraceEvent SaveIndex(uint8_t bus, uint32_t v) {
    return MmioR(IndexRegister(bus), 4, v);
  }
  static sim::TraceEvent RestoreIndex(uint8_t bus, uint32_t v) {
    return MmioW(IndexRegister(bus), 4, v);
  }
  void ExpectFieldsFrom(uint8_t bus, uint32_t block) {
    for (const ValueField& f : ValueFields()) {
      if (f.source != ValueField::Source::Register) continue;
      const uint64_t v = Reg(bus, block, f.from);
      const uint32_t want = uint32_t((v >> f.lo) & ((1ull << (f.hi - f.lo + 1)) - 1));
      EXPECT_EQ(Field(BoxBytes(), f.field.offset, f.field.width), want)
          << std::hex << "field 0x" << int(f.field.offset);
    }
  }
};

TEST_F(Readout, DefaultChannelGivesNamedTimings) {
  Send(0x80000000);
  EXPECT_EQ(uint32_t{Box()->Status}, 0u);
  EXPECT_EQ(Box()->MemClock, 1600);
  EXPECT_EQ(Box()->tCL, 22);
  EXPECT_EQ(Box()->tRAS, 52);
  EXPECT_EQ(Box()->tRCDRD, 22);
  EXPECT_EQ(Box()->tRCDWR, 22);
  EXPECT_EQ(Box()->tRP, 22);
  EXPECT_EQ(Box()->tRC, 74);
  EXPECT_EQ(Box()->tRFC1, 560);
  EXPECT_EQ(Box()->tRFC2, 416);
  EXPECT_EQ(Box()->tRFC4, 256);
  EXPECT_EQ(Box()->GearDownMode, 1);
  EXPECT_EQ(Box()->Cmd2T, 0);
  EXPECT_EQ(Box()->PowerDown, 1);
}

TEST_F(Readout, FieldsAndSettingsLandAtTheirOffsetsInRegisterOrder) {
  SetRegs(0, 0, 7);
  sim::smm::SetChannelRegister(p, 0, 0, 0x200, (Reg(0, 0x50000, 0x200) & ~0x7Fu) | 45);
  for (size_t i = 0; i < 0x40; ++i) Settings()[i] = uint8_t(0x80 + i * 3);
  std::fill(BoxBytes() + 0x14, BoxBytes() + 0x87, 0xEE);
  Box()->CallerC8 = 0x5A;
  Box()->CallerC9 = 0xC3;
  sim::smm::MemoryController(p, 0).index = 0x00ABC123;  // another agent's selection
  Send(0x80000000);
  EXPECT_EQ(uint32_t{Box()->Status}, 0u);
  EXPECT_EQ(Box()->MemClock, 1500);
  ExpectFieldsFrom(0, 0x50000);
  // Every byte of the value fields that is not a register field.
  for (const ValueField& f : ValueFields()) {
    for (uint8_t i = 0; i < f.field.width; ++i) {
      const uint8_t* bytes = BoxBytes();
      std::optional<uint8_t> want;
      switch (f.source) {
        case ValueField::Source::Settings:
          want = Settings()[f.from + i];
          break;
        case ValueField::Source::CopyOfByte:
          want = bytes[f.from + i];
          break;
        case ValueField::Source::Zero:
          want = 0;
          break;
        case ValueField::Source::Untouched:
          want = 0xEE;
          break;
        default:
          break;
      }
      if (want) {
        EXPECT_EQ(bytes[f.field.offset + i], *want) << std::hex << "byte 0x" << f.field.offset + i;
      }
    }
  }
  EXPECT_EQ(Box()->EchoC8, 0x5A);

  std::vector<sim::TraceEvent> want = {SaveIndex(0, 0x00ABC123)};
  auto search = Indirect(0, 0x50200, Reg(0, 0x50000, 0x200));
  want.insert(want.end(), search.begin(), search.end());
  for (uint32_t r : kReadOrder) {
    auto ev = Indirect(0, 0x50000 + r, Reg(0, 0x50000, r));
    want.insert(want.end(), ev.begin(), ev.end());
  }
  want.push_back(RestoreIndex(0, 0x00ABC123));
  EXPECT_EQ(p.trace.Mmio(), want);
}

TEST_F(Readout, AllOnesRegister260GivesTheFieldMaxima) {
  sim::smm::SetChannelRegister(p, 0, 0, 0x260, 0xFFFFFFFF);
  Send(0x80000000);
  EXPECT_EQ(Box()->tRFC1, 0x07FF);
  EXPECT_EQ(Box()->tRFC2, 0x07FF);
  EXPECT_EQ(Box()->tRFC4, 0x03FF);
}

TEST_F(Readout, UnknownClockCodeIsReportedRawAndTheRestIsFilled) {
  SetRegs(0, 0, 99);
  sim::smm::SetChannelRegister(p, 0, 0, 0x200, 0x00000003);
  Send(0x80000000);
  EXPECT_EQ(Box()->MemClock, 3);
  EXPECT_EQ(uint32_t{Box()->Status}, 0x0000000Eu);
  ExpectFieldsFrom(0, 0x50000);
  EXPECT_EQ(Box()->EchoC8, Box()->CallerC8);
}

TEST_F(Readout, SecondChannelOfBusZero) {
  sim::smm::SetChannelRegister(p, 0, 0, 0x200, 0x80);  // bits 6:0 zero: not in use
  SetRegs(0, 1, 5);
  sim::smm::SetChannelRegister(p, 0, 1, 0x200, 0x30);
  Send(0x80000000);
  EXPECT_EQ(uint32_t{Box()->Status}, 0u);
  ExpectFieldsFrom(0, 0x150000);
  const auto mmio = p.trace.Mmio();
  ASSERT_GE(mmio.size(), 7u);
  EXPECT_EQ(mmio[2], MmioR(0xE00000BC, 4, 0x80));
  EXPECT_EQ(mmio[3], MmioW(0xE00000B8, 4, 0x150200));
  EXPECT_EQ(mmio[5], MmioW(0xE00000B8, 4, 0x150200));  // first register of the block
}

TEST_F(Readout, FamilyWithTwoChannelsSearchesNoOtherBus) {
  sim::smm::SetChannelRegister(p, 0, 0, 0x200, 0);
  sim::smm::SetChannelRegister(p, 0, 2, 0x200, 0x30);  // beyond the last channel tried
  sim::smm::SetNode(p, 0x19, 0x1022, 0x20);
  sim::smm::SetChannelRegister(p, 0x20, 0, 0x200, 0x30);
  const std::vector<uint8_t> before(BoxBytes() + 0x14, BoxBytes() + 0x80);
  Send(0x80000000);
  EXPECT_EQ(uint32_t{Box()->Status}, 0x0000000Eu);
  EXPECT_EQ(std::vector<uint8_t>(BoxBytes() + 0x14, BoxBytes() + 0x80), before);
  std::vector<sim::TraceEvent> want = {SaveIndex(0, 0)};
  for (uint32_t a : {0x50200u, 0x150200u}) {
    auto ev = Indirect(0, a, 0);
    want.insert(want.end(), ev.begin(), ev.end());
  }
  want.push_back(RestoreIndex(0, 0));
  EXPECT_EQ(p.trace.Mmio(), want);
}

TEST_F(Readout, EightChannelFamiliesTryChannelsZeroToSeven) {
  for (uint32_t sig : {0x00830F00u, 0x00A00F00u}) {
    sim::smm::SetProcessorSignature(p, sig);
    sim::smm::SetChannelRegister(p, 0, 0, 0x200, 0);
    SetRegs(0, 7, 3);
    sim::smm::SetChannelRegister(p, 0, 7, 0x200, 0x30);
    Send(0x80000000);
    EXPECT_EQ(uint32_t{Box()->Status}, 0u) << std::hex << sig;
    ExpectFieldsFrom(0, 0x750000);
    sim::smm::SetChannelRegister(p, 0, 7, 0x200, 0);
  }
}

TEST_F(Readout, OtherBusSearchProbesDevices19To1FInOrder) {
  sim::smm::SetProcessorSignature(p, 0x00A00F00);
  sim::smm::SetChannelRegister(p, 0, 0, 0x200, 0);
  sim::smm::SetNode(p, 0x18, 0x1022, 0x10);  // device 0x18 itself is never probed
  sim::smm::SetChannelRegister(p, 0x10, 0, 0x200, 0x30);
  sim::smm::SetNode(p, 0x19, 0x1023, 0x30);  // another vendor
  sim::smm::SetChannelRegister(p, 0x30, 0, 0x200, 0x30);
  sim::smm::SetNode(p, 0x1A, 0x1022, 0x20);  // its channels are idle
  sim::smm::MemoryController(p, 0x20);
  sim::smm::SetNode(p, 0x1B, 0x1022, 0x40);  // channel 1 in use
  SetRegs(0x40, 1, 11);
  sim::smm::SetChannelRegister(p, 0x40, 1, 0x200, 0x30);
  sim::smm::SetNode(p, 0x1C, 0x1022, 0x50);
  sim::smm::SetChannelRegister(p, 0x50, 0, 0x200, 0x30);
  Send(0x80000000);
  EXPECT_EQ(uint32_t{Box()->Status}, 0u);
  ExpectFieldsFrom(0x40, 0x150000);

  std::vector<sim::TraceEvent> want = {SaveIndex(0, 0)};
  for (uint32_t n = 0; n < 8; ++n) {
    auto ev = Indirect(0, 0x50200 + n * 0x100000, 0);
    want.insert(want.end(), ev.begin(), ev.end());
  }
  // 0x19: vendor only; 0x1A: vendor, bus, channels 0 and 1; 0x1B: vendor, bus, 0, 1.
  want.push_back(MmioR(0xE00C8000, 4, 0x1023));
  want.push_back(MmioR(0xE00D0000, 4, 0x1022));
  want.push_back(MmioR(0xE00D0084, 4, 0x20));
  want.push_back(SaveIndex(0x20, 0));
  for (auto a : {0x50200u, 0x150200u}) {
    auto ev = Indirect(0x20, a, 0);
    want.insert(want.end(), ev.begin(), ev.end());
  }
  want.push_back(MmioR(0xE00D8000, 4, 0x1022));
  want.push_back(MmioR(0xE00D8084, 4, 0x40));
  want.push_back(SaveIndex(0x40, 0));
  for (auto a : {0x50200u, 0x150200u}) {
    auto ev = Indirect(0x40, a, a == 0x50200u ? 0 : 0x30);
    want.insert(want.end(), ev.begin(), ev.end());
  }
  const auto mmio = p.trace.Mmio();
  ASSERT_GE(mmio.size(), want.size());
  EXPECT_EQ(std::vector<sim::TraceEvent>(mmio.begin(), mmio.begin() + want.size()), want);
  EXPECT_EQ(mmio[want.size()], MmioW(0xE4000000 + 0xB8, 4, 0x150200));
  // The three buses get their index back, in the order they were first used.
  EXPECT_EQ(std::vector<sim::TraceEvent>(mmio.end() - 3, mmio.end()),
            (std::vector<sim::TraceEvent>{RestoreIndex(0, 0), RestoreIndex(0x20, 0),
                                          RestoreIndex(0x40, 0)}));
}

TEST_F(Readout, SignatureD00F00AlsoSearchesOtherBusesAndAbsentDevicesAreSkipped) {
  sim::smm::SetProcessorSignature(p, 0x00800F00);
  sim::smm::SetChannelRegister(p, 0, 0, 0x200, 0);
  sim::smm::SetNode(p, 0x1F, 0x1022, 0x70);
  SetRegs(0x70, 0, 1);
  sim::smm::SetChannelRegister(p, 0x70, 0, 0x200, 0x30);
  Send(0x80000000);
  EXPECT_EQ(uint32_t{Box()->Status}, 0u);
  ExpectFieldsFrom(0x70, 0x50000);
  // Devices 0x19-0x1E are absent: their vendor reads are all ones.
  EXPECT_EQ(p.trace.Mmio()[5], MmioR(0xE00C8000, 4, 0xFFFFFFFF));
}

TEST_F(Readout, NoChannelAnywhereLeavesTheValueFieldsAlone) {
  sim::smm::SetProcessorSignature(p, 0x00A00F00);
  sim::smm::SetChannelRegister(p, 0, 0, 0x200, 0);
  for (uint8_t d = 0x19; d <= 0x1F; ++d) {
    sim::smm::SetNode(p, d, 0x1022, d);
    sim::smm::MemoryController(p, d);  // present, every channel idle
  }
  std::fill(BoxBytes() + 0x14, BoxBytes() + 0x87, 0x6B);
  Send(0x80000000);
  EXPECT_EQ(uint32_t{Box()->Status}, 0x0000000Eu);
  for (size_t i = 0x14; i < 0x87; ++i) EXPECT_EQ(BoxBytes()[i], 0x6B) << i;
}

// Every way out of the readout (a channel on bus 0 or on another die, an
// unknown clock code, no channel anywhere) leaves each bus's index register
// as the interrupted agent had it, and restores it last.
TEST_F(Readout, IndexRegistersComeBackOnEveryPath) {
  struct Case {
    const char* what;
    uint32_t code200;      // bus 0, channel 0
    uint8_t otherBusCode;  // channel 0 of bus 0x21 (device 0x19)
    uint32_t status;
    std::vector<uint8_t> buses;  // in the order the readout first uses them
    uint8_t lastDevice;          // devices 0x19 up to this one name buses 0x21, 0x22, ...
  };
  const Case cases[] = {
      {"bus 0", 0x30, 0, 0, {0}, 0x1A},
      {"unknown clock code", 0x03, 0, 0x0E, {0}, 0x1A},
      {"another die", 0, 0x30, 0, {0, 0x21}, 0x1A},
      {"nothing in use", 0, 0, 0x0E, {0, 0x21, 0x22}, 0x1A},
      {"nothing in use on all eight buses",
       0,
       0,
       0x0E,
       {0, 0x21, 0x22, 0x23, 0x24, 0x25, 0x26, 0x27},
       0x1F},
  };
  sim::smm::SetProcessorSignature(p, 0x00A00F00);
  for (const Case& c : cases) {
    for (uint8_t d = 0x19; d <= c.lastDevice; ++d) {
      sim::smm::SetNode(p, d, 0x1022, static_cast<uint8_t>(d + 8));
      sim::smm::MemoryController(p, static_cast<uint8_t>(d + 8));
    }
    sim::smm::SetChannelRegister(p, 0, 0, 0x200, c.code200);
    sim::smm::SetChannelRegister(p, 0x21, 0, 0x200, c.otherBusCode);
    std::vector<sim::TraceEvent> restores;
    for (uint8_t bus : c.buses) {
      sim::smm::MemoryController(p, bus).index = 0x5A0000u + bus;
      restores.push_back(RestoreIndex(bus, 0x5A0000u + bus));
    }
    Send(0x80000000);
    EXPECT_EQ(uint32_t{Box()->Status}, c.status) << c.what;
    for (uint8_t bus : c.buses)
      EXPECT_EQ(sim::smm::MemoryController(p, bus).index, 0x5A0000u + bus) << c.what;
    const auto mmio = p.trace.Mmio();
    ASSERT_GE(mmio.size(), restores.size()) << c.what;
    EXPECT_EQ(std::vector<sim::TraceEvent>(mmio.end() - restores.size(), mmio.end()), restores)
        << c.what;
    EXPECT_EQ(mmio.front(), SaveIndex(0, 0x5A0000u)) << c.what;
  }
}

TEST_F(MemTuneTest, NullSettingsRecordLeavesThoseFieldsAsTheCallerPutThem) {
  Smm().provider.SettingsRecordAddress = 0;
  ASSERT_EQ(Boot(), EFI_SUCCESS);
  std::fill(BoxBytes() + 0x14, BoxBytes() + 0x87, 0x6B);
  Send(0x80000000);
  EXPECT_EQ(uint32_t{Box()->Status}, 0u);
  EXPECT_EQ(Box()->MemClock, 1600);
  for (const ValueField& f : ValueFields()) {
    if (f.source != ValueField::Source::Settings) continue;
    for (uint8_t i = 0; i < f.field.width; ++i) EXPECT_EQ(BoxBytes()[f.field.offset + i], 0x6B);
  }
  EXPECT_EQ(Box()->Option7C, 0);
}

TEST(ReadIndirectReg, OutsideTheWindowReadsAllOnes) {
  sim::Platform p;
  EXPECT_EQ(mts::PciExpressRead32(0x10000000), 0xFFFFFFFFu);
  EXPECT_TRUE(p.trace.Events().empty());
}

}  // namespace
}  // namespace mttest
