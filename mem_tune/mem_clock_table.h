// MemClockTable: memory-clock codes as the controller encodes them (register
// 0x200 bits 6:0) and the clock in MHz that the mailbox carries. Searched in
// order; the end row (255, 255) stops the walk before it is compared.
#pragma once

#include <cstdint>

namespace mts {

struct MemClockRow {
  uint16_t code;
  uint16_t value;
};

constexpr MemClockRow kMemClockTable[] = {
    {4, 333},   {6, 400},   {10, 533},  {20, 667},  {24, 800},  {25, 1050}, {26, 1066}, {28, 933},
    {32, 1067}, {36, 1200}, {40, 1333}, {41, 1367}, {42, 1400}, {43, 1433}, {44, 1467}, {45, 1500},
    {46, 1533}, {47, 1567}, {48, 1600}, {49, 1633}, {50, 1667}, {51, 1700}, {52, 1733}, {53, 1767},
    {54, 1800}, {55, 1833}, {56, 1867}, {57, 1900}, {58, 1933}, {59, 1967}, {60, 2000}, {61, 2033},
    {62, 2067}, {63, 2100}, {64, 2133}, {65, 2167}, {66, 2200}, {255, 255},
};
static_assert(sizeof(kMemClockTable) / sizeof(kMemClockTable[0]) == 38);
constexpr uint16_t kMemClockEnd = 255;

// The first row whose value (MHz) is `mhz`, or null.
constexpr const MemClockRow* FindMemClockByValue(uint16_t mhz) {
  for (const MemClockRow* r = kMemClockTable; r->code != kMemClockEnd; ++r)
    if (r->value == mhz) return r;
  return nullptr;
}

// The first row whose code is `code`, or null.
constexpr const MemClockRow* FindMemClockByCode(uint16_t code) {
  for (const MemClockRow* r = kMemClockTable; r->code != kMemClockEnd; ++r)
    if (r->code == code) return r;
  return nullptr;
}

}  // namespace mts
