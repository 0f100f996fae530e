// Inserting drivers into synthetic images: the new files' bytes, the rebuilt
// FV_IMAGE file (size, checksum, section size, LZMA header), the padding of
// its old room, and every other byte left alone.
#include "synthetic_image.h"
#include "tools/fvtool/errors.h"
#include "tools/fvtool/guid.h"
#include "tools/fvtool/insert_drivers.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace {

using fvtest::Bytes;
using fvtest::Get;

fvtool::DriverInsert Driver(uint8_t tag, bool smm, std::optional<Bytes> depex, std::string ui,
                            std::size_t imageBytes = 0x400) {
  fvtool::DriverInsert d;
  d.source = "driver" + std::to_string(tag) + ".efi";
  d.fileType = smm ? 0x0A : 0x07;
  d.fileGuid = fvtool::Guid::At(fvtest::G(tag), 0);
  d.uiName = std::move(ui);
  d.image = fvtest::Pe32Plus(fvtest::Random(imageBytes, tag));
  d.depex = std::move(depex);
  return d;
}

Bytes Utf16z(const std::string& s) {
  Bytes b;
  for (char c : s) b.insert(b.end(), {static_cast<uint8_t>(c), 0});
  b.insert(b.end(), {0, 0});
  return b;
}

// The file a driver must become, from the layout rules: depex, PE32, UI.
Bytes ExpectedFile(const fvtool::DriverInsert& d) {
  Bytes body;
  auto add = [&body](const Bytes& s) {
    while (body.size() % 4 != 0) body.push_back(0);
    fvtest::Append(body, s);
  };
  if (d.depex) add(fvtest::Section(d.fileType == 0x0A ? 0x1C : 0x13, *d.depex));
  add(fvtest::Section(0x10, d.image));
  if (!d.uiName.empty()) add(fvtest::Section(0x15, Utf16z(d.uiName)));
  return fvtest::File(Bytes(d.fileGuid.bytes.begin(), d.fileGuid.bytes.end()), d.fileType, body);
}

// Offset after the files of a synthetic volume (0x48-byte header, 8-aligned).
std::size_t FreeOffset(const Bytes& volume) {
  std::size_t p = 0x48;
  while (p + 24 <= volume.size() && Get(volume, p, 8) != ~0ull)
    p = (p + Get(volume, p + 20, 3) + 7) / 8 * 8;
  return p;
}

void ExpectSame(const Bytes& a, const Bytes& b, std::size_t begin, std::size_t end,
                const char* what) {
  ASSERT_LE(end, std::min(a.size(), b.size())) << what;
  EXPECT_TRUE(std::equal(a.begin() + begin, a.begin() + end, b.begin() + begin))
      << what << " differs in [" << begin << ", " << end << ")";
}

Bytes Decompress(const Bytes& stream) {
  lzma_stream s = LZMA_STREAM_INIT;
  EXPECT_EQ(lzma_alone_decoder(&s, UINT64_MAX), LZMA_OK);
  Bytes out(Get(stream, 5, 8));
  s.next_in = stream.data();
  s.avail_in = stream.size();
  s.next_out = out.data();
  s.avail_out = out.size();
  const lzma_ret ret = lzma_code(&s, LZMA_FINISH);
  EXPECT_TRUE(ret == LZMA_STREAM_END || (ret == LZMA_OK && s.avail_out == 0)) << ret;
  EXPECT_EQ(s.total_out, out.size());
  lzma_end(&s);
  return out;
}

struct DriverCase {
  const char* name;
  fvtool::DriverInsert driver;
};

