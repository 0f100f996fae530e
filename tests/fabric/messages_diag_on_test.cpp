// The translations' diagnostic messages, exactly, as they reach the UART of
// the simulated platform (driver built with the diagnostic switch on).
#include "addr_translate/fabric/calc_norm_addr.h"
#include "addr_translate/fabric/calc_sys_addr.h"
#include "addr_translate/fabric/check_dram_hit.h"
#include "diag/diag_print.h"
#include "sim/fabric/data_fabric.h"
#include "sim/uart/console.h"
#include "sim/uart/uart16550.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using sim::fabric::kBroadcast;

struct Capture {
  sim::Platform platform;
  sim::fabric::DataFabric& fabric = sim::fabric::DataFabric::Of(platform);
  std::shared_ptr<sim::uart::Uart16550> uart = sim::uart::AttachIoUart(platform);

  // Whether this build's back-ends put messages on the UART at all.
  bool UartReceivesMessages() {
    diag::DiagPrint(diag::DiagLevelTranslation, "probe\n");
    const bool any = !uart->Transmitted().empty();
    uart->ClearTransmitted();
    return any;
  }
  // What the UART sent, as lines without their line ends.
  std::vector<std::string> Lines() const {
    std::vector<std::string> lines;
    const std::string text = sim::uart::NormalizeLineEnds(uart->Transmitted());
    size_t from = 0;
    for (size_t lf; (lf = text.find('\n', from)) != std::string::npos; from = lf + 1)
      lines.push_back(text.substr(from, lf - from));
    if (from < text.size()) lines.push_back(text.substr(from));
    return lines;
  }
  void Map(uint16_t instance, uint32_t base, uint32_t limit, unsigned m = 0) {
    fabric.Set(0, 0, static_cast<uint16_t>(0x110 + 8 * m), instance, base);
    fabric.Set(0, 0, static_cast<uint16_t>(0x114 + 8 * m), instance, limit);
  }
};

// `expected` appears in `lines` in this order (back-ends may repeat a line).
::testing::AssertionResult InOrder(const std::vector<std::string>& lines,
                                   const std::vector<std::string>& expected) {
  size_t at = 0;
  for (const std::string& e : expected) {
    while (at < lines.size() && lines[at] != e) ++at;
    if (at == lines.size()) {
      std::string got;
      for (const auto& l : lines) got += "\n  " + l;
      return ::testing::AssertionFailure()
             << "missing or out of order: \"" << e << "\"; got:" << got;
    }
    ++at;
  }
  return ::testing::AssertionSuccess();
}

// Combined layout, no CCM, four channels 0x10-0x13 from bit 8.
void FourChannels(Capture& c) {
  c.fabric.Set(0, 1, 0x208, kBroadcast, 0);
  c.fabric.Set(0, 0, 0x40, kBroadcast, 0);
  c.Map(kBroadcast, 0x31, 0xF010);
  for (uint16_t ch = 0x10; ch < 0x14; ++ch) {
    c.fabric.Set(0, 0, 0x50, ch, uint32_t{ch} << 8);
    c.Map(ch, 0x31, 0xF010);
  }
}

TEST(FabricMessages, CalcNormAddrReportsEachStep) {
  Capture c;
  ASSERT_TRUE(c.UartReceivesMessages()) << "no diagnostic back-end writes to the UART";
  FourChannels(c);
  atd::calcNormAddr(0x12345);
  EXPECT_TRUE(
      InOrder(c.Lines(), {"checkDramHit: ccmInstanceId = -1", "calcNormAddr: csFabricId = 00000013",
                          "calcNormAddr: dramBaseAddr = 0x0000000000000000",
                          "calcNormAddr: dramLimitAddr = 0x00000000FFFFFFFF",
                          "calcNormAddr: holeEn = 0, dramHoleBase = 0x0000000000000000"}));
  c.uart->ClearTransmitted();
  atd::calcNormAddr(0x100000000);
  EXPECT_TRUE(InOrder(c.Lines(),
                      {"checkDramHit: ccmInstanceId = -1",
                       "calcNormAddr: checkDramHit return with failure --> system address does not "
                       "locate in DRAM, fill normalizedAddr = 0xffffffff_ffffffff and return"}));
}

