#include "tools/fvtool/firmware_volume.h"

#include "tools/fvtool/errors.h"
#include "tools/fvtool/lzma_stream.h"

#include <algorithm>
#include <cstring>

namespace fvtool {

namespace {

using ffs::FileHeader;
using ffs::VolumeHeader;

bool AllBytes(ByteView buf, std::size_t begin, std::size_t end, uint8_t value) {
  return std::all_of(buf.begin() + static_cast<std::ptrdiff_t>(begin),
                     buf.begin() + static_cast<std::ptrdiff_t>(end),
                     [value](uint8_t b) { return b == value; });
}

// UTF-16 text of a user-interface section up to its terminating null; characters
// outside ASCII become '?', which is enough for names in a listing.
std::string Utf16Name(ByteView buf, std::size_t begin, std::size_t end) {
  std::string name;
  for (std::size_t i = begin; i + 1 < end; i += 2) {
    const uint16_t c = Le16(buf, i);
    if (c == 0) break;
    name += (c >= 0x20 && c < 0x7F) ? static_cast<char>(c) : '?';
  }
  return name;
}

void CheckDepth(unsigned depth, const ParseLimits& limits, const std::string& where,
                std::size_t offset) {
  if (depth > limits.maxDepth)
    throw Refusal(Location(where, offset) + ": volumes and sections nested more than " +
                  std::to_string(limits.maxDepth) + " deep");
}

void OpenGuidDefined(ByteView buf, Section& s, const std::string& where, const ParseLimits& limits,
                     unsigned depth) {
  const std::size_t fields = s.offset + s.headerSize;
  if (s.size < s.headerSize + sizeof(ffs::GuidDefinedFields))
    throw Refusal(Location(where, s.offset) + ": GUID-defined section of " + Hex(s.size) +
                  " bytes is shorter than its header");
  s.definitionGuid = Guid::At(buf, fields);
  s.dataOffset = Le16(buf, fields + offsetof(ffs::GuidDefinedFields, dataOffset));
  s.guidedAttributes = Le16(buf, fields + offsetof(ffs::GuidDefinedFields, attributes));
  if (s.dataOffset < s.headerSize + sizeof(ffs::GuidDefinedFields) || s.dataOffset > s.size)
    throw Refusal(Location(where, s.offset) + ": GUID-defined section data offset " +
                  Hex(s.dataOffset) + " lies outside the section");
  const std::size_t data = s.offset + s.dataOffset;
  const std::size_t end = s.offset + s.size;
  if (s.definitionGuid == ffs::kLzmaSectionGuid) {
    s.decodedName = "[LZMA data of the section at " + Location(where, s.offset) + "]";
    s.decoded = std::make_shared<const Bytes>(LzmaDecompress(
        buf.subspan(data, end - data), limits.maxDecompressed, Location(where, s.offset)));
    s.children = ParseSections(*s.decoded, 0, s.decoded->size(), s.decodedName, limits, depth + 1);
  } else if ((s.guidedAttributes & ffs::kGuidedProcessingRequired) == 0) {
    // The data is usable as it stands (an authentication GUID, say).
    s.children = ParseSections(buf, data, end, where, limits, depth + 1);
  } else {
    s.unopened = "encoding " + s.definitionGuid.Text() + " is not one fvtool knows";
  }
}

void OpenCompression(ByteView buf, Section& s, const std::string& where, const ParseLimits& limits,
                     unsigned depth) {
  // UINT32 UncompressedLength, UINT8 CompressionType.
  const std::size_t fields = s.offset + s.headerSize;
  if (s.size < s.headerSize + 5)
    throw Refusal(Location(where, s.offset) + ": compression section shorter than its header");
  const uint8_t kind = buf[fields + 4];
  if (kind == 0)
    s.children = ParseSections(buf, fields + 5, s.offset + s.size, where, limits, depth + 1);
  else
    s.unopened = "compression type " + std::to_string(kind) + " is not one fvtool knows";
}

}  // namespace

std::string Location(const std::string& where, std::size_t offset) {
  return where + " offset " + Hex(offset);
}

std::string Volume::Describe() const {
  return "volume " + (name ? name->Text() : std::string("without a name")) + " (" +
         Location(where, offset) + ")";
}

bool IsVolumeHeader(ByteView buf, std::size_t offset, std::size_t limit) {
  if (limit > buf.size() || offset > limit || limit - offset < sizeof(VolumeHeader)) return false;
  if (Le32(buf, offset + offsetof(VolumeHeader, signature)) != ffs::kVolumeSignature) return false;
  const std::size_t headerLength = Le16(buf, offset + offsetof(VolumeHeader, headerLength));
  const uint64_t length = Le64(buf, offset + offsetof(VolumeHeader, fvLength));
  // The header holds at least the block map's terminating entry.
  if (headerLength < sizeof(VolumeHeader) + 8 || headerLength % 2 != 0) return false;
  if (length < headerLength || length > limit - offset) return false;
  return ffs::VolumeHeaderSum(buf.subspan(offset, headerLength)) == 0;
}

std::vector<Section> ParseSections(ByteView buf, std::size_t begin, std::size_t end,
                                   const std::string& where, const ParseLimits& limits,
                                   unsigned depth) {
  CheckDepth(depth, limits, where, begin);
  std::vector<Section> sections;
  std::size_t p = begin;
  while (true) {
    p = begin + AlignUp(p - begin, ffs::kSectionAlignment);
    if (p >= end || end - p < sizeof(ffs::SectionHeader)) break;
    Section s;
    s.offset = p;
    s.type = buf[p + offsetof(ffs::SectionHeader, type)];
    s.size = Le24(buf, p);
    s.headerSize = sizeof(ffs::SectionHeader);
    if (s.size == ffs::kMaxSize24) {
      if (end - p < 8)
        throw Refusal(Location(where, p) + ": section header runs past its container");
      s.size = Le32(buf, p + 4);
      s.headerSize = 8;
    }
    if (s.size < s.headerSize || s.size > end - p)
      throw Refusal(Location(where, p) + ": section size " + Hex(s.size) +
                    (s.size < s.headerSize ? " is smaller than its header"
                                           : " runs past the end of its container at " + Hex(end)));
    const std::size_t data = p + s.headerSize;
    switch (s.type) {
      case ffs::kSectionUserInterface:
        s.uiName = Utf16Name(buf, data, p + s.size);
        break;
      case ffs::kSectionGuidDefined:
        OpenGuidDefined(buf, s, where, limits, depth);
        break;
      case ffs::kSectionCompression:
        OpenCompression(buf, s, where, limits, depth);
        break;
      case ffs::kSectionDisposable:
        s.children = ParseSections(buf, data, p + s.size, where, limits, depth + 1);
        break;
      case ffs::kSectionVolumeImage:
        if (!IsVolumeHeader(buf, data, p + s.size))
          throw Refusal(Location(where, p) + ": FV_IMAGE section holds no valid volume header");
        s.volumes.push_back(ParseVolume(buf, data, where, limits, depth + 1));
        break;
      default:
        break;
    }
    sections.push_back(std::move(s));
    p += sections.back().size;
  }
  return sections;
}

namespace {

// The first user-interface name among the sections, depth first.
std::string FindUiName(const std::vector<Section>& sections) {
  for (const Section& s : sections)
    if (s.type == ffs::kSectionUserInterface) return s.uiName;
  for (const Section& s : sections) {
    std::string name = FindUiName(s.children);
    if (!name.empty()) return name;
  }
  return {};
}

bool HoldsSections(uint8_t fileType) {
  return fileType >= 0x02 && fileType <= 0x0F;
}

FfsFile ParseFile(ByteView buf, const Volume& v, std::size_t p, const std::string& where,
                  const ParseLimits& limits, unsigned depth) {
  FfsFile f;
  f.offset = p;
  f.name = Guid::At(buf, p);
  f.type = buf[p + offsetof(FileHeader, type)];
  f.attributes = buf[p + offsetof(FileHeader, attributes)];
  f.state = buf[p + offsetof(FileHeader, state)];
  f.size = Le24(buf, p + offsetof(FileHeader, size));
  f.headerSize = sizeof(FileHeader);
  if (v.ffs3 && (f.attributes & ffs::kAttribLargeFile) != 0) {
    f.headerSize = sizeof(ffs::FileHeader2);
    if (v.End() - p < f.headerSize)
      throw Refusal(Location(where, p) + ": file header runs past the end of the " + v.Describe());
    f.size = static_cast<std::size_t>(
        std::min<uint64_t>(Le64(buf, p + offsetof(ffs::FileHeader2, extendedSize)), SIZE_MAX));
  }
  if (f.size < f.headerSize || f.size > v.End() - p)
    throw Refusal(Location(where, p) + ": file " + f.name.Text() + " size " + Hex(f.size) +
                  (f.size < f.headerSize ? " is smaller than its header"
                                         : " runs past the end of the " + v.Describe()));
  const ByteView header = buf.subspan(p, f.headerSize);
  if (ffs::FileHeaderChecksum(header) != buf[p + offsetof(FileHeader, headerChecksum)])
    throw Refusal(Location(where, p) + ": file " + f.name.Text() + " has a wrong header checksum");
  const uint8_t fileChecksum = buf[p + offsetof(FileHeader, fileChecksum)];
  if ((f.attributes & ffs::kAttribChecksum) != 0)
    f.dataChecksumOk =
        static_cast<uint8_t>(Sum8(buf.subspan(p + f.headerSize, f.size - f.headerSize)) +
                             fileChecksum) == 0;
  else
    f.dataChecksumOk = fileChecksum == ffs::kFixedFileChecksum;
  if (HoldsSections(f.type)) {
    f.sections = ParseSections(buf, p + f.headerSize, p + f.size, where, limits, depth + 1);
    f.uiName = FindUiName(f.sections);
  }
  return f;
}

}  // namespace

Volume ParseVolume(ByteView buf, std::size_t offset, const std::string& where,
                   const ParseLimits& limits, unsigned depth) {
  CheckDepth(depth, limits, where, offset);
  Volume v;
  v.where = where;
  v.offset = offset;
  v.length = Le64(buf, offset + offsetof(VolumeHeader, fvLength));
  v.headerLength = Le16(buf, offset + offsetof(VolumeHeader, headerLength));
  v.attributes = Le32(buf, offset + offsetof(VolumeHeader, attributes));
  v.fileSystem = Guid::At(buf, offset + offsetof(VolumeHeader, fileSystemGuid));
  v.ffs3 = v.fileSystem == ffs::kFfs3Guid;
  v.holdsFiles = v.ffs3 || v.fileSystem == ffs::kFfs2Guid;

  // Files start after the header, 8-byte aligned from the volume's start, or
  // after the extended header when that is where a first file would be.
  std::size_t first = AlignUp(v.headerLength, ffs::kFileAlignment);
  const std::size_t ext = Le16(buf, offset + offsetof(VolumeHeader, extHeaderOffset));
  if (ext != 0 && ext <= v.length && v.length - ext >= sizeof(ffs::VolumeExtHeader)) {
    v.name = Guid::At(buf, offset + ext);
    if (ext == first)
      first = AlignUp(ext + Le32(buf, offset + ext + offsetof(ffs::VolumeExtHeader, extHeaderSize)),
                      ffs::kFileAlignment);
  }
  if (!v.holdsFiles) {
    v.freeOffset = v.End();
    return v;
  }
  const uint8_t erase = v.EraseByte();
  std::size_t p = offset + std::min<std::size_t>(first, v.length);
  while (v.End() - p >= sizeof(FileHeader) && !AllBytes(buf, p, p + sizeof(FileHeader), erase)) {
    v.files.push_back(ParseFile(buf, v, p, where, limits, depth));
    p = offset + AlignUp(p - offset + v.files.back().size, ffs::kFileAlignment);
    p = std::min(p, v.End());
  }
  v.freeOffset = p;
  v.freeSize = v.End() - p;
  v.freeErased = AllBytes(buf, p, v.End(), erase);
  return v;
}

FlashImage ParseFlash(ByteView flash, const ParseLimits& limits) {
  FlashImage image;
  static constexpr char kSignature[] = {'_', 'F', 'V', 'H'};
  std::size_t from = offsetof(VolumeHeader, signature);
  while (from + 4 <= flash.size()) {
    const auto hit = std::search(flash.begin() + static_cast<std::ptrdiff_t>(from), flash.end(),
                                 std::begin(kSignature), std::end(kSignature));
    if (hit == flash.end()) break;
    const std::size_t sig = static_cast<std::size_t>(hit - flash.begin());
    const std::size_t offset = sig - offsetof(VolumeHeader, signature);
    if (IsVolumeHeader(flash, offset, flash.size())) {
      image.volumes.push_back(ParseVolume(flash, offset, "flash", limits));
      from = image.volumes.back().End() + offsetof(VolumeHeader, signature);
    } else {
      ++image.skippedCandidates;
      from = sig + 1;
    }
  }
  return image;
}

}  // namespace fvtool