TEST(FvtoolInsert, UncompressedDxeVolumeGetsEachKindOfDriverFile) {
  const DriverCase cases[] = {
      {"DXE driver with depex and UI", Driver(0x11, false, Bytes{0x06, 0x08}, "AddrTranslateDxe")},
      {"SMM driver with depex and UI", Driver(0x12, true, Bytes{0x07, 0x08}, "MemTuneSmm")},
      {"no depex, odd-length UI", Driver(0x13, false, std::nullopt, "Odd")},
      {"no UI, odd-length image", Driver(0x14, true, Bytes{0x06, 0x08}, "", 0x3FD)},
  };
  const Bytes volume = fvtest::DxeVolume(0x4000);
  Bytes flash = fvtest::Random(0x100, 9);
  fvtest::Append(flash, volume);
  fvtest::Append(flash, fvtest::Random(0x80, 10));
  const std::size_t at = 0x100 + FreeOffset(volume);
  for (const DriverCase& c : cases) {
    SCOPED_TRACE(c.name);
    fvtool::InsertReport report;
    const Bytes out = fvtool::InsertDrivers(flash, {c.driver}, {}, &report);
    const Bytes expected = ExpectedFile(c.driver);
    ASSERT_EQ(out.size(), flash.size());
    EXPECT_EQ(at % 8, 0u);
    EXPECT_TRUE(std::equal(expected.begin(), expected.end(), out.begin() + at));
    ExpectSame(flash, out, 0, at, "before the new file");
    ExpectSame(flash, out, at + expected.size(), flash.size(), "after the new file");
    EXPECT_EQ(report.freeBefore, volume.size() - (at - 0x100));
    EXPECT_TRUE(report.rewritten.empty());
  }
}

TEST(FvtoolInsert, SeveralDriversFollowEachOther8ByteAligned) {
  const Bytes volume = fvtest::DxeVolume(0x4000);
  const auto a = Driver(0x21, false, Bytes{0x06, 0x08}, "A", 0x101);
  const auto b = Driver(0x22, true, Bytes{0x06, 0x08}, "B");
  const Bytes out = fvtool::InsertDrivers(volume, {a, b}, {});
  const Bytes fa = ExpectedFile(a), fb = ExpectedFile(b);
  const std::size_t first = FreeOffset(volume);
  const std::size_t second = (first + fa.size() + 7) / 8 * 8;
  EXPECT_TRUE(std::equal(fa.begin(), fa.end(), out.begin() + first));
  EXPECT_TRUE(std::all_of(out.begin() + first + fa.size(), out.begin() + second,
                          [](uint8_t x) { return x == 0xFF; }));
  EXPECT_TRUE(std::equal(fb.begin(), fb.end(), out.begin() + second));
  ExpectSame(volume, out, second + fb.size(), volume.size(), "free space after");
}

// An OVMF-like image: a volume holding one FV_IMAGE file whose LZMA section
// holds a RAW section and the DXE volume; optionally a file after it; then a
// second top-level volume.
struct Compressed {
  Bytes flash, inner;
  std::size_t fileAt = 0x48, outerEnd = 0, nextFileAt = 0;
};

Compressed MakeCompressed(std::size_t slack, bool fileAfter) {
  Compressed c;
  c.inner = fvtest::Sections(
      {fvtest::Section(0x19, Bytes(0x20, 0)), fvtest::Section(0x17, fvtest::DxeVolume(0x8000))});
  const Bytes fvFile = fvtest::File(fvtest::G(0x70), 0x0B, fvtest::LzmaSection(c.inner, slack));
  const Bytes after = fvtest::File(fvtest::G(0x71), 0x02, fvtest::Section(0x19, Bytes(0x40, 0x5A)));
  const Bytes outer =
      fileAfter ? fvtest::Volume(0x10000, {fvFile, after}) : fvtest::Volume(0x10000, {fvFile});
  c.nextFileAt = (c.fileAt + fvFile.size() + 7) / 8 * 8;
  c.outerEnd = outer.size();
  c.flash = outer;
  fvtest::Append(c.flash,
                 fvtest::Volume(0x1000, {fvtest::File(fvtest::G(0x72), 0x03,
                                                      fvtest::Section(0x10, Bytes(0x100, 0xCC)))}));
  return c;
}

struct RoomCase {
  const char* name;
  std::size_t slack;  // unused bytes in the old section: the new file is smaller
  bool fileAfter;
  bool grows;
};

