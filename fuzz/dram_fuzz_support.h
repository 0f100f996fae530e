// What the DRAM fuzz targets share: a channel configuration table from the
// input, and a comparison of DRAM coordinates.
//
// A ChannelConfigTable filled from fuzz input: a run of input bytes written
// from a chosen offset, wrapping around, the rest zero. A seed that is mostly
// zeros keeps chip selects matching often. The table is an exact-size heap
// block, so a read past it is caught.
#pragma once

#include "registers/channel_config.h"
#include "dram_address.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

inline std::unique_ptr<atd::ChannelConfigTable> ChannelTableFromInput(FuzzedDataProvider& in) {
  auto table = std::make_unique<atd::ChannelConfigTable>();
  auto* bytes = reinterpret_cast<uint8_t*>(table.get());
  std::memset(bytes, 0, sizeof *table);
  const size_t tableInput = in.ConsumeIntegralInRange<size_t>(0, sizeof *table);
  std::vector<uint8_t> raw = in.ConsumeBytes<uint8_t>(tableInput);
  const size_t offset = in.ConsumeIntegralInRange<size_t>(0, sizeof *table - 1);
  for (size_t i = 0; i < raw.size(); ++i) bytes[(offset + i) % sizeof *table] = raw[i];
  return table;
}

// The five coordinates a translation writes (the record's gap bytes left out).
inline bool SameCoordinates(const DramAddress& a, const DramAddress& b) {
  return a.chipSelect == b.chipSelect && a.bank == b.bank && a.row == b.row && a.col == b.col &&
         a.rankMul == b.rankMul;
}