TEST(FabricMessages, CalcSysAddrReportsEachStep) {
  Capture c;
  ASSERT_TRUE(c.UartReceivesMessages()) << "no diagnostic back-end writes to the UART";
  FourChannels(c);
  atd::calcSysAddr(0x4845, 0, 0, 0x13);
  EXPECT_TRUE(
      InOrder(c.Lines(),
              {"calcSysAddr: calcSysAddr = 0x0000000000004845, nodeId = 0, channel = 19",
               "calcSysAddr: csInstanceId = 19, csFabricId = 13",
               "calcSysAddr: mapRegNumber = 0, hiAddrOffset = 0x0000000000000000",
               "calcSysAddr: dramBaseReg = 0x00000031, dramLimitReg = 0x0000F010",
               "calcSysAddr: dramBaseAddr = 0x0000000000000000",
               "calcSysAddr: dramLimitAddr = 0x00000000FFFFFFFF",
               "calcSysAddr: holeEn = 0, dramHoleBase = 0x0000000000000000",
               "calcSysAddr: intLvAddrBit = 8, numSocketsInterleaved = 1, numDieInterleaved = 1, "
               "numChanInterleaved = 4, numInterleaveBits = 2, hashEnabled = 0",
               "calcSysAddr: preNormAddr = 0x0000000000004845",
               "calcSysAddr: numDieInterleaved = 1, numChanInterleaved = 4, csId = 0x3, "
               "firstSocketIdBit = 2, firstDieIdBit = 2",
               "calcSysAddr: deIntLvAddr = 0x0000000000012345"}));
}

// The channel's low fabric-id bits (0x14: 0) are below the map's first
// channel's (0x11: 1): csId is reported as the 32-bit difference, and only
// its two interleave bits reach the address (position 3).
TEST(FabricMessages, CalcSysAddrReportsAWrappedCsIdWhole) {
  Capture c;
  ASSERT_TRUE(c.UartReceivesMessages()) << "no diagnostic back-end writes to the UART";
  c.fabric.Set(0, 1, 0x208, kBroadcast, 0);
  c.fabric.Set(0, 0, 0x50, 0x14, 0x1400);
  c.Map(0x14, 0x31, 0xF011);
  EXPECT_EQ(atd::calcSysAddr(0x45, 0, 0, 0x14), 0x345u);
  EXPECT_TRUE(
      InOrder(c.Lines(), {"calcSysAddr: numDieInterleaved = 1, numChanInterleaved = 4, csId = "
                          "0xffffffff, firstSocketIdBit = 2, firstDieIdBit = 2",
                          "calcSysAddr: deIntLvAddr = 0x0000000000000345"}));
}

TEST(FabricMessages, HoleMessagesOfBothWaysBack) {
  Capture c;
  ASSERT_TRUE(c.UartReceivesMessages()) << "no diagnostic back-end writes to the UART";
  c.fabric.Set(0, 1, 0x208, kBroadcast, 0);
  c.fabric.Set(0, 0, 0x50, 0, 0);
  c.fabric.Set(0, 0, 0x104, 0, 0xC0000000);
  c.Map(0, 0x03, 0x13000);  // no interleave, hole enabled
  c.fabric.Set(0, 0, 0x50, 1, 0x100);
  c.fabric.Set(0, 0, 0x104, 1, 0xC0000000);
  c.Map(1, 0x13, 0x13000);  // two channels from dst 0, hole enabled
  EXPECT_EQ(atd::calcSysAddr(0xC0000000, 0, 0, 0), 0x100000000u);
  EXPECT_TRUE(InOrder(c.Lines(), {"calcSysAddr: holeEn = 1, dramHoleBase = 0x00000000C0000000",
                                  "calcSysAddr: deIntLvAddr = 0x00000000C0000000",
                                  "calcSysAddr: dramHoleBase = 0x00000000C0000000, adjust = "
                                  "0x0000000040000000"}));
  c.uart->ClearTransmitted();
  atd::calcSysAddr(0x60000000, 0, 0, 1);
  EXPECT_TRUE(InOrder(c.Lines(), {"dramHoleBase = 0x00000000C0000000, adjust = 0x0000000040000000",
                                  "calcSysAddr: deIntLvAddr = 0x0000000100000100"}));
}

