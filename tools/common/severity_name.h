// Error severities of the ACPI/UEFI error records (generic error status
// blocks, their data entries and the BERT): 0 recoverable, 1 fatal,
// 2 corrected, 3 informational (the UEFI name; "none" next to an error reads
// as no severity at all). 4 and up are reserved.
#pragma once

#include <cstdint>

namespace tools {

// "recoverable" ... "informational"; null for any other value.
const char* SeverityName(uint32_t severity);

}  // namespace tools