TEST(FvtoolInsert, CompressedDxeVolumeRebuildsItsFileInItsRoom) {
  const RoomCase cases[] = {
      {"last file grows into free space", 0, false, true},
      {"last file shrinks, rest of its room erased", 0x2000, false, false},
      {"file with a file after it shrinks and keeps its room", 0x2000, true, false}};
  for (const RoomCase& rc : cases) {
    SCOPED_TRACE(rc.name);
    const Compressed c = MakeCompressed(rc.slack, rc.fileAfter);
    const auto driver = Driver(0x31, true, Bytes{0x06, 0x08}, "MemTuneSmm");
    const Bytes out = fvtool::InsertDrivers(c.flash, {driver}, {});
    ASSERT_EQ(out.size(), c.flash.size());

    const std::size_t oldSize = Get(c.flash, c.fileAt + 20, 3);
    const std::size_t newSize = Get(out, c.fileAt + 20, 3);
    EXPECT_EQ((newSize + 7) / 8 > (oldSize + 7) / 8, rc.grows) << oldSize << " -> " << newSize;
    uint8_t sum = 0;
    for (int i = 0; i < 24; ++i)
      sum = static_cast<uint8_t>(sum + (i == 17 || i == 23 ? 0 : out[c.fileAt + i]));
    EXPECT_EQ(sum, 0) << "header checksum";
    EXPECT_EQ(out[c.fileAt + 17], 0xAA);
    EXPECT_EQ(out[c.fileAt + 23], 0xF8);

    // The GUID-defined section: its size, GUID, data offset, LZMA header.
    const std::size_t sec = c.fileAt + 24;
    const std::size_t secSize = Get(out, sec, 3);
    EXPECT_EQ(out[sec + 3], 0x02);
    EXPECT_TRUE(
        std::equal(out.begin() + sec + 4, out.begin() + sec + 20, fvtest::LzmaGuid().begin()));
    EXPECT_EQ(Get(out, sec + 20, 2), 24u);
    EXPECT_EQ(out[sec + 24], 0x5D);
    EXPECT_EQ(Get(out, sec + 25, 4), 1u << 20) << "dictionary size kept";
    EXPECT_EQ(Get(out, sec + 29, 8), c.inner.size());
    if (rc.fileAfter) {
      EXPECT_EQ(c.fileAt + newSize, c.nextFileAt) << "the file fills its room; the next one stays";
      const std::size_t filler = (sec + secSize + 3) / 4 * 4;
      EXPECT_EQ(out[filler + 3], 0x19) << "RAW section fills the rest";
      EXPECT_EQ(filler + Get(out, filler, 3), c.fileAt + newSize);
    } else {
      EXPECT_EQ(secSize, newSize - 24) << "section size matches the file";
    }

    // The new DXE volume: the old one plus the driver in its free space.
    const Bytes stream(out.begin() + sec + 24, out.begin() + sec + secSize);
    const Bytes inner = Decompress(stream);
    ASSERT_EQ(inner.size(), c.inner.size());
    const std::size_t dxe = 0x24 + 4;  // RAW section (0x24), then the FV section header
    const std::size_t at = dxe + FreeOffset(fvtest::DxeVolume(0x8000));
    const Bytes file = ExpectedFile(driver);
    EXPECT_TRUE(std::equal(file.begin(), file.end(), inner.begin() + at));
    ExpectSame(c.inner, inner, 0, at, "decompressed data before the new file");
    ExpectSame(c.inner, inner, at + file.size(), inner.size(), "decompressed data after it");

    // Everything outside the file's room is untouched; inside it, after the
    // file, only erased bytes (or the next file, unchanged).
    ExpectSame(c.flash, out, 0, c.fileAt, "before the file");
    const std::size_t roomEnd = rc.fileAfter ? c.nextFileAt : c.outerEnd;
    EXPECT_TRUE(std::all_of(out.begin() + c.fileAt + newSize, out.begin() + roomEnd, [](uint8_t x) {
      return x == 0xFF;
    })) << "the rest of the room is erased";
    ExpectSame(c.flash, out, roomEnd, c.flash.size(), "after the room");
  }
}

struct RefusalCase {
  const char* name;
  Bytes flash;
  std::vector<fvtool::DriverInsert> drivers;
  const char* message;
};

// A volume holding one FV_IMAGE file whose LZMA section carries the first
// `streamBytes` bytes of a 13-byte LZMA header (properties, 1 MiB dictionary,
// 0x20 bytes decompressed) and nothing after it.
Bytes LzmaHeaderOnly(std::size_t streamBytes) {
  Bytes payload = fvtest::LzmaGuid();
  payload.resize(20, 0);
  fvtest::Put(payload, 16, 24, 2);
  fvtest::Put(payload, 18, 1, 2);  // processing required
  const Bytes header = {0x5D, 0x00, 0x00, 0x10, 0x00, 0x20, 0, 0, 0, 0, 0, 0, 0};
  payload.insert(payload.end(), header.begin(), header.begin() + streamBytes);
  return fvtest::Volume(0x1000,
                        {fvtest::File(fvtest::G(0x70), 0x0B, fvtest::Section(0x02, payload))});
}

