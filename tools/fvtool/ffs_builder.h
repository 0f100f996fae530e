// Builds sections and FFS files as the dispatchers expect them: sections
// 4-byte aligned within their file, the header checksum that makes the
// header's 8-bit sum 0 (State and file checksum counted as 0), the file
// checksum (0xAA when the checksum attribute is clear), and State marking a
// complete file in the volume's erase polarity.
#pragma once

#include "tools/fvtool/bytes.h"
#include "tools/fvtool/guid.h"

#include <string>
#include <vector>

namespace fvtool {

// A section: the 4-byte header, or the 8-byte one when the size needs more
// than 24 bits.
Bytes BuildSection(uint8_t type, ByteView payload);
// A user-interface section: the name in UTF-16 with its terminating null.
Bytes BuildUiSection(const std::string& name);
// Sections one after the other, each starting 4-byte aligned (zero fill).
Bytes JoinSections(const std::vector<Bytes>& sections);

struct FileFields {
  Guid name;
  uint8_t type = 0;
  uint8_t attributes = 0;
  uint8_t state = 0;
};

// State of a complete, valid file in a volume with the given erase byte.
uint8_t CompleteFileState(uint8_t eraseByte);

// Header and body. A file of more than 16 MiB gets the large-file header in
// an FFS3 volume (`largeAllowed`) and is refused otherwise.
Bytes BuildFile(const FileFields& fields, ByteView body, bool largeAllowed);

}  // namespace fvtool
