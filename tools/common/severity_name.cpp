#include "tools/common/severity_name.h"

namespace tools {

const char* SeverityName(uint32_t severity) {
  static const char* const kNames[] = {"recoverable", "fatal", "corrected", "informational"};
  return severity < 4 ? kNames[severity] : nullptr;
}

}  // namespace tools
