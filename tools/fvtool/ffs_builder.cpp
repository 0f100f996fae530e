#include "tools/fvtool/ffs_builder.h"

#include "tools/fvtool/errors.h"
#include "tools/fvtool/ffs.h"

namespace fvtool {

Bytes BuildSection(uint8_t type, ByteView payload) {
  Bytes s;
  std::size_t size = sizeof(ffs::SectionHeader) + payload.size();
  if (size < ffs::kMaxSize24) {
    AppendLe(s, size, 3);
    s.push_back(type);
  } else {
    size += 4;
    if (size > UINT32_MAX) throw Refusal("a section of " + Hex(size) + " bytes is too large");
    AppendLe(s, ffs::kMaxSize24, 3);
    s.push_back(type);
    AppendLe(s, size, 4);
  }
  s.insert(s.end(), payload.begin(), payload.end());
  return s;
}

Bytes BuildUiSection(const std::string& name) {
  Bytes text;
  for (char c : name) AppendLe(text, static_cast<unsigned char>(c), 2);
  AppendLe(text, 0, 2);
  return BuildSection(ffs::kSectionUserInterface, text);
}

Bytes JoinSections(const std::vector<Bytes>& sections) {
  Bytes body;
  for (const Bytes& s : sections) {
    body.resize(AlignUp(body.size(), ffs::kSectionAlignment), 0);
    body.insert(body.end(), s.begin(), s.end());
  }
  return body;
}

uint8_t CompleteFileState(uint8_t eraseByte) {
  return eraseByte == 0 ? ffs::kStateComplete : static_cast<uint8_t>(~ffs::kStateComplete);
}

Bytes BuildFile(const FileFields& fields, ByteView body, bool largeAllowed) {
  const std::size_t small = sizeof(ffs::FileHeader) + body.size();
  const bool large = small > ffs::kMaxSize24;
  if (large && !largeAllowed)
    throw Refusal("file " + fields.name.Text() + " would be " + Hex(small) +
                  " bytes, more than a file of an FFS2 volume can hold (0xFFFFFF)");
  Bytes f(fields.name.bytes.begin(), fields.name.bytes.end());
  f.push_back(0);  // header checksum, set below
  f.push_back(0);  // file checksum, set below
  f.push_back(fields.type);
  f.push_back(large ? static_cast<uint8_t>(fields.attributes | ffs::kAttribLargeFile)
                    : static_cast<uint8_t>(fields.attributes & ~ffs::kAttribLargeFile));
  AppendLe(f, large ? 0 : small, 3);
  f.push_back(fields.state);
  if (large) AppendLe(f, small + 8, 8);
  const std::size_t headerSize = f.size();
  f[offsetof(ffs::FileHeader, fileChecksum)] = (fields.attributes & ffs::kAttribChecksum) != 0
                                                   ? static_cast<uint8_t>(0 - Sum8(body))
                                                   : ffs::kFixedFileChecksum;
  f[offsetof(ffs::FileHeader, headerChecksum)] =
      ffs::FileHeaderChecksum(ByteView(f.data(), headerSize));
  f.insert(f.end(), body.begin(), body.end());
  return f;
}

}  // namespace fvtool
