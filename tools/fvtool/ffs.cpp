#include "tools/fvtool/ffs.h"

#include "tools/fvtool/errors.h"

#include <cstdio>

namespace fvtool {

namespace ffs {

std::string FileTypeName(uint8_t type) {
  static const char* const kNames[] = {"ALL",
                                       "RAW",
                                       "FREEFORM",
                                       "SEC_CORE",
                                       "PEI_CORE",
                                       "DXE_CORE",
                                       "PEIM",
                                       "DRIVER",
                                       "COMBINED_PEIM_DRIVER",
                                       "APPLICATION",
                                       "SMM",
                                       "FV_IMAGE",
                                       "COMBINED_SMM_DXE",
                                       "SMM_CORE",
                                       "MM_STANDALONE",
                                       "MM_CORE_STANDALONE"};
  if (type < sizeof kNames / sizeof kNames[0]) return kNames[type];
  if (type >= 0xC0 && type <= 0xDF) return "OEM";
  if (type >= 0xE0 && type <= 0xEF) return "DEBUG";
  if (type == kFilePad) return "PAD";
  return "unknown";
}

std::string SectionTypeName(uint8_t type) {
  switch (type) {
    case kSectionCompression:
      return "COMPRESSION";
    case kSectionGuidDefined:
      return "GUID_DEFINED";
    case kSectionDisposable:
      return "DISPOSABLE";
    case kSectionPe32:
      return "PE32";
    case 0x11:
      return "PIC";
    case 0x12:
      return "TE";
    case kSectionDxeDepex:
      return "DXE_DEPEX";
    case 0x14:
      return "VERSION";
    case kSectionUserInterface:
      return "USER_INTERFACE";
    case 0x16:
      return "COMPATIBILITY16";
    case kSectionVolumeImage:
      return "FV_IMAGE";
    case 0x18:
      return "FREEFORM_SUBTYPE_GUID";
    case kSectionRaw:
      return "RAW";
    case 0x1B:
      return "PEI_DEPEX";
    case kSectionSmmDepex:
      return "SMM_DEPEX";
    default:
      return "unknown";
  }
}

uint16_t VolumeHeaderSum(ByteView header) {
  uint16_t sum = 0;
  for (std::size_t i = 0; i + 1 < header.size(); i += 2)
    sum = static_cast<uint16_t>(sum + Le16(header, i));
  return sum;
}

uint8_t FileHeaderChecksum(ByteView header) {
  uint8_t sum = 0;
  for (std::size_t i = 0; i < header.size(); ++i) {
    if (i == offsetof(FileHeader, headerChecksum) || i == offsetof(FileHeader, fileChecksum) ||
        i == offsetof(FileHeader, state))
      continue;
    sum = static_cast<uint8_t>(sum + header[i]);
  }
  return static_cast<uint8_t>(0 - sum);
}

}  // namespace ffs
}  // namespace fvtool
