// The layouts of firmware volumes, their files and sections, as the PI
// specification (volume 3) defines them. Every structure is little-endian and
// packed; the static_asserts pin the offsets the code reads and writes.
#pragma once

#include "tools/fvtool/bytes.h"
#include "tools/fvtool/guid.h"

#include <cstddef>
#include <cstdint>
#include <string>

namespace fvtool::ffs {

// ---- firmware volume header --------------------------------------------------
#pragma pack(push, 1)
struct VolumeHeader {
  uint8_t zeroVector[16];
  uint8_t fileSystemGuid[16];
  uint64_t fvLength;
  uint32_t signature;  // "_FVH"
  uint32_t attributes;
  uint16_t headerLength;
  uint16_t checksum;  // the header's 16-bit words sum to 0
  uint16_t extHeaderOffset;
  uint8_t reserved;
  uint8_t revision;
  // block map follows: {NumBlocks, Length} pairs ending in {0, 0}
};
struct VolumeExtHeader {
  uint8_t fvName[16];
  uint32_t extHeaderSize;
};
struct FileHeader {
  uint8_t name[16];
  uint8_t headerChecksum;
  uint8_t fileChecksum;
  uint8_t type;
  uint8_t attributes;
  uint8_t size[3];
  uint8_t state;
};
struct FileHeader2 {
  FileHeader base;
  uint64_t extendedSize;  // when FFS_ATTRIB_LARGE_FILE is set (FFS3 volumes only)
};
struct SectionHeader {
  uint8_t size[3];  // 0xFFFFFF: the 32-bit extended size follows
  uint8_t type;
};
struct GuidDefinedFields {  // after the common section header
  uint8_t sectionDefinitionGuid[16];
  uint16_t dataOffset;  // from the start of the section
  uint16_t attributes;
};
#pragma pack(pop)

static_assert(sizeof(VolumeHeader) == 56);
static_assert(offsetof(VolumeHeader, fileSystemGuid) == 16);
static_assert(offsetof(VolumeHeader, fvLength) == 32);
static_assert(offsetof(VolumeHeader, signature) == 40);
static_assert(offsetof(VolumeHeader, attributes) == 44);
static_assert(offsetof(VolumeHeader, headerLength) == 48);
static_assert(offsetof(VolumeHeader, checksum) == 50);
static_assert(offsetof(VolumeHeader, extHeaderOffset) == 52);
static_assert(offsetof(VolumeHeader, revision) == 55);
static_assert(sizeof(VolumeExtHeader) == 20);
static_assert(sizeof(FileHeader) == 24);
static_assert(offsetof(FileHeader, headerChecksum) == 16);
static_assert(offsetof(FileHeader, fileChecksum) == 17);
static_assert(offsetof(FileHeader, type) == 18);
static_assert(offsetof(FileHeader, attributes) == 19);
static_assert(offsetof(FileHeader, size) == 20);
static_assert(offsetof(FileHeader, state) == 23);
static_assert(sizeof(FileHeader2) == 32);
static_assert(sizeof(SectionHeader) == 4);
static_assert(sizeof(GuidDefinedFields) == 20);
static_assert(offsetof(GuidDefinedFields, dataOffset) == 16);

constexpr uint32_t kVolumeSignature = 0x4856465F;  // "_FVH"
constexpr uint32_t kAttribErasePolarity = 0x00000800;
constexpr std::size_t kFileAlignment = 8;
constexpr std::size_t kSectionAlignment = 4;
constexpr uint32_t kMaxSize24 = 0xFFFFFF;

// File system GUIDs of volumes whose contents are FFS files.
inline const Guid kFfs2Guid =
    Guid::FromFields(0x8C8CE578, 0x8A3D, 0x4F1C, {0x99, 0x35, 0x89, 0x61, 0x85, 0xC3, 0x2D, 0xD3});
inline const Guid kFfs3Guid =
    Guid::FromFields(0x5473C07A, 0x3DCB, 0x4DCA, {0xBD, 0x6F, 0x1E, 0x96, 0x89, 0xE7, 0x34, 0x9A});
// GUID-defined section whose data is an LZMA stream (13-byte header: the
// properties byte, the 32-bit dictionary size, the 64-bit uncompressed size).
inline const Guid kLzmaSectionGuid =
    Guid::FromFields(0xEE4E5898, 0x3914, 0x4259, {0x9D, 0x6E, 0xDC, 0x7B, 0xD7, 0x94, 0x03, 0xCF});

// File types.
constexpr uint8_t kFileRaw = 0x01;
constexpr uint8_t kFileDxeCore = 0x05;
constexpr uint8_t kFileDriver = 0x07;
constexpr uint8_t kFileSmm = 0x0A;
constexpr uint8_t kFileVolumeImage = 0x0B;
constexpr uint8_t kFileSmmCore = 0x0D;
constexpr uint8_t kFilePad = 0xF0;

// File attributes.
constexpr uint8_t kAttribLargeFile = 0x01;
constexpr uint8_t kAttribChecksum = 0x40;
// IntegrityCheck.File when the file data is not checksummed.
constexpr uint8_t kFixedFileChecksum = 0xAA;

// File state bits (stored inverted in volumes with erase polarity 1).
constexpr uint8_t kStateHeaderConstruction = 0x01;
constexpr uint8_t kStateHeaderValid = 0x02;
constexpr uint8_t kStateDataValid = 0x04;
constexpr uint8_t kStateComplete = kStateHeaderConstruction | kStateHeaderValid | kStateDataValid;

// Section types.
constexpr uint8_t kSectionCompression = 0x01;
constexpr uint8_t kSectionGuidDefined = 0x02;
constexpr uint8_t kSectionDisposable = 0x03;
constexpr uint8_t kSectionPe32 = 0x10;
constexpr uint8_t kSectionDxeDepex = 0x13;
constexpr uint8_t kSectionUserInterface = 0x15;
constexpr uint8_t kSectionVolumeImage = 0x17;
constexpr uint8_t kSectionRaw = 0x19;
constexpr uint8_t kSectionSmmDepex = 0x1C;

// GUID-defined section attributes.
constexpr uint16_t kGuidedProcessingRequired = 0x0001;

// Names for listings: "DRIVER", "SMM", "FV_IMAGE", "PE32", ... ("OEM", "DEBUG"
// and "unknown" for the ranges and holes).
std::string FileTypeName(uint8_t type);
std::string SectionTypeName(uint8_t type);

// The sum of a volume header's 16-bit words (0 for a valid header).
uint16_t VolumeHeaderSum(ByteView header);
// The byte that IntegrityCheck.Header must hold for `header` (24 or 32
// bytes): the header's 8-bit sum is then 0 with State and IntegrityCheck.File
// counted as 0.
uint8_t FileHeaderChecksum(ByteView header);

}  // namespace fvtool::ffs
