// A field of a 32-bit register, declared once by its bit range and read or
// placed by that declaration. Both drivers describe their registers this way.
#pragma once

#include <cstdint>

namespace hw {

// Bits Hi:Lo of a 32-bit register.
template <unsigned Hi, unsigned Lo>
struct Bits {
  static_assert(Hi >= Lo && Hi < 32, "field outside a 32-bit register");
  static constexpr unsigned kLow = Lo;
  static constexpr unsigned kWidth = Hi - Lo + 1;
  static constexpr uint32_t kMask = kWidth == 32 ? 0xFFFFFFFFu : ((1u << kWidth) - 1u);
  static constexpr uint32_t Get(uint32_t reg) { return (reg >> Lo) & kMask; }
  // The field value placed into an otherwise empty register.
  static constexpr uint32_t Put(uint32_t field) { return (field & kMask) << Lo; }
};

}  // namespace hw
