#include "tools/fvtool/insert_drivers.h"

#include "tools/fvtool/errors.h"
#include "tools/fvtool/ffs.h"
#include "tools/fvtool/ffs_builder.h"
#include "tools/fvtool/lzma_stream.h"

#include <algorithm>

namespace fvtool {

namespace {

struct Context {
  const std::vector<DriverInsert>& drivers;
  const InsertOptions& options;
  InsertReport& report;
};

bool HasFileType(const Volume& v, uint8_t type) {
  return std::any_of(v.files.begin(), v.files.end(),
                     [type](const FfsFile& f) { return f.type == type; });
}

bool Erased(ByteView buf, std::size_t begin, std::size_t end, uint8_t erase) {
  return std::all_of(buf.begin() + static_cast<std::ptrdiff_t>(begin),
                     buf.begin() + static_cast<std::ptrdiff_t>(end),
                     [erase](uint8_t b) { return b == erase; });
}

void Fill(Bytes& buf, std::size_t begin, std::size_t end, uint8_t value) {
  std::fill(buf.begin() + static_cast<std::ptrdiff_t>(begin),
            buf.begin() + static_cast<std::ptrdiff_t>(end), value);
}

// The new files go one after the other into the free space, each 8-byte
// aligned from the volume's start.
Bytes AppendFiles(ByteView buf, const Volume& v, Context& ctx) {
  if (!v.freeErased)
    throw Refusal("the free space of the " + v.Describe() + " at " +
                  Location(v.where, v.freeOffset) + " is not erased");
  for (const DriverInsert& d : ctx.drivers)
    for (const FfsFile& f : v.files)
      if (f.name == d.fileGuid)
        throw Refusal("file GUID " + d.fileGuid.Text() + " of " + d.source + " is already in the " +
                      v.Describe() + ", at " + Location(v.where, f.offset));

  std::vector<Bytes> files;
  std::size_t p = v.freeOffset;
  std::size_t end = p;
  for (const DriverInsert& d : ctx.drivers) {
    files.push_back(BuildDriverFile(d, v.EraseByte(), v.ffs3));
    ctx.report.files.push_back({&d, p, files.back().size()});
    end = p + files.back().size();
    p = v.offset + AlignUp(end - v.offset, ffs::kFileAlignment);
  }
  if (end > v.End())
    throw Refusal("no room in the " + v.Describe() + ": " + Hex(v.freeSize) + " bytes free at " +
                  Location(v.where, v.freeOffset) + ", the new files need " +
                  Hex(end - v.freeOffset));
  Bytes out(buf.begin(), buf.end());
  for (std::size_t i = 0; i < files.size(); ++i)
    std::copy(files[i].begin(), files[i].end(),
              out.begin() + static_cast<std::ptrdiff_t>(ctx.report.files[i].offset));
  ctx.report.volume = v.Describe();
  ctx.report.freeBefore = v.freeSize;
  ctx.report.freeAfter = v.End() - std::min(p, v.End());
  const bool smm = std::any_of(ctx.drivers.begin(), ctx.drivers.end(),
                               [](const DriverInsert& d) { return d.fileType == ffs::kFileSmm; });
  if (smm && !HasFileType(v, ffs::kFileSmmCore))
    ctx.report.notes.push_back("the " + v.Describe() +
                               " holds no SMM core (file type 0x0D): this firmware never "
                               "dispatches the SMM drivers added to it");
  return out;
}

// Puts the rebuilt file `index` of `v` (new section list `body`) into its room.
Bytes PlaceFile(ByteView buf, const Volume& v, std::size_t index, const Bytes& body, Context& ctx) {
  const FfsFile& f = v.files[index];
  const FileFields fields{f.name, f.type, f.attributes, f.state};
  const bool last = index + 1 == v.files.size();
  const std::size_t roomEnd = last ? v.End() : v.files[index + 1].offset;
  const std::size_t room = roomEnd - f.offset;
  Bytes file = BuildFile(fields, body, v.ffs3);
  if (file.size() > room)
    throw Refusal("no room: file " + f.name.Text() + " at " + Location(v.where, f.offset) +
                  " grows from " + Hex(f.size) + " to " + Hex(file.size()) + " bytes, and only " +
                  Hex(room) + " bytes lie before " +
                  (last ? "the end of the " + v.Describe() : "the next file"));
  if (!last && file.size() + ffs::kFileAlignment <= room) {
    // The next file must stay where it is: a RAW section takes up the rest.
    Bytes padded = body;
    padded.resize(AlignUp(padded.size(), ffs::kSectionAlignment), 0);
    const std::size_t headerSize = file.size() - body.size();
    const std::size_t raw = room - headerSize - padded.size();
    if (raw >= ffs::kMaxSize24)
      throw Refusal("file " + f.name.Text() + " at " + Location(v.where, f.offset) +
                    " would leave " + Hex(raw) + " bytes of its room to fill");
    const Bytes filler = BuildSection(ffs::kSectionRaw, Bytes(raw - sizeof(ffs::SectionHeader), 0));
    padded.insert(padded.end(), filler.begin(), filler.end());
    file = BuildFile(fields, padded, v.ffs3);
  }
  const std::size_t newEnd = f.offset + file.size();
  const uint8_t erase = v.EraseByte();
  if (last && newEnd > v.freeOffset) {
    const std::size_t used =
        std::min(v.End(), v.offset + AlignUp(newEnd - v.offset, ffs::kFileAlignment));
    if (!Erased(buf, v.freeOffset, used, erase))
      throw Refusal("file " + f.name.Text() + " at " + Location(v.where, f.offset) +
                    " grows into free space that is not erased at " +
                    Location(v.where, v.freeOffset));
  }
  Bytes out(buf.begin(), buf.end());
  std::copy(file.begin(), file.end(), out.begin() + static_cast<std::ptrdiff_t>(f.offset));
  // What the file no longer takes of its old room returns to the erased state.
  const std::size_t oldRoomEnd = last ? v.freeOffset : roomEnd;
  if (newEnd < oldRoomEnd) Fill(out, newEnd, oldRoomEnd, erase);
  ctx.report.rewritten.push_back({Location(v.where, f.offset), f.name, f.size, file.size(), room});
  return out;
}

std::optional<Bytes> InsertBelowVolumes(ByteView buf, const std::vector<Volume>& volumes,
                                        Context& ctx);
std::optional<Bytes> InsertBelowSections(ByteView buf, const std::vector<Section>& sections,
                                         std::size_t begin, std::size_t end, Context& ctx,
                                         const std::string& where);

// The new bytes of section `s` when the DXE volume lies inside it.
std::optional<Bytes> InsertBelowSection(ByteView buf, const Section& s, const std::string& where,
                                        Context& ctx) {
  if (!s.volumes.empty()) {
    const auto inner = InsertBelowVolumes(buf, s.volumes, ctx);
    if (!inner) return std::nullopt;
    return Bytes(inner->begin() + static_cast<std::ptrdiff_t>(s.offset),
                 inner->begin() + static_cast<std::ptrdiff_t>(s.offset + s.size));
  }
  if (s.decoded) {
    const auto inner =
        InsertBelowSections(*s.decoded, s.children, 0, s.decoded->size(), ctx, s.decodedName);
    if (!inner) return std::nullopt;
    const std::size_t fields = s.offset + s.headerSize;
    const std::size_t extraBegin = fields + sizeof(ffs::GuidDefinedFields);
    const ByteView extra = buf.subspan(extraBegin, s.offset + s.dataOffset - extraBegin);
    const ByteView oldStream = buf.subspan(s.offset + s.dataOffset, s.size - s.dataOffset);
    const Bytes stream = LzmaCompress(*inner, ReadLzmaHeader(oldStream), ctx.options.lzmaLevel);
    const std::size_t rest = sizeof(ffs::GuidDefinedFields) + extra.size() + stream.size();
    const std::size_t headerSize =
        sizeof(ffs::SectionHeader) + rest < ffs::kMaxSize24 ? sizeof(ffs::SectionHeader) : 8;
    Bytes payload(buf.begin() + static_cast<std::ptrdiff_t>(fields),
                  buf.begin() + static_cast<std::ptrdiff_t>(fields + 16));
    AppendLe(payload, headerSize + sizeof(ffs::GuidDefinedFields) + extra.size(), 2);
    AppendLe(payload, s.guidedAttributes, 2);
    payload.insert(payload.end(), extra.begin(), extra.end());
    payload.insert(payload.end(), stream.begin(), stream.end());
    ctx.report.notes.push_back("LZMA section at " + Location(where, s.offset) + ": " +
                               Hex(oldStream.size()) + " -> " + Hex(stream.size()) +
                               " compressed bytes (" + Hex(inner->size()) + " decompressed)");
    return BuildSection(ffs::kSectionGuidDefined, payload);
  }
  if (s.children.empty()) return std::nullopt;
  std::size_t data = s.offset + s.headerSize;
  if (s.type == ffs::kSectionGuidDefined) data = s.offset + s.dataOffset;
  if (s.type == ffs::kSectionCompression) data += 5;
  const auto inner = InsertBelowSections(buf, s.children, data, s.offset + s.size, ctx, where);
  if (!inner) return std::nullopt;
  if (s.type == ffs::kSectionGuidDefined)
    throw Refusal("the DXE volume lies in the GUID-defined section at " +
                  Location(where, s.offset) + " (" + s.definitionGuid.Text() +
                  "), whose encoding fvtool cannot rebuild");
  Bytes payload;
  if (s.type == ffs::kSectionCompression) {
    AppendLe(payload, inner->size(), 4);
    payload.push_back(0);  // not compressed
  }
  payload.insert(payload.end(), inner->begin(), inner->end());
  return BuildSection(s.type, payload);
}

// The new bytes of the section list [begin, end) when the DXE volume lies in it.
std::optional<Bytes> InsertBelowSections(ByteView buf, const std::vector<Section>& sections,
                                         std::size_t begin, std::size_t end, Context& ctx,
                                         const std::string& where) {
  for (std::size_t i = 0; i < sections.size(); ++i) {
    const Section& s = sections[i];
    const auto changed = InsertBelowSection(buf, s, where, ctx);
    if (!changed) continue;
    if (changed->size() == s.size) {
      Bytes out(buf.begin() + static_cast<std::ptrdiff_t>(begin),
                buf.begin() + static_cast<std::ptrdiff_t>(end));
      std::copy(changed->begin(), changed->end(),
                out.begin() + static_cast<std::ptrdiff_t>(s.offset - begin));
      return out;
    }
    // The sections after it follow it, each 4-byte aligned again.
    Bytes out(buf.begin() + static_cast<std::ptrdiff_t>(begin),
              buf.begin() + static_cast<std::ptrdiff_t>(s.offset));
    out.insert(out.end(), changed->begin(), changed->end());
    for (std::size_t j = i + 1; j < sections.size(); ++j) {
      out.resize(AlignUp(out.size(), ffs::kSectionAlignment), 0);
      const Section& n = sections[j];
      out.insert(out.end(), buf.begin() + static_cast<std::ptrdiff_t>(n.offset),
                 buf.begin() + static_cast<std::ptrdiff_t>(n.offset + n.size));
    }
    return out;
  }
  return std::nullopt;
}

std::optional<Bytes> InsertBelowVolumes(ByteView buf, const std::vector<Volume>& volumes,
                                        Context& ctx) {
  for (const Volume& v : volumes) {
    if (HasFileType(v, ffs::kFileDxeCore)) return AppendFiles(buf, v, ctx);
    for (std::size_t i = 0; i < v.files.size(); ++i) {
      const FfsFile& f = v.files[i];
      const auto body = InsertBelowSections(buf, f.sections, f.offset + f.headerSize,
                                            f.offset + f.size, ctx, v.where);
      if (body) return PlaceFile(buf, v, i, *body, ctx);
    }
  }
  return std::nullopt;
}

}  // namespace

uint8_t DepexSectionType(uint8_t fileType) {
  return fileType == ffs::kFileSmm ? ffs::kSectionSmmDepex : ffs::kSectionDxeDepex;
}

Bytes BuildDriverFile(const DriverInsert& driver, uint8_t eraseByte, bool largeAllowed) {
  std::vector<Bytes> sections;
  if (driver.depex)
    sections.push_back(BuildSection(DepexSectionType(driver.fileType), *driver.depex));
  sections.push_back(BuildSection(ffs::kSectionPe32, driver.image));
  if (!driver.uiName.empty()) sections.push_back(BuildUiSection(driver.uiName));
  const FileFields fields{driver.fileGuid, driver.fileType, 0, CompleteFileState(eraseByte)};
  return BuildFile(fields, JoinSections(sections), largeAllowed);
}

Bytes InsertDrivers(ByteView flash, const std::vector<DriverInsert>& drivers,
                    const InsertOptions& options, InsertReport* report) {
  for (std::size_t i = 0; i < drivers.size(); ++i)
    for (std::size_t j = 0; j < i; ++j)
      if (drivers[i].fileGuid == drivers[j].fileGuid)
        throw Refusal(drivers[i].source + " and " + drivers[j].source +
                      " have the same file GUID " + drivers[i].fileGuid.Text());
  const FlashImage image = ParseFlash(flash, options.limits);
  if (image.volumes.empty())
    throw Refusal(
        "not a firmware image: no volume header (\"_FVH\" with a valid checksum) in its " +
        Hex(flash.size()) + " bytes");
  InsertReport local;
  Context ctx{drivers, options, report != nullptr ? *report : local};
  std::optional<Bytes> out = InsertBelowVolumes(flash, image.volumes, ctx);
  if (!out) {
    std::string why = "no DXE volume (a volume holding the DXE core, file type 0x05) in the image";
    const auto unopened = UnopenedSections(image);
    if (!unopened.empty()) {
      why += "; unknown compression, not opened:";
      for (const std::string& u : unopened) why += " " + u + ";";
      why.pop_back();
    }
    throw Refusal(why);
  }
  // The result must read back: every volume and section parses, and the new
  // files are where they were put, with valid checksums.
  const FlashImage check = ParseFlash(*out, options.limits);
  for (const DriverInsert& d : drivers) {
    bool found = false;
    for (const Volume* v : AllVolumes(check))
      for (const FfsFile& f : v->files)
        found = found || (f.name == d.fileGuid && f.type == d.fileType && f.dataChecksumOk);
    if (!found)
      throw Refusal("internal check failed: " + d.fileGuid.Text() + " is not in the new image");
  }
  return std::move(*out);
}

}  // namespace fvtool
