// Helpers shared by the DRAM translation tests: a message catcher and a
// hand-written channel slot.
#pragma once

#include "addr_translate/dram/translate_norm_to_dram_addr.h"

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

namespace dramtest {

// Catches the translation's messages, and what the caller's record held when
// each one was printed.
struct Catcher {
  std::vector<std::string> lines;
  std::vector<DramAddress> recordAtLine;
  const DramAddress* watched = nullptr;

  atd::DramMessageSink Sink() { return {&Catcher::Print, this}; }
  static void Print(void* self, const char* format, va_list args) {
    auto* c = static_cast<Catcher*>(self);
    char buf[512];
    std::vsnprintf(buf, sizeof buf, format, args);
    c->lines.emplace_back(buf);
    c->recordAtLine.push_back(c->watched ? *c->watched : DramAddress{});
  }
  std::vector<std::string> Errors() const {
    std::vector<std::string> e;
    for (const auto& l : lines)
      if (l.find("ERROR") != std::string::npos) e.push_back(l);
    return e;
  }
};

inline std::unique_ptr<atd::ChannelConfigTable> NewTable() {
  return std::make_unique<atd::ChannelConfigTable>();  // zeroed
}

// Slot `s`, chip selects 0 and 1 (pair 0), primary ranges:
//   A[12:3] column 0..9, A[16:13] bank 0..3, A[17] rank multiplier 0,
//   A[29:18] row 0..11, A[30] chip select.
inline void FillReferenceSlot(atd::ChannelConfigTable& t, unsigned s) {
  t.csPresent[s] = 0x3;
  t.addrCfg[s][0] = atd::AddrCfg::kCsEnEven | atd::AddrCfg::kCsEnOdd |
                    (1u << atd::AddrCfg::kNoofbankShift) | (1u << atd::AddrCfg::kNoofrmShift) |
                    (2u << atd::AddrCfg::kNoofrwoloShift) | (5u << atd::AddrCfg::kNoofcolShift);
  t.csBase[s][0] = 0;
  t.csBase[s][1] = 0x400000;          // A[30]
  t.csMask[s][0] = 0x3FFFFF;          // A[29:8] take no part
  t.colAddrSelLo[s][0] = 0x87654321;  // column bit j at A[j + 3]
  t.colAddrSelHi[s][0] = 0x00000043;  // column bits 8, 9 at A[11], A[12]
  t.bankAddrSel[s][0] = 0x0BA98;      // bank bit k at A[k + 13]
  t.rmAddrSel[s][0] = 0x5;            // rank multiplier bit 0 at A[17]
  t.rowAddrSel[s][0] = 0x6;           // row from A[18]
}

// An address of the reference slot with the given coordinates.
inline uint64_t ReferenceAddress(unsigned cs, unsigned bank, unsigned row, unsigned col,
                                 unsigned rm) {
  return (uint64_t{col} << 3) | (uint64_t{bank} << 13) | (uint64_t{rm} << 17) |
         (uint64_t{row} << 18) | (uint64_t{cs} << 30);
}

}  // namespace dramtest
