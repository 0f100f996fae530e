// Dependency expressions: the text of an INF [Depex] section compiled into the
// opcodes the DXE and SMM dispatchers evaluate (postfix, END last).
//
// Text: GUID C names and registry-format GUIDs, AND, OR, NOT, TRUE, FALSE,
// parentheses; BEFORE GUID or AFTER GUID alone; SOR first (DXE only). AND and
// OR bind equally in the dispatcher's grammar, while INF authors often read AND
// as binding tighter; an expression that mixes them without parentheses is
// refused rather than guessed.
#pragma once

#include "tools/fvtool/bytes.h"
#include "tools/fvtool/guid.h"

#include <functional>
#include <map>
#include <string>
#include <string_view>

namespace fvtool {

enum class DepexKind { kDxe, kSmm };

namespace depex {
constexpr uint8_t kBefore = 0x00;
constexpr uint8_t kAfter = 0x01;
constexpr uint8_t kPush = 0x02;
constexpr uint8_t kAnd = 0x03;
constexpr uint8_t kOr = 0x04;
constexpr uint8_t kNot = 0x05;
constexpr uint8_t kTrue = 0x06;
constexpr uint8_t kFalse = 0x07;
constexpr uint8_t kEnd = 0x08;
constexpr uint8_t kSor = 0x09;
}  // namespace depex

using GuidNames = std::map<std::string, Guid, std::less<>>;

// Throws InputError for text that does not parse, Refusal for a GUID name
// that `names` does not hold.
Bytes CompileDepex(std::string_view expression, const GuidNames& names, DepexKind kind);

}  // namespace fvtool
