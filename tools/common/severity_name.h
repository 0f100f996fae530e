// Error severities of the ACPI/UEFI error records (generic error status
// blocks, their data entries and the BERT): 0 recoverable, 1 fatal,
// 2 corrected, 3 none.
#pragma once

#include <cstdint>

namespace tools {

// "recoverable" ... "none"; null for any other value.
const char* SeverityName(uint32_t severity);

}  // namespace tools