// The compressed DXE volume's file grows into the outer volume's free space
// and ends 1 to 4 bytes past an 8-byte boundary, so that the file alignment
// (8) and the section alignment (4) of its new end differ: the file takes the
// room up to the next 8-byte boundary. Returns the driver and the new end.
std::pair<fvtool::DriverInsert, std::size_t> DriverEndingOffFileAlignment(const Bytes& flash) {
  for (std::size_t bytes = 0x400; bytes < 0x440; ++bytes) {
    auto d = Driver(0x41, false, Bytes{0x06, 0x08}, "D", bytes);
    const Bytes out = fvtool::InsertDrivers(flash, {d}, {});
    const std::size_t end = 0x48 + Get(out, 0x48 + 20, 3);
    if (end % 8 >= 1 && end % 8 <= 4) return {d, end};
  }
  ADD_FAILURE() << "no driver size gives a file end off the 8-byte alignment";
  return {Driver(0x41, false, Bytes{0x06, 0x08}, "D"), 0};
}

TEST(FvtoolInsert, RefusesWhatItCannotDoAndSaysWhere) {
  Bytes notErased = fvtest::DxeVolume(0x2000);
  notErased[0x1F00] = 0;
  const Bytes grows = MakeCompressed(0, false).flash;
  const auto [grower, grownEnd] = DriverEndingOffFileAlignment(grows);
  const std::size_t grownRoom = (grownEnd + 7) / 8 * 8;
  Bytes dirty = grows;
  dirty[grownRoom - 1] = 0;  // past the 4-byte, before the 8-byte boundary
  const Bytes unknownGuid = [] {
    Bytes payload = fvtest::G(0x99);
    payload.resize(20, 0);
    fvtest::Put(payload, 16, 24, 2);
    fvtest::Put(payload, 18, 1, 2);  // processing required
    fvtest::Append(payload, fvtest::Random(0x200, 3));
    return fvtest::Volume(0x1000,
                          {fvtest::File(fvtest::G(0x70), 0x0B, fvtest::Section(0x02, payload))});
  }();
  const auto d = Driver(0x41, false, Bytes{0x06, 0x08}, "D");
  auto dupe = Driver(0x60, false, Bytes{0x06, 0x08}, "Dupe");  // G(0x60) is in DxeVolume
  const RefusalCase cases[] = {
      {"not a volume", fvtest::Random(0x1000, 4), {d}, "not a firmware image"},
      {"no DXE volume",
       fvtest::Volume(0x1000,
                      {fvtest::File(fvtest::G(1), 0x07, fvtest::Section(0x19, Bytes(4, 0)))}),
       {d},
       "no DXE volume"},
      {"unknown compression", unknownGuid, {d}, "unknown compression"},
      {"no room in the DXE volume", fvtest::DxeVolume(0xA00), {d}, "no room in the volume"},
      {"free space not erased", notErased, {d}, "is not erased"},
      {"GUID already in the volume", fvtest::DxeVolume(0x2000), {dupe}, "is already in the volume"},
      {"two drivers, one GUID", fvtest::DxeVolume(0x2000), {d, d}, "have the same file GUID"},
      {"file with a file after it grows", MakeCompressed(0, true).flash, {d}, "no room: file"},
      {"compressed: grows up to a byte not erased before its 8-byte end",
       dirty,
       {grower},
       "grows into free space that is not erased"},
      {"LZMA data shorter than its header",
       LzmaHeaderOnly(12),
       {d},
       "LZMA data of 12 bytes is shorter than its 13-byte header"},
      {"LZMA data exactly its header",
       LzmaHeaderOnly(13),
       {d},
       "LZMA data is corrupt or truncated"},
  };
  for (const RefusalCase& c : cases) {
    SCOPED_TRACE(c.name);
    try {
      fvtool::InsertDrivers(c.flash, c.drivers, {});
      ADD_FAILURE() << "not refused";
    } catch (const fvtool::Refusal& e) {
      EXPECT_NE(std::string(e.what()).find(c.message), std::string::npos) << e.what();
    }
  }
}

}  // namespace
