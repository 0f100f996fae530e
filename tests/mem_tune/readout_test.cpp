// ReadControllerConfig through the read command: channel search (other buses
// included), field extraction, register order, settings copy.
#include "fixture.h"
#include "mem_tune/controller_readout.h"

namespace mttest {
namespace {

using sim::MmioR;
using sim::MmioW;

struct RegField {
  uint8_t offset, width;
  uint32_t reg;
  unsigned hi, lo;
};
const RegField kRegFields[] = {
    {0x16, 1, 0x204, 5, 0},   {0x17, 1, 0x204, 21, 16}, {0x18, 1, 0x204, 29, 24},
    {0x19, 1, 0x204, 14, 8},  {0x1A, 1, 0x208, 21, 16}, {0x23, 2, 0x21C, 31, 20},
    {0x25, 1, 0x208, 7, 0},   {0x26, 2, 0x260, 10, 0},  {0x28, 2, 0x260, 21, 11},
    {0x2A, 2, 0x260, 31, 22}, {0x2C, 1, 0x210, 6, 0},   {0x2D, 1, 0x20C, 4, 0},
    {0x2E, 1, 0x20C, 12, 8},  {0x2F, 1, 0x218, 6, 0},   {0x30, 1, 0x214, 12, 8},
    {0x31, 1, 0x214, 22, 16}, {0x32, 1, 0x254, 28, 24}, {0x33, 1, 0x214, 5, 0},
    {0x34, 1, 0x20C, 28, 24}, {0x35, 1, 0x220, 19, 16}, {0x36, 1, 0x220, 27, 24},
    {0x37, 1, 0x220, 11, 8},  {0x38, 1, 0x220, 3, 0},   {0x39, 1, 0x224, 19, 16},
    {0x3A, 1, 0x224, 27, 24}, {0x3B, 1, 0x224, 11, 8},  {0x3C, 1, 0x224, 3, 0},
    {0x3D, 1, 0x228, 12, 8},  {0x3E, 1, 0x228, 3, 0},   {0x3F, 1, 0x200, 11, 11},
    {0x40, 1, 0x200, 10, 10}, {0x44, 1, 0x12C, 28, 28},
};
// settings offset, width, mailbox offset
const uint8_t kSettingFields[][3] = {
    {0x08, 1, 0x45}, {0x09, 4, 0x46}, {0x0D, 4, 0x4A}, {0x11, 1, 0x4E}, {0x12, 2, 0x54},
    {0x14, 4, 0x4F}, {0x18, 1, 0x53}, {0x19, 7, 0x56}, {0x20, 2, 0x5D}, {0x22, 1, 0x41},
    {0x23, 1, 0x42}, {0x24, 1, 0x43}, {0x25, 2, 0x21}, {0x27, 1, 0x5F}, {0x28, 4, 0x60},
    {0x2C, 4, 0x64}, {0x30, 4, 0x68}, {0x34, 4, 0x6C}, {0x38, 4, 0x70}, {0x3C, 4, 0x74},
};
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
    const uint64_t fn = 0xE0000000ull + uint64_t(bus) * 0x100000;
    return {MmioW(fn + 0xB8, 4, address), MmioR(fn + 0xBC, 4, value)};
  }
  void ExpectFieldsFrom(uint8_t bus, uint32_t block) {
    for (const RegField& f : kRegFields) {
      const uint32_t v = Reg(bus, block, f.reg);
      const uint32_t want = (v >> f.lo) & ((1u << (f.hi - f.lo + 1)) - 1);
      EXPECT_EQ(Field(BoxBytes(), f.offset, f.width), want)
          << std::hex << "field 0x" << int(f.offset);
    }
  }
};

