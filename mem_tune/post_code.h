// Progress and failure reports of MemTuneSmm: one byte each on port 0x80.
#pragma once

#include "hw/hw.h"

#include <cstdint>

namespace mts {

constexpr uint16_t kPostPort = 0x80;

enum PostCode : uint8_t {
  kPostSmiEntry = 0xD1,
  kPostRequestAccepted = 0xD2,
  kPostReadCurrent = 0xD3,
  kPostMemClockWritten = 0xD4,
  kPostSetupUpdate = 0xE0,
  // 0xF1 and 0xF2 each carry two meanings: the dispatcher writes them for
  // the hold and release commands, the setup update for its first failures.
  kPostHoldOrNoVariableService = 0xF1,
  kPostReleaseOrVariableUnreadable = 0xF2,
  kPostNoWorkingCopy = 0xF3,
  kPostOptionApplied = 0xF4,
  kPostVariableTooSmall = 0xF5,
  kPostWriteBack = 0xF7,
  kPostWrittenBack = 0xF8,
};

inline void Post(uint8_t code) {
  hw::IoWrite8(kPostPort, code);
}

}  // namespace mts
