// Normalized address of one channel -> DRAM coordinates, from the channel's
// entry in the ChannelConfigTable.
#pragma once

#include "addr_translate/translation_stops.h"
#include "registers/channel_config.h"
#include "dram_address.h"

#include <cstdarg>
#include <cstdint>

namespace atd {

// Writes all five fields of *out, every time (through separate pointers, so
// the gap bytes keep their contents). Reads the table at gChannelConfigTable.
void translate_norm_to_dram_addr(uint64_t normalizedAddress, uint8_t socket, uint8_t die,
                                 uint8_t channel, DramAddress* out);

// Where the translation's messages go. The driver sends them to DiagPrint at
// the translation level; a test can catch them instead. A null `print` drops
// them.
struct DramMessageSink {
  void (*print)(void* context, const char* format, va_list args);
  void* context;
};
extern const DramMessageSink kDiagPrintSink;

// Which range of the chip select matched.
inline constexpr uint32_t kMatchPrimary = 0;
inline constexpr uint32_t kMatchSecondary = 1;      // primary range enabled but not matching
inline constexpr uint32_t kMatchSecondaryOnly = 2;  // primary range disabled

// Everything decode_dram_fields needs of the matched chip select.
struct DramFieldSelect {
  uint64_t normAddr;
  uint32_t csMaskSec;               // secondary mask of the matched pair
  uint32_t bankBits;                // 3, 4 or 5
  uint8_t bankSel[kBankHashWords];  // bankAddrSel fields: bank bit k = A[field + 5]
  uint32_t rowLoBits;
  uint32_t rowHiBits;
  uint32_t colBits;
  uint8_t rowLoSel;  // rowAddrSel field 0: low row bits start at A[field + 12]
  uint8_t rowHiSel;  // rowAddrSel field 1: high row bits start at A[field + 24]
  uint32_t colAddrSelLo;
  uint32_t colAddrSelHi;
  uint32_t noofrm;
  uint8_t rmSel[3];                     // rmAddrSel fields: rank-multiplier bit k = A[field + 12]
  uint8_t rmSelSec[3];                  // rmAddrSelSec fields
  uint8_t rowInvEven, rowInvOdd;        // row-inversion pairs of rmAddrSel
  uint8_t rowInvEvenSec, rowInvOddSec;  // and of rmAddrSelSec
  uint32_t matchKind;
  uint32_t chipSelect;  // matched chip-select index
  uint32_t bankHashCtl[kBankHashWords];
};

// Bank, row, column and rank multiplier (before its hash) of the matched chip
// select. When any bank-hash word is enabled, the five hash bits are stored to
// bankHashBits[0..4]; otherwise bankHashBits is not touched.
void decode_dram_fields(const DramFieldSelect& in, uint8_t* bank, uint32_t* row, uint16_t* col,
                        uint8_t* rankMul, uint8_t* bankHashBits);

// The whole translation on `table` (may be null), messages to `sink`.
void TranslateNormToDram(ChannelConfigTable* table, uint64_t normalizedAddress, uint8_t socket,
                         uint8_t die, uint8_t channel, DramAddress* out,
                         const DramMessageSink& sink);

}  // namespace atd