TEST_F(Readout, DefaultChannelGivesNamedTimings) {
  Send(0x80000000);
  EXPECT_EQ(Box()->Status, 0u);
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
  Box()->CallerC8 = 0x5A;
  Box()->CallerC9 = 0xC3;
  std::fill(BoxBytes() + 0x1B, BoxBytes() + 0x21, 0xEE);
  std::fill(BoxBytes() + 0x7A, BoxBytes() + 0x87, 0xEE);
  Send(0x80000000);
  EXPECT_EQ(Box()->Status, 0u);
  EXPECT_EQ(Box()->MemClock, 1500);
  ExpectFieldsFrom(0, 0x50000);
  for (auto& s : kSettingFields)
    for (uint8_t i = 0; i < s[1]; ++i)
      EXPECT_EQ(BoxBytes()[s[2] + i], Settings()[s[0] + i]) << std::hex << int(s[2] + i);
  EXPECT_EQ(Box()->EchoC8, 0x5A);
  EXPECT_EQ(Box()->EchoC9, 0xC3);
  EXPECT_EQ(Box()->Reserved7A, 0);
  EXPECT_EQ(Box()->Option7C, 0);
  for (size_t i = 0x1B; i < 0x21; ++i) EXPECT_EQ(BoxBytes()[i], 0xEE);  // never touched
  for (size_t i = 0x7D; i < 0x87; ++i) EXPECT_EQ(BoxBytes()[i], 0xEE);

  std::vector<sim::TraceEvent> want = Indirect(0, 0x50200, Reg(0, 0x50000, 0x200));
  for (uint32_t r : kReadOrder) {
    auto ev = Indirect(0, 0x50000 + r, Reg(0, 0x50000, r));
    want.insert(want.end(), ev.begin(), ev.end());
  }
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
  EXPECT_EQ(Box()->Status, 0x0000000Eu);
  ExpectFieldsFrom(0, 0x50000);
  EXPECT_EQ(Box()->EchoC8, Box()->CallerC8);
}

TEST_F(Readout, SecondChannelOfBusZero) {
  sim::smm::SetChannelRegister(p, 0, 0, 0x200, 0x80);  // bits 6:0 zero: not in use
  SetRegs(0, 1, 5);
  sim::smm::SetChannelRegister(p, 0, 1, 0x200, 0x30);
  Send(0x80000000);
  EXPECT_EQ(Box()->Status, 0u);
  ExpectFieldsFrom(0, 0x150000);
  const auto mmio = p.trace.Mmio();
  ASSERT_GE(mmio.size(), 6u);
  EXPECT_EQ(mmio[1], MmioR(0xE00000BC, 4, 0x80));
  EXPECT_EQ(mmio[2], MmioW(0xE00000B8, 4, 0x150200));
  EXPECT_EQ(mmio[4], MmioW(0xE00000B8, 4, 0x150200));  // first register of the block
}

TEST_F(Readout, FamilyWithTwoChannelsSearchesNoOtherBus) {
  sim::smm::SetChannelRegister(p, 0, 0, 0x200, 0);
  sim::smm::SetChannelRegister(p, 0, 2, 0x200, 0x30);  // beyond the last channel tried
  sim::smm::SetNode(p, 0x19, 0x1022, 0x20);
  sim::smm::SetChannelRegister(p, 0x20, 0, 0x200, 0x30);
  const std::vector<uint8_t> before(BoxBytes() + 0x14, BoxBytes() + 0x80);
  Send(0x80000000);
  EXPECT_EQ(Box()->Status, 0x0000000Eu);
  EXPECT_EQ(std::vector<uint8_t>(BoxBytes() + 0x14, BoxBytes() + 0x80), before);
  std::vector<sim::TraceEvent> want = Indirect(0, 0x50200, 0);
  auto second = Indirect(0, 0x150200, 0);
  want.insert(want.end(), second.begin(), second.end());
  EXPECT_EQ(p.trace.Mmio(), want);
}

