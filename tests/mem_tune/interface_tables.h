// The service's interface tables as the tests expect them, read from the
// checked-in text tables in tests/mem_tune/data/ (written from the interface
// description, not from the driver's code), so that a transcription error in
// the driver's tables shows up as a disagreement.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <utility>
#include <vector>

namespace mttest {

struct FieldRef {
  uint16_t offset = 0;
  uint8_t width = 0;  // bytes
};

// A set command that writes configuration tokens.
struct DispatchCommand {
  uint32_t command;
  FieldRef value;
  std::optional<uint32_t> enableItem;
  uint32_t item;
};

// What a command changes in the setup variable.
struct SetupCommand {
  uint32_t command;
  std::optional<FieldRef> source;  // width: the bytes that reach the variable
  bool throughClockTable;
  std::optional<FieldRef> setup;  // none: no change
  std::optional<uint16_t> enableByte;
};

// One value field of the mailbox (a run of single bytes is one entry per
// byte) and what the readout puts there.
struct ValueField {
  enum class Source { Clock, Register, Settings, CopyOfByte, Zero, Untouched };
  FieldRef field;
  Source source;
  uint32_t from = 0;  // register offset, settings offset or mailbox byte
  unsigned hi = 0, lo = 0;
};

const std::vector<DispatchCommand>& DispatchCommands();
const std::vector<SetupCommand>& SetupCommands();
// item -> (token number, width in bytes)
const std::map<uint32_t, std::pair<uint32_t, uint8_t>>& Tokens();
const std::vector<ValueField>& ValueFields();

}  // namespace mttest
