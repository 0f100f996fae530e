// The bytes of a flash image and the little-endian fields in them
// (tools/common/little_endian.h), read and written at byte offsets.
#pragma once

#include "tools/common/little_endian.h"

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace fvtool {

using Bytes = std::vector<uint8_t>;
using ByteView = std::span<const uint8_t>;

using tools::AppendLe;
using tools::Le16;
using tools::Le24;
using tools::Le32;
using tools::Le64;
using tools::LoadLe;
using tools::StoreLe;

inline uint8_t Sum8(ByteView bytes) {
  uint8_t sum = 0;
  for (uint8_t b : bytes) sum = static_cast<uint8_t>(sum + b);
  return sum;
}

constexpr std::size_t AlignUp(std::size_t v, std::size_t to) {
  return (v + to - 1) / to * to;
}

}  // namespace fvtool
