// Inserting drivers into the DXE volume of a flash image (the volume holding
// the DXE core), wherever it lies: at the top level, in an FV_IMAGE section,
// or in the LZMA-compressed section of an FV_IMAGE file. The new files go into
// the volume's free space; the volume keeps its size. Each container on the
// way out is rebuilt: an LZMA section is compressed again, its file gets its
// new size and checksums, and the file stays in its room: the last file of a
// volume may grow into the free space after it and leaves the rest of its old
// room erased; a file with files after it keeps its size exactly (a RAW
// section fills what it no longer needs), so the files after it do not move.
// Every other byte of the image stays as it was.
#pragma once

#include "tools/fvtool/bytes.h"
#include "tools/fvtool/firmware_volume.h"
#include "tools/fvtool/guid.h"

#include <optional>
#include <string>
#include <vector>

namespace fvtool {

struct DriverInsert {
  std::string source;    // the image's path, for messages
  uint8_t fileType = 0;  // ffs::kFileDriver or ffs::kFileSmm
  Guid fileGuid;
  std::string uiName;          // empty: no user-interface section
  Bytes image;                 // PE32+
  std::optional<Bytes> depex;  // opcodes, END included; none: no dependency section
};

struct InsertOptions {
  int lzmaLevel = 6;  // liblzma preset for recompressed sections
  ParseLimits limits;
};

struct InsertedFile {
  const DriverInsert* driver = nullptr;
  std::size_t offset = 0;  // in the DXE volume's buffer
  std::size_t size = 0;
};

struct RewrittenFile {
  std::string where;  // the file's place before the change
  Guid name;
  std::size_t oldSize = 0;
  std::size_t newSize = 0;
  std::size_t room = 0;  // bytes the file may take from its offset
};

struct InsertReport {
  std::string volume;  // the DXE volume
  std::size_t freeBefore = 0;
  std::size_t freeAfter = 0;
  std::vector<InsertedFile> files;
  std::vector<RewrittenFile> rewritten;  // innermost first
  std::vector<std::string> notes;
};

// The depex section type for a driver's file type.
uint8_t DepexSectionType(uint8_t fileType);

// The FFS file of one driver: dependency section, PE32 section, UI section.
Bytes BuildDriverFile(const DriverInsert& driver, uint8_t eraseByte, bool largeAllowed);

// Returns the whole new image. Throws Refusal (no volume, no DXE volume, an
// encoding fvtool cannot rebuild, no room, a GUID already present).
Bytes InsertDrivers(ByteView flash, const std::vector<DriverInsert>& drivers,
                    const InsertOptions& options, InsertReport* report = nullptr);

}  // namespace fvtool