namespace fvtool {

namespace {

void CollectVolumes(const std::vector<Volume>& volumes, std::vector<const Volume*>& out);

void CollectFromSections(const std::vector<Section>& sections, std::vector<const Volume*>& out) {
  for (const Section& s : sections) {
    CollectVolumes(s.volumes, out);
    CollectFromSections(s.children, out);
  }
}

void CollectVolumes(const std::vector<Volume>& volumes, std::vector<const Volume*>& out) {
  for (const Volume& v : volumes) {
    out.push_back(&v);
    for (const FfsFile& f : v.files) CollectFromSections(f.sections, out);
  }
}

void CollectUnopened(const std::vector<Section>& sections, const std::string& where,
                     std::vector<std::string>& out) {
  for (const Section& s : sections) {
    if (!s.unopened.empty()) out.push_back(Location(where, s.offset) + ": " + s.unopened);
    CollectUnopened(s.children, s.decoded ? s.decodedName : where, out);
  }
}

}  // namespace

std::vector<const Volume*> AllVolumes(const FlashImage& image) {
  std::vector<const Volume*> out;
  CollectVolumes(image.volumes, out);
  return out;
}

std::vector<std::string> UnopenedSections(const FlashImage& image) {
  std::vector<std::string> out;
  for (const Volume* v : AllVolumes(image))
    for (const FfsFile& f : v->files) CollectUnopened(f.sections, v->where, out);
  return out;
}

}  // namespace fvtool