TEST(FabricMessages, SixChannelHoleMessagesOfCheckDramHit) {
  Capture c;
  ASSERT_TRUE(c.UartReceivesMessages()) << "no diagnostic back-end writes to the UART";
  c.fabric.Set(0, 1, 0x208, kBroadcast, 0x00100001);
  c.fabric.Set(0, 1, 0x20C, kBroadcast, 0x01000004);
  c.fabric.Set(0, 0, 0x3F8, kBroadcast, 0x00700000);
  c.fabric.Set(0, 0, 0x40, kBroadcast, 0);
  c.fabric.Set(0, 0, 0x104, kBroadcast, 0xC0000001);
  c.fabric.Set(0, 0, 0x60, kBroadcast, 0xFF543210);
  c.Map(kBroadcast, 0x1 | 0x2 | (6 << 2), 0x1B000);
  atd::checkDramHit(0x100000100);
  EXPECT_TRUE(InOrder(c.Lines(), {"checkDramHit: ccmInstanceId = -1",
                                  "checkDramHit: DramHoleBase = 0x00000000C0000000, adjust = "
                                  "0x0000000040000000",
                                  "checkDramHit: adjSysAddr = 0x00000000C0000100",
                                  "adjSysAddr = 0x00000000C0000100"}));
  c.uart->ClearTransmitted();
  atd::checkDramHit(0xC8000000);
  EXPECT_TRUE(
      InOrder(c.Lines(), {"CheckDramHit was given a system address 0x00000000C8000000 that was an "
                          "MMIO address",
                          "adjSysAddr = 0x00000000C8000000"}));
}

// Fields the translations take straight from a register, each register
// written whole as the hardware holds it (the bits around the field set), and
// what the messages then report: the CCM search by F0x40 bits 7:0 and F0x44
// bits 3:0, csFabricId from F0x50 bits 15:8, the high-address offset's
// enable in F0x1B4 bit 0.
TEST(FabricMessages, RegisterFieldsReadFromRawHex) {
  struct Reg {
    uint16_t function, offset, instance;
    uint32_t value;
  };
  struct Row {
    const char* what;
    std::vector<Reg> regs;
    bool sysAddr;  // calcSysAddr(0x1000, 0, 0, 0x13), else checkDramHit(0x1000)
    std::string line;
  };
  const Row rows[] = {
      {"count 0x81: instance 0x80 is searched",
       {{0, 0x40, kBroadcast, 0xFFFFFF81}, {0, 0x44, 0x80, 0xFFFFFFF0}},
       false,
       "checkDramHit: ccmInstanceId = 128"},
      {"count 0x80: instance 0x80 is not",
       {{0, 0x40, kBroadcast, 0xFFFFFF80}, {0, 0x44, 0x80, 0xFFFFFFF0}},
       false,
       "checkDramHit: ccmInstanceId = -1"},
      {"types 1 and 8 are not the CCM, type 0 is",
       {{0, 0x40, kBroadcast, 0xFFFFFF03},
        {0, 0x44, 0, 0xFFFFFFF1},
        {0, 0x44, 1, 0xFFFFFFF8},
        {0, 0x44, 2, 0xFFFFFFF0}},
       false,
       "checkDramHit: ccmInstanceId = 2"},
      {"csFabricId",
       {{0, 0x50, 0x13, 0xFFFF93FF}},
       true,
       "calcSysAddr: csInstanceId = 19, csFabricId = 93"},
      {"offset enable clear under all other bits",
       {{0, 0x1B4, 0x13, 0xFFFFFFFE}},
       true,
       "calcSysAddr: mapRegNumber = 0, hiAddrOffset = 0x0000000000000000"},
      {"offset enable alone",
       {{0, 0x1B4, 0x13, 0x00000001}},
       true,
       "calcSysAddr: mapRegNumber = 1, hiAddrOffset = 0x0000000000000000"},
  };
  for (const Row& r : rows) {
    Capture c;
    ASSERT_TRUE(c.UartReceivesMessages()) << "no diagnostic back-end writes to the UART";
    c.fabric.Set(0, 1, 0x208, kBroadcast, 0);
    c.Map(0x13, 0x01, 0xF000);
    c.Map(0x13, 0x01, 0xF000, 1);
    for (const Reg& g : r.regs)
      c.fabric.Set(0, static_cast<uint8_t>(g.function), g.offset, g.instance, g.value);
    if (r.sysAddr)
      atd::calcSysAddr(0x1000, 0, 0, 0x13);
    else
      atd::checkDramHit(0x1000);
    EXPECT_TRUE(InOrder(c.Lines(), {r.line})) << r.what;
  }
}

}  // namespace
