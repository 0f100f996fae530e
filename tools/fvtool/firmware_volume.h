// A flash image as fvtool reads it: the firmware volumes it holds, their FFS
// files and the files' sections, down into volumes carried in FV_IMAGE
// sections and in LZMA-compressed sections. Offsets are byte offsets in the
// buffer that holds the item: the flash image, or the decompressed data of an
// LZMA section.
#pragma once

#include "tools/fvtool/bytes.h"
#include "tools/fvtool/ffs.h"
#include "tools/fvtool/guid.h"

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace fvtool {

struct Volume;

struct Section {
  std::size_t offset = 0;  // of the section header
  std::size_t size = 0;    // header included
  std::size_t headerSize = 0;
  uint8_t type = 0;
  // GUID_DEFINED sections.
  Guid definitionGuid;
  std::size_t dataOffset = 0;  // from the start of the section
  uint16_t guidedAttributes = 0;
  // USER_INTERFACE sections.
  std::string uiName;
  // What fvtool could open: for an LZMA section the decompressed data and the
  // sections in it; for other encapsulations the sections held in place; for
  // an FV_IMAGE section its volume (in the same buffer).
  std::shared_ptr<const Bytes> decoded;
  std::string decodedName;  // how messages name the decompressed data
  std::vector<Section> children;
  std::vector<Volume> volumes;
  std::string unopened;  // why an encapsulation was not opened, if it was not
};

struct FfsFile {
  std::size_t offset = 0;
  std::size_t size = 0;  // header included, without the padding to the next file
  std::size_t headerSize = 0;
  Guid name;
  uint8_t type = 0;
  uint8_t attributes = 0;
  uint8_t state = 0;
  bool dataChecksumOk = true;
  std::string uiName;
  std::vector<Section> sections;
};

struct Volume {
  std::string where;  // the buffer holding the volume: "flash" or decompressed data
  std::size_t offset = 0;
  uint64_t length = 0;
  std::size_t headerLength = 0;
  uint32_t attributes = 0;
  Guid fileSystem;
  std::optional<Guid> name;  // from the extended header
  bool holdsFiles = false;   // an FFS2 or FFS3 file system
  bool ffs3 = false;
  // The free space after the last file: from freeOffset to the volume's end.
  std::size_t freeOffset = 0;
  std::size_t freeSize = 0;
  bool freeErased = true;  // every free byte holds the erase value
  std::vector<FfsFile> files;

  uint8_t EraseByte() const {
    return (attributes & ffs::kAttribErasePolarity) != 0 ? uint8_t{0xFF} : uint8_t{0x00};
  }
  std::size_t End() const { return offset + static_cast<std::size_t>(length); }
  // "volume 7CB8BDC9-... at 0xE0090 of <where>" for messages.
  std::string Describe() const;
};

struct ParseLimits {
  std::size_t maxDecompressed = std::size_t{256} << 20;  // per LZMA section
  unsigned maxDepth = 8;  // volumes and encapsulations inside each other
};

struct FlashImage {
  std::vector<Volume> volumes;     // top-level volumes in flash order
  unsigned skippedCandidates = 0;  // "_FVH" signatures without a valid header
};

// "flash offset 0x78", "[LZMA data of the section at flash offset 0x90] offset
// 0xE0090": a place in a buffer, for messages.
std::string Location(const std::string& where, std::size_t offset);

// Finds the volumes of a flash image: every "_FVH" signature whose header has a
// valid checksum and fits the image (code that merely contains the signature
// is skipped), then their files and sections. Throws Refusal naming the place
// of a malformed file or section.
FlashImage ParseFlash(ByteView flash, const ParseLimits& limits = {});

// Whether a valid volume header starts at `offset` and the volume ends at or
// before `limit`.
bool IsVolumeHeader(ByteView buf, std::size_t offset, std::size_t limit);

// Parses the volume at `offset` of `buf` (named `where` in messages).
Volume ParseVolume(ByteView buf, std::size_t offset, const std::string& where,
                   const ParseLimits& limits, unsigned depth = 0);

// The sections of a section list [begin, end) of `buf`.
std::vector<Section> ParseSections(ByteView buf, std::size_t begin, std::size_t end,
                                   const std::string& where, const ParseLimits& limits,
                                   unsigned depth);

}  // namespace fvtool

namespace fvtool {

// Every volume of the image, depth first (a volume before those inside it).
std::vector<const Volume*> AllVolumes(const FlashImage& image);

// Every section below the volume's files that fvtool could not open, as
// "<place>: <reason>".
std::vector<std::string> UnopenedSections(const FlashImage& image);

}  // namespace fvtool