TEST_F(Readout, EightChannelFamiliesTryChannelsZeroToSeven) {
  for (uint32_t sig : {0x00830F00u, 0x00A00F00u}) {
    sim::smm::SetProcessorSignature(p, sig);
    sim::smm::SetChannelRegister(p, 0, 0, 0x200, 0);
    SetRegs(0, 7, 3);
    sim::smm::SetChannelRegister(p, 0, 7, 0x200, 0x30);
    Send(0x80000000);
    EXPECT_EQ(Box()->Status, 0u) << std::hex << sig;
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
  EXPECT_EQ(Box()->Status, 0u);
  ExpectFieldsFrom(0x40, 0x150000);

  std::vector<sim::TraceEvent> want;
  for (uint32_t n = 0; n < 8; ++n) {
    auto ev = Indirect(0, 0x50200 + n * 0x100000, 0);
    want.insert(want.end(), ev.begin(), ev.end());
  }
  // 0x19: vendor only; 0x1A: vendor, bus, channels 0 and 1; 0x1B: vendor, bus, 0, 1.
  want.push_back(MmioR(0xE00C8000, 4, 0x1023));
  want.push_back(MmioR(0xE00D0000, 4, 0x1022));
  want.push_back(MmioR(0xE00D0084, 4, 0x20));
  for (auto a : {0x50200u, 0x150200u}) {
    auto ev = Indirect(0x20, a, 0);
    want.insert(want.end(), ev.begin(), ev.end());
  }
  want.push_back(MmioR(0xE00D8000, 4, 0x1022));
  want.push_back(MmioR(0xE00D8084, 4, 0x40));
  for (auto a : {0x50200u, 0x150200u}) {
    auto ev = Indirect(0x40, a, a == 0x50200u ? 0 : 0x30);
    want.insert(want.end(), ev.begin(), ev.end());
  }
  const auto mmio = p.trace.Mmio();
  ASSERT_GE(mmio.size(), want.size());
  EXPECT_EQ(std::vector<sim::TraceEvent>(mmio.begin(), mmio.begin() + want.size()), want);
  EXPECT_EQ(mmio[want.size()], MmioW(0xE4000000 + 0xB8, 4, 0x150200));
}

TEST_F(Readout, SignatureD00F00AlsoSearchesOtherBusesAndAbsentDevicesAreSkipped) {
  sim::smm::SetProcessorSignature(p, 0x00800F00);
  sim::smm::SetChannelRegister(p, 0, 0, 0x200, 0);
  sim::smm::SetNode(p, 0x1F, 0x1022, 0x70);
  SetRegs(0x70, 0, 1);
  sim::smm::SetChannelRegister(p, 0x70, 0, 0x200, 0x30);
  Send(0x80000000);
  EXPECT_EQ(Box()->Status, 0u);
  ExpectFieldsFrom(0x70, 0x50000);
  // Devices 0x19-0x1E are absent: their vendor reads are all ones.
  EXPECT_EQ(p.trace.Mmio()[4], MmioR(0xE00C8000, 4, 0xFFFFFFFF));
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
  EXPECT_EQ(Box()->Status, 0x0000000Eu);
  for (size_t i = 0x14; i < 0x87; ++i) EXPECT_EQ(BoxBytes()[i], 0x6B) << i;
}

TEST_F(MemTuneTest, NullSettingsRecordLeavesThoseFieldsAsTheCallerPutThem) {
  Smm().provider.SettingsRecordAddress = 0;
  ASSERT_EQ(Boot(), EFI_SUCCESS);
  std::fill(BoxBytes() + 0x14, BoxBytes() + 0x87, 0x6B);
  Send(0x80000000);
  EXPECT_EQ(Box()->Status, 0u);
  EXPECT_EQ(Box()->MemClock, 1600);
  for (auto& s : kSettingFields)
    for (uint8_t i = 0; i < s[1]; ++i) EXPECT_EQ(BoxBytes()[s[2] + i], 0x6B);
  EXPECT_EQ(Box()->Option7C, 0);
}

TEST(ReadIndirectReg, OutsideTheWindowReadsAllOnes) {
  sim::Platform p;
  EXPECT_EQ(mts::PciExpressRead32(0x10000000), 0xFFFFFFFFu);
  EXPECT_TRUE(p.trace.Events().empty());
}

}  // namespace
}  // namespace mttest
